// The program-file reader: modes, commands, values, comments, limits, the end
// of the file, whole tables, random input, and the reading of all sixteen
// files at start and on a reload.
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "config/program_reader.h"
#include "state/program_tables.h"
#include "program_file.h"
#include "sim_fixture.h"

namespace {

constexpr int32_t P = kChannelPlaceholder;
using Programs = std::map<int, std::vector<int32_t>>;  // program -> entries, the filled ones
using Triggers = std::map<int, int>;                   // trigger -> program, the assigned ones

Programs programs(int table) {
  Programs out;
  for (int p = 0; p < kProgramCount; p++) {
    if (programLength[table][p] != 0) out[p].assign(programData[table][p], programData[table][p] + programLength[table][p]);
  }
  return out;
}

Triggers triggers(int table) {
  Triggers out;
  for (int k = 0; k < kTriggerCount; k++) {
    if (keyProgram[table][k] != 0) out[k] = keyProgram[table][k];
  }
  return out;
}

// Triggers from..to (either order) on one program, for each {from, to, program}.
Triggers spans(std::initializer_list<std::array<int, 3>> list) {
  Triggers out;
  for (const auto& [from, to, program] : list) {
    for (int k = std::min(from, to); k <= std::max(from, to); k++) out[k] = program;
  }
  return out;
}

std::vector<int32_t> entries(int table, int program) { return programs(table)[program]; }

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

class ProgramReader : public SimTest {
 protected:
  // Writes bytes as a file and reads it into table by its narrow name.
  int read(const std::string& bytes, int table = 0) {
    const std::string name = "t" + std::to_string(files++) + ".ini";
    writeHostFile(name, bytes);
    return readProgramTable(simFile(name).c_str(), nullptr, table, 0);
  }
  int files = 0;
};

// Each file read into table 0 (which it empties first): the programs and
// triggers it leaves there.
TEST_F(ProgramReader, ModesCommandsValuesCommentsAndTheEndOfTheFile) {
  struct Case {
    int codePage;
    const char* text;
    Programs programs;
    Triggers triggers;
  } cases[] = {
      // Modes: every short form, either case, holding across programs.
      {0, "/PGM16\r\n144 60 127\r\n", {{16, {144, 60, 127}}}, {}},
      {0, "/HEX\n/PGM10\n90 3C 7F\n", {{16, {0x90, 0x3C, 0x7F}}}, {}},
      {0, "/H /PGM11 a -he /PGM12 B /hEx /PGM13 c 1 /d /PGM14 15 -De /PGM15 16 /DEC /PGM16 17 18",
       {{0x11, {0xA}}, {0x12, {0xB}}, {0x13, {0xC, 1}}, {14, {15}}, {15, {16}}, {16, {17, 18}}}, {}},
      // /D then X: DEC mode, the X is unread text; /HE then A: HEX mode, A a value.
      {0, "/HEX /DX /PGM10 A 12\n/HEA /PGM1 A", {{10, {12, 0xA}}, {1, {0xA}}}, {}},
      // /PGM: values before any, and after "/PGM 5" (program 0), are dropped;
      // a second definition replaces the first; refused numbers, broken
      // keywords and a number that does not scan leave the program open.
      {0, "1 2 3\n/PGM 5 6 7\n", {}, {}},
      {0, "/PGM5 1 2\n/PGM6 3\n/pgm5 4\n", {{5, {4}}, {6, {3}}}, {}},
      {0, "/PGM7 1 /PGM512 2 /PGM-1 3 /PGM123456 4 /PX 5 /PGX 6 /PGM511 9", {{7, {1, 2, 3, 4, 5, 6}}, {511, {9}}}, {}},
      // /SETKEY: forms, ranges either way round, HEX, refusals, later programs.
      {0, "/SETKEY60:PGM5\n/SETKEY61=6\n/SETKEY62PGM7\n-setkey63:pgm8\n/SETKEY64:P9\n"
          "/SETKEY70-80:PGM3\n/SETKEY90~85=4\n/SETKEY1023:511\n/SETKEY0:1\n",
       {}, spans({{60, 60, 5}, {61, 61, 6}, {62, 62, 7}, {63, 63, 8}, {64, 64, 9}, {70, 80, 3}, {85, 90, 4},
                  {1023, 1023, 511}, {0, 0, 1}})},
      {0, "/SETKEY70-60:PGM3\n/HEX /SETKEY3C~3A:PGM10\n", {}, spans({{61, 70, 3}, {58, 60, 16}})},
      {0, "/SETKEY1024:1\n/SETKEY60-1024:1\n/SETKEY60:512\n/SETKEY-1:2\n/SETKY60:5\n/SETKEX60:5\n", {}, {}},
      {0, "/SETKEY60:7\n/SETKEY61:8\n/PGM7 1\n", {{7, {1}}}, {{60, 7}, {61, 8}}},
      // /SETKEY closes the program once past /SET; broken before it, the program stays open.
      {0, "/PGM5 1 /SETKEY60:5 2 3\n", {{5, {1}}}, {{60, 5}}},
      {0, "/PGM5 1 /SETX 2\n/PGM6 1 /SETKX 2\n/PGM7 1 /SETKEY2000 2\n", {{5, {1}}, {6, {1}}, {7, {1}}}, {}},
      {0, "/PGM5 1 /SX 2 /SE 3\n", {{5, {1, 2, 3}}}, {}},
      // Values; in HEX a letter N or M is the channel placeholder, digits after it go on the value.
      {0, "/PGM1 0 255 99999 123456 7 1234567 12A3\n", {{1, {0, 255, 99999, 7, 7, 12, 3}}}, {}},
      {0, "/HEX /PGM1 9N 9n Bm CM 90N 90N5 ff FFFFF 1234567 12345N N 5\n",
       {{1, {P + 0x90, P + 0x90, P + 0xB0, P + 0xC0, P, P, 5, 0xFF, 0xFFFFF, 0x123456, 7, 0x123450, 5}}}, {}},
      {0, "/HEX /PGM1 9NA5", {{1, {P + 0xA0}}}, {}},  // the status is bits 4 to 7 of 0x90A5
      // Comments and white space.
      {0, "/PGM1\n' 1\n# 2\r3 // 4\n-/ 5\n-- 6\n/- 7\n8,9\t10\x1a" "11 12\x81\x40" "13\x81" "14 \x82 15 ; 16\n",
       {{1, {3, 8, 9, 10, 11, 12, 13, 14, 15, 16}}}, {}},
      {0, "/PGM1 /* 1 2\n */ 3 -* 4 */ 5 /*/ 6 /* ** / */ 7 /***/ 8\n", {{1, {3, 5, 6, 7, 8}}}, {}},
      {932, "/PGM1 /* \x81*/ 1 */ 2\n", {{1, {2}}}, {}},  // the lead byte 0x81 takes the "*" with it
      {0, "/PGM1 /* \x81*/ 1 */ 2\n", {{1, {1, 2}}}, {}},
      {932, "/PGM1 5 /* 6 7\n/SETKEY1:1\n", {{1, {5}}}, {}},  // a comment the file ends in
      {932, "/PGM1 5 /* \x81", {{1, {5}}}, {}},
      // The end of the file completes what stands before it; only too many digits still fail.
      {0, "/PGM1 1 2 3", {{1, {1, 2, 3}}}, {}},
      {0, "/HEX /PGM1 7F", {{1, {0x7F}}}, {}},
      {0, "/HEX /PGM1 9N", {{1, {P + 0x90}}}, {}},
      {0, "/PGM12 5 6 /PGM12", {}, {}},
      {0, "/SETKEY60:5", {}, {{60, 5}}},
      {0, "/HEX /SETKEY3C-3E:1F", {}, spans({{60, 62, 0x1F}})},
      {0, "/PGM1 123456", {}, {}},
      // A UTF-8 byte-order mark at the very start is skipped.
      {0, "\xEF\xBB\xBF/HEX /PGM1 90 3C 7F", {{1, {0x90, 0x3C, 0x7F}}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
    simSetCodePage(c.codePage);
    ASSERT_EQ(read(c.text), 0);
    EXPECT_EQ(programs(0), c.programs);
    EXPECT_EQ(triggers(0), c.triggers);
  }
}

TEST_F(ProgramReader, ProgramHoldsAtMost255Entries) {
  std::string file = "/PGM1\n";
  for (int i = 0; i < 256; i++) file += std::to_string(i) + " ";
  programData[0][1][255] = 0x5A5A;
  ASSERT_EQ(read(file + "\n/PGM2 9\n"), 0);
  ASSERT_EQ(programLength[0][1], 255);
  for (int i = 0; i < 255; i++) EXPECT_EQ(programData[0][1][i], i);
  EXPECT_EQ(programData[0][1][255], 0x5A5A);
  EXPECT_EQ(entries(0, 2), (std::vector<int32_t>{9}));
}

// ---------------------------------------------------------------------------
// Opening, emptying, the wide name.

TEST_F(ProgramReader, TableChangesOnlyWhenItsFileOpens) {
  ASSERT_EQ(read("/PGM5 1 2\n/SETKEY60:5\n", 2), 0);
  ASSERT_EQ(read("/PGM3 3\n", 1), 0);

  EXPECT_EQ(readProgramTable(simFile("missing.ini").c_str(), nullptr, 2, 0), 1);
  simFailFileOpens(1);
  writeHostFile("there.ini", "/PGM9 9\n");
  EXPECT_EQ(readProgramTable(simFile("there.ini").c_str(), nullptr, 2, 0), 1);
  EXPECT_EQ(programs(2), (Programs{{5, {1, 2}}}));
  EXPECT_EQ(triggers(2), (Triggers{{60, 5}}));

  // A file that opens empties the table first, an empty file included.
  ASSERT_EQ(read("/PGM6 3\n", 2), 0);
  EXPECT_EQ(programs(2), (Programs{{6, {3}}}));
  EXPECT_EQ(triggers(2), Triggers());
  ASSERT_EQ(read("", 2), 0);
  EXPECT_EQ(programs(2), Programs());
  EXPECT_EQ(programs(1), (Programs{{3, {3}}})) << "other tables keep their contents";
}

TEST_F(ProgramReader, WideNameWhenAsked) {
  writeHostFile("w.ini", "/PGM4 44\n");
  const std::u16string name = wide(simFile("w.ini"));
  EXPECT_EQ(readProgramTable(simFile("no.ini").c_str(), name.c_str(), 3, 1), 0);
  EXPECT_EQ(programs(3), (Programs{{4, {44}}}));
  EXPECT_EQ(readProgramTable(simFile("w.ini").c_str(), u"\\nowhere\\w.ini", 3, 1), 1);
}

TEST_F(ProgramReader, FullTableReadsCompletely) {
  ASSERT_EQ(read(fullProgramFile(), 15), 0);
  for (int p = 1; p < kProgramCount; p++) {
    ASSERT_EQ(programLength[15][p], kProgramMaxLength) << p;
    for (int i = 0; i < kProgramMaxLength; i++) ASSERT_EQ(programData[15][p][i], fullProgramValue(p, i)) << p << " " << i;
  }
  EXPECT_EQ(programLength[15][0], 0);
  for (int k = 0; k < kTriggerCount; k++) ASSERT_EQ(keyProgram[15][k], k % 511 + 1) << k;
  EXPECT_EQ(programs(14), Programs());
}

// ---------------------------------------------------------------------------
// All sixteen files: at start (narrow, then wide) and on a reload.

TEST_F(ProgramReader, StartupReadsAllFilesAndReloadReadsThemAgain) {
  std::snprintf(programDir, kPathSize, "%s", simDir().c_str());
  const std::u16string dirW = wide(simDir());
  for (size_t i = 0; i <= dirW.size(); i++) programDirW[i] = dirW.c_str()[i];

  writeHostFile("progrm01.ini", "/PGM1 1\n");
  writeHostFile("progrm16.ini", "/PGM2 2\n/SETKEY1:2");
  keyProgram[5][3] = 7;  // table 6 has no file
  readAllProgramTables();
  EXPECT_EQ(programs(0), (Programs{{1, {1}}}));
  EXPECT_EQ(programs(15), (Programs{{2, {2}}}));
  EXPECT_EQ(triggers(15), (Triggers{{1, 2}}));
  EXPECT_EQ(keyProgram[5][3], 7);
  for (int t = 1; t < 15; t++) EXPECT_EQ(programs(t), Programs()) << t;

  writeHostFile("progrm01.ini", "/PGM1 11\n");
  simFailFileOpens(1);
  readAllProgramTables();
  EXPECT_EQ(programs(0), (Programs{{1, {11}}})) << "the narrow name fails to open: the wide one is read";

  // Reload: a changed file is read again, a missing one keeps its table.
  writeHostFile("progrm01.ini", "/PGM3 3\n");
  std::filesystem::remove(hostFile("progrm16.ini"));
  reloadProgramTables();
  EXPECT_EQ(programs(0), (Programs{{3, {3}}}));
  EXPECT_EQ(programs(15), (Programs{{2, {2}}}));

  writeHostFile("progrm01.ini", "/PGM4 4\n");
  simFailFileOpens(1);
  reloadProgramTables();
  EXPECT_EQ(programs(0), (Programs{{3, {3}}})) << "the reload has no wide fallback";
}

TEST_F(ProgramReader, ReloadWithoutDirectoryReadsTheCurrentOne) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(hostDir);
  writeHostFile("progrm02.ini", "/PGM8 8\n");
  programDir[0] = 0;
  reloadProgramTables();
  std::filesystem::current_path(before);
  EXPECT_EQ(programs(1), (Programs{{8, {8}}}));
}
