// The program-file reader: modes, commands, values, comments, limits, the end
// of the file, whole tables, random input, and the reading of all sixteen
// files at start and on a reload.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/program_reader.h"
#include "config/program_tables.h"
#include "sim_fixture.h"

namespace {

constexpr int32_t P = kChannelPlaceholder;

std::vector<int32_t> entries(int table, int program) {
  std::vector<int32_t> out;
  for (int i = 0; i < programLength[table][program]; i++) out.push_back(programData[table][program][i]);
  return out;
}

// Number of programs of table with at least one entry.
int filledPrograms(int table) {
  int n = 0;
  for (int p = 0; p < kProgramCount; p++) n += programLength[table][p] != 0;
  return n;
}

// Number of triggers of table with a program.
int assignedTriggers(int table) {
  int n = 0;
  for (int k = 0; k < kTriggerCount; k++) n += keyProgram[table][k] != 0;
  return n;
}

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

class ProgramReader : public SimTest {
 protected:
  // Writes bytes as a file and reads it into table by its narrow name.
  int read(const std::string& bytes, int table = 0) {
    std::string name = "t";
    name += std::to_string(files++);
    name += ".ini";
    writeHostFile(name, bytes);
    return readProgramTable(simFile(name).c_str(), nullptr, table, 0);
  }
  int files = 0;
};

// ---------------------------------------------------------------------------
// Number modes.

TEST_F(ProgramReader, ModesDecideHowNumbersAndValuesRead) {
  ASSERT_EQ(read("/PGM16\r\n144 60 127\r\n"), 0);
  EXPECT_EQ(entries(0, 16), (std::vector<int32_t>{144, 60, 127}));

  ASSERT_EQ(read("/HEX\n/PGM10\n90 3C 7F\n"), 0);
  EXPECT_EQ(entries(0, 16), (std::vector<int32_t>{0x90, 0x3C, 0x7F}));
  EXPECT_EQ(filledPrograms(0), 1);

  // Every short form, either case; the mode holds across programs.
  ASSERT_EQ(read("/H /PGM11 a -he /PGM12 B /hEx /PGM13 c 1 "
                 "/d /PGM14 15 -De /PGM15 16 /DEC /PGM16 17 18"),
            0);
  EXPECT_EQ(entries(0, 0x11), (std::vector<int32_t>{0xA}));
  EXPECT_EQ(entries(0, 0x12), (std::vector<int32_t>{0xB}));
  EXPECT_EQ(entries(0, 0x13), (std::vector<int32_t>{0xC, 1}));
  EXPECT_EQ(entries(0, 14), (std::vector<int32_t>{15}));
  EXPECT_EQ(entries(0, 15), (std::vector<int32_t>{16}));
  EXPECT_EQ(entries(0, 16), (std::vector<int32_t>{17, 18}));

  // /D then X: DEC mode, the X is unread text; /HE then A: HEX mode, A a value.
  ASSERT_EQ(read("/HEX /DX /PGM10 A 12\n/HEA /PGM1 A"), 0);
  EXPECT_EQ(entries(0, 10), (std::vector<int32_t>{12, 0xA}));
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{0xA}));
  EXPECT_EQ(filledPrograms(0), 2);
}

// ---------------------------------------------------------------------------
// /PGM.

