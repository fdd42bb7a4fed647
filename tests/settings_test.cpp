// The settings file reader: options, port definitions, comments, file-name
// items and the two readings, driven by files written into a scratch directory.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/startup.h"
#include "config/settings.h"
#include "state/display_settings.h"
#include "state/tables.h"
#include "midi/ports.h"
#include "sim_fixture.h"
#include "support/file_io.h"

using namespace std::string_literals;

class Settings : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    // -LIST writes the template over the settings file's own names.
    const std::string path = simFile("sonrack.ini");
    std::strcpy(settingsPath, path.c_str());
    std::copy(path.begin(), path.end(), settingsPathW);
    settingsPathW[path.size()] = 0;
    std::strcpy(programDir, simDir().c_str());
  }

  // Writes bytes as the settings file and reads it by its narrow name. A new
  // file each time: rewriting one in place makes the host flush it.
  int read(const std::string& bytes, int actionPass = 0) {
    std::remove(hostFile("sonrack.ini").c_str());
    writeHostFile("sonrack.ini", bytes);
    return readSettingsFile(settingsPath, nullptr, 0, actionPass);
  }

  // Fresh display and column tables between the cases of one test.
  void freshTables() {
    resetDisplaySettings();
    resetEngineTables();
    resetPortTables();
  }

  // The channels of the columns, in column order.
  static std::vector<int> columns() { return std::vector<int>(columnChannel, columnChannel + maxcolumns); }
};

TEST_F(Settings, OpensByEitherNameAndClosesTheFile) {
  EXPECT_EQ(readSettingsFile(simFile("missing.ini").c_str(), nullptr, 0, 0), -1);
  EXPECT_EQ(readSettingsFile(nullptr, u"\\no\\such\\dir\\sonrack.ini", 1, 0), -1);
  EXPECT_EQ(MagX, 1);

  writeHostFile("sonrack.ini", "-mX=4\r\n");
  EXPECT_EQ(readSettingsFile(nullptr, settingsPathW, 1, 0), 0) << "by the wide name";
  EXPECT_EQ(MagX, 4);
  EXPECT_EQ(read(""), 0) << "an empty file reads";

  EXPECT_EQ(read("-mX=6"), 0);
  EXPECT_EQ(MagX, 6);
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(wfopen(settingsPath), 0) << "the reader let go of the file";
  wfclose();
}

