// The report of ports that failed to open, in English and Japanese.
#include <gtest/gtest.h>

#include <string>

#include "midi/port_report.h"
#include "ports_fixture.h"
#include "support/sjis.h"

namespace {

std::string sjis(const char16_t* text) {
  char buffer[512];
  wideToSjis(buffer, sizeof buffer, text);
  return buffer;
}

std::string name127(char fill) { return std::string(127, fill); }

// All 32 ports failed, each named with 127 bytes (a full field, the stored
// name without room for its terminator).
void failEverything() {
  outPortCount = 16;
  inPortCount = 16;
  for (int k = 0; k < kPortCount; k++) {
    std::memset(outPorts[k].name, 'a' + k, kPortNameSize - 1);
    outPorts[k].name[kPortNameSize - 1] = 0;
    std::memset(inPorts[k].name, 'A' + k, kPortNameSize - 1);
    inPorts[k].name[kPortNameSize - 1] = 0;
  }
}

std::string portLines() {
  std::string lines[2];
  for (int k = 0; k < kPortCount; k++) {
    lines[0] += "  OUT" + std::to_string(k + 1) + ": " + name127(static_cast<char>('a' + k)) + "  \n";
    lines[1] += "  IN" + std::to_string(k + 1) + ": " + name127(static_cast<char>('A' + k)) + "  \n";
  }
  return lines[0] + "|" + lines[1];
}

using PortReport = PortsFixture;

}  // namespace

TEST_F(PortReport, EveryFailedPortInEnglishWhole) {
  failEverything();
  char text[kPortReportSize];
  int length = buildPortReport(text, sizeof text, 1033);
  std::string lines = portLines();
  size_t bar = lines.find('|');
  std::string expected = "Cannot open MIDI OUT Device(s): \n" + lines.substr(0, bar) +
                         "Cannot open MIDI IN Device(s): \n" + lines.substr(bar + 1) +
                         "Click OK, if you continue and enable port(s) other than the above. ";
  EXPECT_EQ(std::string(text), expected);
  EXPECT_EQ(length, static_cast<int>(expected.size()));
}

TEST_F(PortReport, EveryFailedPortInJapaneseWhole) {
  failEverything();
  char text[kPortReportSize];
  int length = buildPortReport(text, sizeof text, 1041);
  std::string lines = portLines();
  size_t bar = lines.find('|');
  std::string expected = sjis(u"次の MIDI 出力が開けませんでした： \n") + lines.substr(0, bar) +
                         sjis(u"次の MIDI 入力が開けませんでした： \n") + lines.substr(bar + 1) +
                         sjis(u"上記以外のポートを有効にして、継続する場合は OK を押してください. ");
  EXPECT_EQ(std::string(text), expected);
  EXPECT_EQ(length, static_cast<int>(expected.size()));
}

TEST_F(PortReport, OnlyTheFailedPortsAndTheirHeadings) {
  outPortCount = 3;
  inPortCount = 2;
  std::snprintf(outPorts[0].name, kPortNameSize, "Synth");
  std::snprintf(outPorts[2].name, kPortNameSize, "COM4");
  std::snprintf(inPorts[0].name, kPortNameSize, "Keys");
  outPorts[0].failed = 0;
  inPorts[0].failed = 0;
  inPorts[1].failed = 0;
  outPorts[5].failed = 255;  // beyond OUT3: not handled
  char text[kPortReportSize];
  buildPortReport(text, sizeof text, 1033);
  EXPECT_STREQ(text,
               "Cannot open MIDI OUT Device(s): \n"
               "  OUT2:   \n"
               "  OUT3: COM4  \n"
               "Click OK, if you continue and enable port(s) other than the above. ");
}

TEST_F(PortReport, ABufferTooSmallGetsNothingRatherThanACutText) {
  failEverything();
  char text[1000];
  EXPECT_EQ(buildPortReport(text, sizeof text, 1033), -1);
  EXPECT_STREQ(text, "");
}