TEST_F(ProgramReader, PgmStartsReplacesAndRefusesPrograms) {
  // Values before any /PGM, and after "/PGM 5" (program 0), are dropped.
  ASSERT_EQ(read("1 2 3\n/PGM 5 6 7\n"), 0);
  EXPECT_EQ(filledPrograms(0), 0);

  // A second definition replaces the first.
  ASSERT_EQ(read("/PGM5 1 2\n/PGM6 3\n/pgm5 4\n"), 0);
  EXPECT_EQ(entries(0, 5), (std::vector<int32_t>{4}));
  EXPECT_EQ(entries(0, 6), (std::vector<int32_t>{3}));

  // Refused numbers, broken keywords and a number that does not scan leave
  // the current program open; the byte that broke a keyword is read again.
  ASSERT_EQ(read("/PGM7 1 /PGM512 2 /PGM-1 3 /PGM123456 4 /PX 5 /PGX 6 /PGM511 9"), 0);
  EXPECT_EQ(entries(0, 7), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(entries(0, 511), (std::vector<int32_t>{9}));
  EXPECT_EQ(filledPrograms(0), 2);
}

// ---------------------------------------------------------------------------
// /SETKEY.

TEST_F(ProgramReader, SetkeyFormsAndRanges) {
  ASSERT_EQ(read("/SETKEY60:PGM5\n/SETKEY61=6\n/SETKEY62PGM7\n-setkey63:pgm8\n/SETKEY64:P9\n"
                 "/SETKEY70-80:PGM3\n/SETKEY90~85=4\n/SETKEY1023:511\n/SETKEY0:1\n"),
            0);
  EXPECT_EQ(keyProgram[0][60], 5);
  EXPECT_EQ(keyProgram[0][61], 6);
  EXPECT_EQ(keyProgram[0][62], 7);
  EXPECT_EQ(keyProgram[0][63], 8);
  EXPECT_EQ(keyProgram[0][64], 9);
  for (int k = 70; k <= 80; k++) EXPECT_EQ(keyProgram[0][k], 3) << k;
  for (int k = 85; k <= 90; k++) EXPECT_EQ(keyProgram[0][k], 4) << k;
  EXPECT_EQ(keyProgram[0][1023], 511);
  EXPECT_EQ(keyProgram[0][0], 1);
  EXPECT_EQ(assignedTriggers(0), 5 + 11 + 6 + 2);

  // A reversed range, and HEX numbers.
  ASSERT_EQ(read("/SETKEY70-60:PGM3\n/HEX /SETKEY3C~3A:PGM10\n"), 0);
  for (int k = 58; k <= 59; k++) EXPECT_EQ(keyProgram[0][k], 16) << k;
  for (int k = 60; k <= 70; k++) EXPECT_EQ(keyProgram[0][k], k == 60 ? 16 : 3) << k;
  EXPECT_EQ(assignedTriggers(0), 13);

  // Refusals assign nothing.
  ASSERT_EQ(read("/SETKEY1024:1\n/SETKEY60-1024:1\n/SETKEY60:512\n/SETKEY-1:2\n/SETKY60:5\n/SETKEX60:5\n"), 0);
  EXPECT_EQ(assignedTriggers(0), 0);

  // A trigger may take a program that is defined later or never.
  ASSERT_EQ(read("/SETKEY60:7\n/SETKEY61:8\n/PGM7 1\n"), 0);
  EXPECT_EQ(keyProgram[0][60], 7);
  EXPECT_EQ(keyProgram[0][61], 8);
}

TEST_F(ProgramReader, SetkeyClosesTheCurrentProgramOncePastSet) {
  ASSERT_EQ(read("/PGM5 1 /SETKEY60:5 2 3\n"), 0);
  EXPECT_EQ(entries(0, 5), (std::vector<int32_t>{1}));
  ASSERT_EQ(read("/PGM5 1 /SETX 2\n/PGM6 1 /SETKX 2\n/PGM7 1 /SETKEY2000 2\n"), 0);
  EXPECT_EQ(entries(0, 5), (std::vector<int32_t>{1}));
  EXPECT_EQ(entries(0, 6), (std::vector<int32_t>{1}));
  EXPECT_EQ(entries(0, 7), (std::vector<int32_t>{1}));
  // Broken before /SET: the program stays open.
  ASSERT_EQ(read("/PGM5 1 /SX 2 /SE 3\n"), 0);
  EXPECT_EQ(entries(0, 5), (std::vector<int32_t>{1, 2, 3}));
}

// ---------------------------------------------------------------------------
// Values.

TEST_F(ProgramReader, DecimalValues) {
  ASSERT_EQ(read("/PGM1 0 255 99999 123456 7 1234567 12A3\n"), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{0, 255, 99999, 7, 7, 12, 3}));
}

TEST_F(ProgramReader, HexValuesAndChannelPlaceholders) {
  ASSERT_EQ(read("/HEX /PGM1 9N 9n Bm CM 90N 90N5 ff FFFFF 1234567 12345N N 5\n"), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{P + 0x90, P + 0x90, P + 0xB0, P + 0xC0, P, P, 5, 0xFF, 0xFFFFF,
                                                 0x123456, 7, 0x123450, 5}));
  // Digits after the letter go on the value: the status is bits 4 to 7 of 0x90A5.
  ASSERT_EQ(read("/HEX /PGM1 9NA5"), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{P + 0xA0}));
}