// The display scale (rounded to the nearest unit, 0..20) and note range (whole
// notes 0..127), and the comments, marks and unknown options around them;
// each text on fresh tables.
TEST_F(Settings, ScaleNoteRangeAndComments) {
  struct Case {
    int codePage;
    const char* text;
    std::array<int, 4> magXYnoteMinMax;
  } cases[] = {
      {0, "-mX=2.5\n", {3, 10, 24, 72}},
      {0, "-mY=1.25\n", {1, 13, 24, 72}},
      {0, "-mY=1.15\n", {1, 11, 24, 72}},  // 1.1499999 as a 32-bit float: rounds down
      {0, "-mX=20\n", {20, 10, 24, 72}},
      {0, "-mX=20.5\n", {1, 10, 24, 72}},
      {0, "-mY=20 -mX=0\n", {0, 200, 24, 72}},
      {0, "-mY=20.01\n", {1, 10, 24, 72}},
      {0, "-mX=-1 -mY=3\n", {1, 30, 24, 72}},  // a value must start with a digit
      {0, "-mx5 /MY=0.5\n", {5, 5, 24, 72}},
      {0, "-mY=1e1\n", {1, 100, 24, 72}},
      {0, "-mX=1e9 -mY=9e99\n", {1, 10, 24, 72}},
      {0, "-mX= 4\n", {1, 10, 24, 72}},
      {0, "-mZ=3 -mX=6\n", {6, 10, 24, 72}},
      {0, "-mX=2.5", {3, 10, 24, 72}},  // the last thing in the file
      {0, "-mY=.5\n", {1, 10, 24, 72}},
      {0, "-nMin=0 -nMax=127\n", {1, 10, 0, 127}},
      {0, "-nmin30 /NMAX=100\n", {1, 10, 30, 100}},
      {0, "-nMin=128 -nMax=-1\n", {1, 10, 24, 72}},
      {0, "-nMin 5 -nMax=7\n", {1, 10, 24, 7}},
      {0, "-nMi=5 -nMax=90\n", {1, 10, 24, 90}},
      {0, "-nMa=5 -nMin=9\n", {1, 10, 9, 72}},
      {0, "-n=5 -nx=6 -nMax=80\n", {1, 10, 24, 80}},
      {0, "-nMin=90 -nMax=10\n", {1, 10, 90, 10}},  // no cross-check
      {0, "-nMax=123456 -nMin=1\n", {1, 10, 1, 72}},
      {0, "-nMax=108", {1, 10, 24, 108}},  // no line break after the number
      {0, "// -mX=5\n-mY=2", {1, 20, 24, 72}},
      {0, "-/ -mX=5\r\n/- -mX=6\n-- -mX=7\n/mY=3", {1, 30, 24, 72}},
      {0, "# -mX=5\n' -mX=6\n-mX=7 ' -mY=5\n", {7, 10, 24, 72}},
      {0, "/* -mX=5 */ -mY=3", {1, 30, 24, 72}},
      {0, "/*/ -mX=5", {5, 10, 24, 72}},  // the opening star counts
      {0, "-* -mX=5\n*/-mY=4", {1, 40, 24, 72}},
      {0, "/* -mX=5 **/-mY=4", {1, 40, 24, 72}},
      {0, "/* -mX=5 ", {1, 10, 24, 72}},
      {0, "-mX=5\x81\x40-mY=3", {5, 30, 24, 72}},  // ideographic space
      {0, "\x81-mY=3", {1, 30, 24, 72}},
      {0, "-mX=5\t-mY=3\x1a", {5, 30, 24, 72}},
      {0, "\xEF\xBB\xBF-mX=5 -mY=2\r\n", {5, 20, 24, 72}},  // a UTF-8 byte-order mark is skipped
      {0, "-mX=5 \xEF\xBB\xBF-mY=2\r\n", {5, 10, 24, 72}},  // only at the very start
      {0, "\xEF\xBB\xBF\r\n-mX=5\r\n", {5, 10, 24, 72}},
      // Unknown options: the text from Z on is one file-name item, "," does not end a bare item.
      {0, "-Zoom -mX=4\r\n", {4, 10, 24, 72}},
      {0, "-Zoom-mX=5 \"a -mX=9 b\" -mY=2 ;-mX=6,-nMin=3\r\n", {1, 20, 24, 72}},
      {0, "- / -mX=6 -I -IX -O -OUX -L -LX\r\n", {6, 10, 24, 72}},
      {0, "/* \x81*/ -mX=5", {5, 10, 24, 72}},  // no double-byte characters without the code page
      // In a block comment each lead byte takes the next byte with it.
      {932, "/* \x81*/ -mX=5 */ -mY=3", {1, 30, 24, 72}},  // "*" is a second byte
      {932, "/* *\x81/ -mX=5 */ -mY=3", {1, 30, 24, 72}},  // "/" is a second byte
      {932, "/* \x81\x81*/ -mX=6", {6, 10, 24, 72}},
      {932, "/* \xE0\x40*/ -mX=8", {8, 10, 24, 72}},
      {932, "/* \x81", {1, 10, 24, 72}},  // lead byte at the end
      {932, "-mX=4 /* \x81*", {4, 10, 24, 72}},
  };
  for (const Case& c : cases) {
    simSetCodePage(c.codePage);
    freshTables();
    EXPECT_EQ(read(c.text), 0) << c.text;
    EXPECT_EQ((std::array<int, 4>{MagX, MagY, NoteMin, NoteMax}), c.magXYnoteMinMax) << c.text;
  }
}