TEST_F(ProgramReader, ProgramHoldsAtMost255Entries) {
  std::string file = "/PGM1\n";
  for (int i = 0; i < 256; i++) file += std::to_string(i) + " ";
  file += "\n/PGM2 9\n";
  programData[0][1][255] = 0x5A5A;
  ASSERT_EQ(read(file), 0);
  ASSERT_EQ(programLength[0][1], 255);
  for (int i = 0; i < 255; i++) EXPECT_EQ(programData[0][1][i], i);
  EXPECT_EQ(programData[0][1][255], 0x5A5A);
  EXPECT_EQ(entries(0, 2), (std::vector<int32_t>{9}));
}

// ---------------------------------------------------------------------------
// Comments and white space.

TEST_F(ProgramReader, CommentsAndWhiteSpace) {
  ASSERT_EQ(read("/PGM1\n' 1\n# 2\r3 // 4\n-/ 5\n-- 6\n/- 7\n"
                 "8,9\t10\x1a"
                 "11 12\x81\x40"
                 "13\x81"
                 "14 \x82 15 ; 16\n"),
            0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{3, 8, 9, 10, 11, 12, 13, 14, 15, 16}));

  ASSERT_EQ(read("/PGM1 /* 1 2\n */ 3 -* 4 */ 5 /*/ 6 /* ** / */ 7 /***/ 8\n"), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{3, 5, 6, 7, 8}));
}

TEST_F(ProgramReader, BlockCommentsPairEachLeadByteWithOneByte) {
  // Under code page 932 the lead byte 0x81 takes the "*" with it.
  const std::string file = "/PGM1 /* \x81*/ 1 */ 2\n";
  simSetCodePage(932);
  ASSERT_EQ(read(file), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{2}));
  // Without a double-byte code page the first "*/" closes the comment.
  simSetCodePage(0);
  ASSERT_EQ(read(file), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{1, 2}));

  // A comment the file ends in, also right after a lead byte: the reading
  // still completes.
  simSetCodePage(932);
  ASSERT_EQ(read("/PGM1 5 /* 6 7\n/SETKEY1:1\n"), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{5}));
  EXPECT_EQ(assignedTriggers(0), 0);
  ASSERT_EQ(read("/PGM1 5 /* \x81"), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{5}));
}

// ---------------------------------------------------------------------------
// The end of the file completes what stands before it.

TEST_F(ProgramReader, LastItemWithoutLineBreakCounts) {
  ASSERT_EQ(read("/PGM1 1 2 3"), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{1, 2, 3}));
  ASSERT_EQ(read("/HEX /PGM1 7F"), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{0x7F}));
  ASSERT_EQ(read("/HEX /PGM1 9N"), 0);
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{P + 0x90}));
  // A final /PGM12 replaces the program defined before it.
  ASSERT_EQ(read("/PGM12 5 6 /PGM12"), 0);
  EXPECT_EQ(programLength[0][12], 0);
  ASSERT_EQ(read("/SETKEY60:5"), 0);
  EXPECT_EQ(keyProgram[0][60], 5);
  ASSERT_EQ(read("/HEX /SETKEY3C-3E:1F"), 0);
  for (int k = 60; k <= 62; k++) EXPECT_EQ(keyProgram[0][k], 0x1F) << k;
  // Only too many digits still fail.
  ASSERT_EQ(read("/PGM1 123456"), 0);
  EXPECT_EQ(programLength[0][1], 0);
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
  EXPECT_EQ(entries(2, 5), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(keyProgram[2][60], 5);

  // A file that opens empties the table first, an empty file included.
  ASSERT_EQ(read("/PGM6 3\n", 2), 0);
  EXPECT_EQ(programLength[2][5], 0);
  EXPECT_EQ(keyProgram[2][60], 0);
  EXPECT_EQ(entries(2, 6), (std::vector<int32_t>{3}));
  ASSERT_EQ(read("", 2), 0);
  EXPECT_EQ(filledPrograms(2), 0);
  // Other tables keep their contents.
  EXPECT_EQ(entries(1, 3), (std::vector<int32_t>{3}));
}

TEST_F(ProgramReader, WideNameWhenAsked) {
  writeHostFile("w.ini", "/PGM4 44\n");
  const std::u16string name = wide(simFile("w.ini"));
  EXPECT_EQ(readProgramTable(simFile("no.ini").c_str(), name.c_str(), 3, 1), 0);
  EXPECT_EQ(entries(3, 4), (std::vector<int32_t>{44}));
  EXPECT_EQ(readProgramTable(simFile("w.ini").c_str(), u"\\nowhere\\w.ini", 3, 1), 1);
}

// ---------------------------------------------------------------------------
// A full table: 511 programs of 255 entries, every trigger assigned. Even
// programs are written in DEC, odd ones in HEX with a placeholder every 16th
// entry; the file ends without a line break.

TEST_F(ProgramReader, FullTableReadsCompletely) {
  auto expected = [](int p, int i) -> int32_t {
    if (p % 2 == 0) return (p + i * 3) % 256;
    if (i % 16 == 0) return P + (((i / 16) % 8 + 8) << 4);
    return (p * 5 + i) % 256;
  };
  std::string file;
  char text[32];
  for (int p = 1; p < kProgramCount; p++) {
    if (p % 2 == 0) {
      std::snprintf(text, sizeof text, "/DEC\r\n/PGM%d\r\n", p);
    } else {
      std::snprintf(text, sizeof text, "/HEX\r\n/PGM%X\r\n", p);
    }
    file += text;
    for (int i = 0; i < kProgramMaxLength; i++) {
      const int32_t v = expected(p, i);
      if (p % 2 == 0) {
        std::snprintf(text, sizeof text, "%d", v);
      } else if (v & P) {
        std::snprintf(text, sizeof text, "%XN", (v >> 4) & 0xF);
      } else {
        std::snprintf(text, sizeof text, "%02X", v);
      }
      file += text;
      file += i % 16 == 15 ? "\r\n" : " ";
    }
    file += "\r\n";
  }
  file += "/DEC\r\n";
  for (int k = 0; k < kTriggerCount; k++) {
    std::snprintf(text, sizeof text, "%s/SETKEY%d:PGM%d", k ? "\r\n" : "", k, k % 511 + 1);
    file += text;
  }
  ASSERT_EQ(read(file, 15), 0);
  for (int p = 1; p < kProgramCount; p++) {
    ASSERT_EQ(programLength[15][p], kProgramMaxLength) << p;
    for (int i = 0; i < kProgramMaxLength; i++) ASSERT_EQ(programData[15][p][i], expected(p, i)) << p << " " << i;
  }
  EXPECT_EQ(programLength[15][0], 0);
  for (int k = 0; k < kTriggerCount; k++) ASSERT_EQ(keyProgram[15][k], k % 511 + 1) << k;
  EXPECT_EQ(filledPrograms(14), 0);
}

// ---------------------------------------------------------------------------
// Random and truncated files: the reader finishes every one and stays inside
// the table (the last slot of every row is never written).