// Each text on fresh tables, then read again from no columns as the second
// reading does: both give the same columns.
TEST_F(Settings, ChannelOptionsFixTheColumns) {
  std::string all;
  for (int c = 16; c >= 1; c--) all += "-Ch" + std::to_string(c) + "\n";
  const struct {
    std::string text;
    std::vector<int> channels;  // of the columns
  } rows[] = {
      {"-Ch1 -Ch1\r\n", {0, 0}},
      {all + "-Ch2\n", {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},  // no 17th column
      {"-Ch=3 -Ch0 -Ch17 -Ch\n", {}},                                          // out of range: skipped
      {"-CH5 -ch16", {4, 15}},                                                  // at the end of the file
      {"-Cx -Co -Ch3\n", {2}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    freshTables();
    for (int pass = 0; pass < 2; pass++) {
      maxcolumns = 0;
      read(r.text, pass);
      EXPECT_EQ(columns(), r.channels);
      EXPECT_EQ(fixedColumns, r.channels.empty() ? 0 : 255);
      for (int c = 0; c < 16; c++) {
        // A channel points to its last column.
        const auto last = std::find(r.channels.rbegin(), r.channels.rend(), c);
        const int column = last == r.channels.rend() ? -1 : static_cast<int>(r.channels.rend() - last) - 1;
        EXPECT_EQ(channelColumn[c], column) << "channel " << c;
        EXPECT_EQ(channelShown[c], column < 0 ? 0 : 255) << "channel " << c;
      }
    }
  }
}

TEST_F(Settings, AllChannelsMixForms) {
  struct Case {
    int before;
    const char* text;
    int after;
  } cases[] = {
      {0, "-AllChMix\n", 255},
      {0, "-AllChMix=0\n", 0},
      {255, "-AllChMix=0\n", 0},
      {255, "-AllChMix=200\n", 255},  // out of range: unchanged
      {0, "-AllChMix=200 -AllChMix=999999 -AllCh 5 -ALLCHMI=1\n", 0},  // too long, after a broken name
      {0, "-AllChMix=-3\n", 255},  // "-" is no digit: the name alone
      {0, "/allchmix5", 255},
      {0, "-AllChMix=", 255},
      {0, "-AllCh -ALLCHMI\n-aLLcHMIx=127\n", 255},
  };
  for (const Case& c : cases) {
    allChMix = static_cast<uint8_t>(c.before);
    read(c.text);
    EXPECT_EQ(allChMix, c.after) << c.text;
  }
}

TEST_F(Settings, InputDefinitionsAndModifiers) {
  read("-IN1:\"USB MIDI\":CH2:VIRTUAL\r\n"
       "-in2:'Yamaha' -mX=3\r\n"
       "-IN3 :\"Name\"\r\n"
       "-IN4,CH=5 -IN5=ch17\r\n"
       "-IN6:VIRT -IN7:VIR:CH2\r\n"
       "-IN8:COM3:CH4 -IN9:\"x\":Q:CH2\r\n"
       "-IN17:CH2 -IN0:CH2\r\n");
  EXPECT_STREQ(inPorts[0].name, "USB MIDI");
  EXPECT_EQ(inPorts[0].configured, 255);
  EXPECT_EQ(inPorts[0].channel, 1);
  EXPECT_EQ(inPorts[0].deviceId, -1);

  EXPECT_STREQ(inPorts[1].name, "'Yamaha'") << "the apostrophe stays in the name";
  EXPECT_EQ(inPorts[1].configured, 255);
  EXPECT_EQ(MagX, 3) << "the blank after the name ended the definition";

  EXPECT_STREQ(inPorts[2].name, "") << "a blank ends the definition before the colon";
  EXPECT_EQ(inPorts[2].configured, 0);

  EXPECT_EQ(inPorts[3].channel, 4);
  EXPECT_EQ(inPorts[4].channel, 4) << "Ch17 refused";

  EXPECT_EQ(inPorts[5].deviceId, -1);
  EXPECT_EQ(inPorts[5].configured, 255);
  EXPECT_EQ(inPorts[6].deviceId, 0) << "VIR is no keyword";
  EXPECT_EQ(inPorts[6].configured, 0);
  EXPECT_EQ(inPorts[6].channel, 1) << "the modifier after a mismatch still applies";

  EXPECT_EQ(inPorts[7].configured, 0) << "no serial port for an input";
  EXPECT_EQ(inPorts[7].deviceId, 0);
  EXPECT_EQ(inPorts[7].channel, 3) << "the definition goes on after COM";

  EXPECT_STREQ(inPorts[8].name, "x");
  EXPECT_EQ(inPorts[8].channel, 8) << "an unknown modifier ends the definition";
  for (int i = 9; i < 16; i++) EXPECT_EQ(inPorts[i].configured, 0);
  EXPECT_EQ(inPorts[15].channel, 15);

  // -IN resets the channel before its modifiers; a number at the end counts.
  read("-IN10:CH3 -IN10\r\n");
  EXPECT_EQ(inPorts[9].channel, 9);
  inPorts[10].channel = 3;
  read("-IN11");
  EXPECT_EQ(inPorts[10].channel, 10);

  // Tab, NUL and Ctrl-Z end a definition; the rest is a file-name item.
  read("-IN12\t:CH2 -IN13\0:CH2 -IN14\x1a:CH2 -IN15::CH2"s);
  EXPECT_EQ(inPorts[11].channel, 11);
  EXPECT_EQ(inPorts[12].channel, 12);
  EXPECT_EQ(inPorts[13].channel, 13);
  EXPECT_EQ(inPorts[14].channel, 14);
}

TEST_F(Settings, OutputDefinitionsAndModifiers) {
  read("-OUT2:\"Synth\":NO\r\n-OUT2:\"Synth\"\r\n");
  EXPECT_STREQ(outPorts[1].name, "Synth");
  EXPECT_EQ(outPorts[1].configured, 255);
  EXPECT_EQ(outPorts[1].noOutput, 0) << "-OUT clears NO before its modifiers";

  freshTables();
  read("-OUT1=\"A\",GS:gm:XG:TR:NC:nx:NO\r\n"
       "-OUT3:GX:NO -OUT4:COM2 -OUT5:CO:NO -OUT6:com\r\n"
       "/out7:'Roland SC' -OUT8:\"B\" :NO -OUT9:Q:NO -OUT10:\"C\":COM12345678");
  EXPECT_STREQ(outPorts[0].name, "A");
  EXPECT_EQ(outPorts[0].noOutput, 255) << "every conversion keyword is accepted";
  EXPECT_EQ(outPorts[0].deviceId, -1) << "a name leaves the mapper default";

  EXPECT_EQ(outPorts[2].noOutput, 0) << "GX ends the definition";
  EXPECT_EQ(outPorts[2].configured, 0);

  EXPECT_EQ(outPorts[3].comPort, 2);
  EXPECT_EQ(outPorts[3].deviceId, 0);
  EXPECT_EQ(outPorts[3].configured, 255);

  EXPECT_EQ(outPorts[4].noOutput, 255) << "the definition goes on after CO";
  EXPECT_EQ(outPorts[4].configured, 0);

  EXPECT_EQ(outPorts[5].comPort, 0) << "COM without a number stays 0";
  EXPECT_EQ(outPorts[5].configured, 255);

  EXPECT_STREQ(outPorts[6].name, "'Roland");
  EXPECT_EQ(outPorts[7].noOutput, 0);
  EXPECT_EQ(outPorts[8].noOutput, 0);
  EXPECT_EQ(outPorts[9].comPort, 1) << "a number too long counts as 1";

  freshTables();
  read("-OUT1:COM7");
  EXPECT_EQ(outPorts[0].comPort, 7);
  EXPECT_EQ(outPorts[0].deviceId, 0) << "COM replaces the mapper";
}

TEST_F(Settings, ComOptionGoesToTheLatestOutput) {
  read("-OUT3:\"X\"\r\n-COM4\r\n");
  EXPECT_EQ(outPorts[2].comPort, 4);
  EXPECT_EQ(outPorts[0].comPort, 0);

  freshTables();
  read("-COM4\r\n-OUT3\r\n");
  EXPECT_EQ(outPorts[0].comPort, 4);
  EXPECT_EQ(outPorts[0].configured, 0) << "-COM does not configure";
  EXPECT_EQ(outPorts[0].deviceId, -1);

  freshTables();
  read("-OUT3:\"X\"\r\n");
  read("-COM7 -OUT17 -com5\r\n");
  EXPECT_EQ(outPorts[0].comPort, 5) << "each reading starts at OUT1; -OUT17 is skipped";
  EXPECT_EQ(outPorts[2].comPort, 0);

  read("-COM0 -OUT2 -COM");
  EXPECT_EQ(outPorts[0].comPort, 1);
  EXPECT_EQ(outPorts[1].comPort, 1);
  read("-OUT4 -COM9");
  EXPECT_EQ(outPorts[3].comPort, 9);
}

TEST_F(Settings, LongPortNamesAreCutAt126Bytes) {
  const std::string fits(126, 'n');
  read("-IN1:\"" + fits + "\":CH3\r\n");
  EXPECT_EQ(std::string(inPorts[0].name), fits);
  EXPECT_EQ(inPorts[0].channel, 2);

  const std::string longer = std::string(126, 'a') + "bcdefgh";
  read("-OUT2:\"" + longer + "\"\r\n-IN3:'" + longer + "\r\n-mX=7\r\n");
  EXPECT_EQ(std::string(outPorts[1].name), std::string(126, 'a'));
  EXPECT_EQ(outPorts[1].configured, 255);
  EXPECT_EQ(std::string(inPorts[2].name), "'" + std::string(125, 'a'));
  EXPECT_EQ(MagX, 7) << "reading goes on after a cut name";
}

TEST_F(Settings, ConsoleSwitch) {
  for (const auto& [text, mode] : {std::pair<const char*, int>{"/soc\r\n", 255}, {"-SOC", 255}, {"-so -sx -s\r\n", 0}}) {
    consoleMode = 0;
    read(text);
    EXPECT_EQ(consoleMode, mode) << text;
  }
}

TEST_F(Settings, ListEndsTheReadingWithoutWritingTheFile) {
  const std::string text = "-soc\r\n-LIST\r\n-mX=5\r\n";
  EXPECT_EQ(read(text), 0);
  EXPECT_EQ(consoleMode, 255);
  EXPECT_EQ(MagX, 1) << "nothing after -LIST is applied";
  EXPECT_EQ(readHostFile("sonrack.ini"), text);
  EXPECT_EQ(simPauses(), (std::vector<int>{500, 500}));
  EXPECT_EQ(rfpeek(), -1);

  simClearPauses();
  const std::string wide = "-lst -mX=5";
  writeHostFile("sonrack.ini", wide);
  EXPECT_EQ(readSettingsFile(nullptr, settingsPathW, 1, 1), 0);
  EXPECT_EQ(MagX, 1);
  EXPECT_EQ(readHostFile("sonrack.ini"), wide);
  EXPECT_EQ(simPauses(), (std::vector<int>{500, 500}));

  simClearPauses();
  read("-LIS -LSX -LIX -mX=5\r\n");
  EXPECT_EQ(MagX, 5);
  EXPECT_TRUE(simPauses().empty());
  EXPECT_EQ(wfopen(settingsPath), 0) << "the reader let go of the file";
  wfclose();
}

// Texts read in turn, the volume carried from one to the next.
TEST_F(Settings, SecondReadingSendsAndSetsTheVolume) {
  const struct {
    const char* text;
    int pass;
    std::array<int, 3> volumeMagXY;
  } rows[] = {
      {"-#90-mX=5 -VOL100\r\n", 0, {0, 5, 10}},  // the byte is scanned, the first reading does not act
      {"-#90-mX=5 -VOL100\r\n", 1, {100, 5, 10}},
      {"-V42\r\n", 1, {42, 5, 10}},
      {"-vol77 -#7f-mX=6 -#abcdef-mY=2 -# -mX=7", 1, {77, 7, 20}},  // six hex digits are consumed
      {"-VOX5\r\n", 1, {77, 7, 20}},                              // V, O and no L: nothing
      {"-VOL", 1, {0, 7, 20}},                                    // no number counts as 0
      {"-VOL55", 1, {55, 7, 20}},                                 // a number at the end of the file counts
  };
  for (const auto& r : rows) {
    read(r.text, r.pass);
    EXPECT_EQ((std::array<int, 3>{Volume, MagX, MagY}), r.volumeMagXY) << r.text << " in reading " << r.pass;
  }
}

TEST_F(Settings, SecondReadingRestatesThePorts) {
  const std::string text =
      "-OUT1:\"Mapper\" -OUT2:\"B\":NO:COM3 -IN1:\"A\":CH5 -IN2:VIRTUAL:CH9\r\n"
      "-Ch3 -Ch4 -AllChMix -COM2 -nMin=30\r\n";
  read(text);
  unsigned char firstIn[2][sizeof(InPort)];
  unsigned char firstOut[2][sizeof(OutPort)];
  for (int i = 0; i < 2; i++) {
    std::memcpy(firstIn[i], &inPorts[i], sizeof(InPort));
    std::memcpy(firstOut[i], &outPorts[i], sizeof(OutPort));
  }
  const int8_t firstColumns[2] = {columnChannel[0], columnChannel[1]};
  maxcolumns = 0;
  read(text, 1);
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(std::memcmp(&inPorts[i], firstIn[i], sizeof(InPort)), 0) << "IN" << i + 1;
    EXPECT_EQ(std::memcmp(&outPorts[i], firstOut[i], sizeof(OutPort)), 0) << "OUT" << i + 1;
  }
  EXPECT_EQ(maxcolumns, 2);
  EXPECT_EQ(columnChannel[0], firstColumns[0]);
  EXPECT_EQ(columnChannel[1], firstColumns[1]);
  EXPECT_EQ(outPorts[1].comPort, 2);
  EXPECT_EQ(outPorts[1].noOutput, 255);
  EXPECT_EQ(inPorts[1].channel, 8);
}

TEST_F(Settings, FileNameItemsAreLookedUpInTheSecondReading) {
  writeHostFile("song.MID", "MThd");
  writeHostFile("notes.txt", "text");
  const std::string text = "song.MID notes.txt missing.mid \"with blank.mid\" " + simFile("song.MID") +
                           " \\no\\such\\dir\\x.mid " + std::string(300, 'f') + " -mX=4\r\n";
  EXPECT_EQ(read(text, 1), 0);
  EXPECT_EQ(MagX, 4);
  EXPECT_EQ(read(text, 0), 0);
}

// ---------------------------------------------------------------------------
// Truncated files: nothing breaks and every table stays in range (the
// settings fuzzer checks the same for arbitrary files).

namespace {

bool within(int value, int low, int high) { return value >= low && value <= high; }
bool isFlag(int value) { return value == 0 || value == 255; }

void expectTablesInRange(const std::string& text) {
  SCOPED_TRACE(::testing::PrintToString(text));
  EXPECT_TRUE(within(MagX, 0, 20) && within(MagY, 0, 200));
  EXPECT_TRUE(within(NoteMin, 0, 127) && within(NoteMax, 0, 127));
  EXPECT_TRUE(within(Volume, -99999, 99999));
  EXPECT_TRUE(isFlag(allChMix) && isFlag(consoleMode) && isFlag(fixedColumns));
  ASSERT_TRUE(within(maxcolumns, 0, 16));
  EXPECT_TRUE(maxcolumns == 0 || fixedColumns == 255);
  for (int k = 0; k < 16; k++) {
    if (k < maxcolumns) {
      ASSERT_TRUE(within(columnChannel[k], 0, 15));
      EXPECT_EQ(channelShown[columnChannel[k]], 255);
    } else {
      EXPECT_EQ(columnChannel[k], k == 0 ? 0 : -1);
    }
    const int column = channelColumn[k];
    ASSERT_TRUE(within(column, -1, maxcolumns - 1));
    EXPECT_TRUE(column < 0 || columnChannel[column] == k);
    EXPECT_TRUE(isFlag(channelShown[k]));
  }
  for (int i = 0; i < kPortCount; i++) {
    const InPort& in = inPorts[i];
    const OutPort& out = outPorts[i];
    EXPECT_NE(std::memchr(in.name, 0, 127), nullptr);
    EXPECT_NE(std::memchr(out.name, 0, 127), nullptr);
    EXPECT_TRUE(isFlag(in.configured) && within(in.deviceId, -1, 0) && within(in.channel, 0, 15));
    EXPECT_TRUE(isFlag(out.configured) && within(out.deviceId, -1, 0) && isFlag(out.noOutput));
    EXPECT_TRUE(within(out.comPort, -99999, 99999));
    EXPECT_TRUE(in.failed == 255 && out.failed == 255 && out.disabled == 255 && out.openDeviceId == -1);
  }
  EXPECT_EQ(rfpeek(), -1) << "the file is closed";
}

}  // namespace

TEST_F(Settings, TruncatedFilesKeepEveryTableInRange) {
  simSetCodePage(932);
  const std::string whole =
      "// settings\r\n-IN1:\"USB \x83\x5C MIDI\":CH2:VIRTUAL -IN2:'Key -OUT1:\"Mapper\":GS:NO\r\n"
      "-OUT2:COM3 -COM4 /* \x81* block */ -mX=2.5 -mY=1.15 -nMin=21 -nMax=108\r\n"
      "-AllChMix=5 -Ch1 -Ch10 -soc -#90 -VOL100 song.mid \"a b.mid\" -LIST -mX=9\r\n";
  for (size_t length = 0; length <= whole.size(); length++) {
    const std::string text = whole.substr(0, length);
    for (int pass = 0; pass < 2; pass++) {
      freshTables();
      ASSERT_EQ(read(text, pass), 0);
      expectTablesInRange(text);
    }
    if (HasFailure()) break;
  }
  EXPECT_STREQ(inPorts[0].name, "USB \x83\x5C MIDI");
  EXPECT_EQ(MagX, 3);
  EXPECT_EQ(MagY, 11);
  EXPECT_EQ(maxcolumns, 2);
}