TEST_F(ProgramReader, RandomAndTruncatedFilesStayInBounds) {
  static const char* const kPieces[] = {
      "/PGM", "/SETKEY", "/HEX", "/DEC", "/D", "/H", "-pgm", "-setkey", "/*", "*/", "//", "9N", "90N",
      "\x81\x40", "\r\n", "1023", "1024", "511", "512", "99999", "123456", "FFFFFF", ":PGM", "-", "~"};
  static const char* const kNumbers[] = {"0", "1", "7", "60", "3C", "1FF", "200", "255", "3FF", "400",
                                         "511", "512", "1023", "1024", "65535", "99999", "123456", "-1", "+5", ""};
  const std::string alphabet =
      "//////--*PGMSETKYDHXNpgmsetkydhxnABCF0123456789999 ,:=~\t\r\n'\"#;\x1a\x81\x40\x82\x9f\xe0\xfc\xff";
  const int32_t sentinel = 0x5A5A5A;
  for (int t = 0; t < 16; t++) {
    for (int p = 0; p < kProgramCount; p++) programData[t][p][kProgramRowSize - 1] = sentinel;
  }

  uint32_t seed = 0x2468ACE1u;
  auto next = [&seed](uint32_t n) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed % n;
  };
  auto number = [&]() { return std::string(kNumbers[next(sizeof kNumbers / sizeof kNumbers[0])]); };
  auto noise = [&]() { return alphabet[next(static_cast<uint32_t>(alphabet.size()))]; };

  int withPrograms = 0;
  int withTriggers = 0;
  for (int round = 0; round < 3000; round++) {
    simSetCodePage(round % 2 ? 932 : 0);
    // Statements close to the syntax, pieces and single bytes ...
    std::string file;
    const uint32_t parts = next(40);
    for (uint32_t k = 0; k < parts; k++) {
      switch (next(8)) {
        case 0:
          file += (next(2) ? "/PGM" : "-pgm") + number() + " ";
          break;
        case 1:
          file += "/SETKEY" + number();
          if (next(2)) file += (next(2) ? "-" : "~") + number();
          file += next(2) ? ":PGM" : next(2) ? "=" : "";
          file += number() + "\n";
          break;
        case 2:
          for (uint32_t i = next(8); i > 0; i--) file += number() + (next(3) ? " " : "N ");
          break;
        case 3:
          if (next(10) == 0) {
            for (int i = 0; i < 260; i++) file += "7 ";  // past the entry limit
          } else {
            file += kPieces[next(sizeof kPieces / sizeof kPieces[0])];
          }
          break;
        default:
          file += noise();
          break;
      }
    }
    // ... with a few bytes changed, and every other file cut short.
    for (uint32_t i = file.empty() ? 0 : next(4); i > 0; i--) file[next(static_cast<uint32_t>(file.size()))] = noise();
    if (round % 2 && !file.empty()) file.resize(next(static_cast<uint32_t>(file.size())));
    const int table = round % 16;
    writeHostFile("random.ini", file);
    ASSERT_EQ(readProgramTable(simFile("random.ini").c_str(), nullptr, table, 0), 0) << round;
    for (int p = 0; p < kProgramCount; p++) {
      ASSERT_GE(programLength[table][p], 0) << round;
      ASSERT_LE(programLength[table][p], kProgramMaxLength) << round;
      ASSERT_EQ(programData[table][p][kProgramRowSize - 1], sentinel) << round;
    }
    ASSERT_EQ(programLength[table][0], 0) << round;
    for (int k = 0; k < kTriggerCount; k++) {
      ASSERT_GE(keyProgram[table][k], 0) << round;
      ASSERT_LT(keyProgram[table][k], kProgramCount) << round;
    }
    withPrograms += filledPrograms(table) != 0;
    withTriggers += assignedTriggers(table) != 0;
  }
  // The files reach deep enough to fill programs and assign triggers.
  EXPECT_GT(withPrograms, 300);
  EXPECT_GT(withTriggers, 100);
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
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{1}));
  EXPECT_EQ(entries(15, 2), (std::vector<int32_t>{2}));
  EXPECT_EQ(keyProgram[15][1], 2);
  EXPECT_EQ(keyProgram[5][3], 7);
  for (int t = 1; t < 15; t++) EXPECT_EQ(filledPrograms(t), 0) << t;

  // The narrow name fails to open: the wide one is read.
  writeHostFile("progrm01.ini", "/PGM1 11\n");
  simFailFileOpens(1);
  readAllProgramTables();
  EXPECT_EQ(entries(0, 1), (std::vector<int32_t>{11}));

  // Reload: a changed file is read again, a missing one keeps its table.
  writeHostFile("progrm01.ini", "/PGM3 3\n");
  std::filesystem::remove(hostFile("progrm16.ini"));
  reloadProgramTables();
  EXPECT_EQ(programLength[0][1], 0);
  EXPECT_EQ(entries(0, 3), (std::vector<int32_t>{3}));
  EXPECT_EQ(entries(15, 2), (std::vector<int32_t>{2}));

  // The reload has no wide fallback.
  writeHostFile("progrm01.ini", "/PGM4 4\n");
  simFailFileOpens(1);
  reloadProgramTables();
  EXPECT_EQ(entries(0, 3), (std::vector<int32_t>{3}));
  EXPECT_EQ(programLength[0][4], 0);
}

TEST_F(ProgramReader, ReloadWithoutDirectoryReadsTheCurrentOne) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(hostDir);
  writeHostFile("progrm02.ini", "/PGM8 8\n");
  programDir[0] = 0;
  reloadProgramTables();
  std::filesystem::current_path(before);
  EXPECT_EQ(entries(1, 8), (std::vector<int32_t>{8}));
}
