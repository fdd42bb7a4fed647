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

using PortReport = PortsFixture;

// All 32 ports failed, each named with 127 bytes (a full field, the stored
// name without room for its terminator): the whole report, in either language.
TEST_F(PortReport, EveryFailedPortWhole) {
  outPortCount = inPortCount = 16;
  std::string outLines, inLines;
  for (int k = 0; k < kPortCount; k++) {
    const std::string outName(kPortNameSize - 1, static_cast<char>('a' + k));
    const std::string inName(kPortNameSize - 1, static_cast<char>('A' + k));
    std::snprintf(outPorts[k].name, kPortNameSize, "%s", outName.c_str());
    std::snprintf(inPorts[k].name, kPortNameSize, "%s", inName.c_str());
    outLines += "  OUT" + std::to_string(k + 1) + ": " + outName + "  \n";
    inLines += "  IN" + std::to_string(k + 1) + ": " + inName + "  \n";
  }
  const std::string english = "Cannot open MIDI OUT Device(s): \n" + outLines + "Cannot open MIDI IN Device(s): \n" +
                              inLines + "Click OK, if you continue and enable port(s) other than the above. ";
  const std::string japanese = sjis(u"次の MIDI 出力が開けませんでした： \n") + outLines +
                               sjis(u"次の MIDI 入力が開けませんでした： \n") + inLines +
                               sjis(u"上記以外のポートを有効にして、継続する場合は OK を押してください. ");
  char text[kPortReportSize];
  EXPECT_EQ(buildPortReport(text, sizeof text, 1033), static_cast<int>(english.size()));
  EXPECT_EQ(std::string(text), english);
  EXPECT_EQ(buildPortReport(text, sizeof text, 1041), static_cast<int>(japanese.size()));
  EXPECT_EQ(std::string(text), japanese);
  // A buffer too small gets nothing rather than a cut text.
  char small[1000];
  EXPECT_EQ(buildPortReport(small, sizeof small, 1033), -1);
  EXPECT_STREQ(small, "");
}

TEST_F(PortReport, OnlyTheFailedPortsAndTheirHeadings) {
  outPortCount = 3;
  inPortCount = 2;
  std::snprintf(outPorts[0].name, kPortNameSize, "Synth");
  std::snprintf(outPorts[2].name, kPortNameSize, "COM4");
  std::snprintf(inPorts[0].name, kPortNameSize, "Keys");
  outPorts[0].failed = inPorts[0].failed = inPorts[1].failed = 0;
  outPorts[5].failed = 255;  // beyond OUT3: not handled
  char text[kPortReportSize];
  buildPortReport(text, sizeof text, 1033);
  const std::string report =
      "Cannot open MIDI OUT Device(s): \n"
      "  OUT2:   \n"
      "  OUT3: COM4  \n"
      "Click OK, if you continue and enable port(s) other than the above. ";
  EXPECT_EQ(text, report);
  // On the desktop a line after it names the devices there are.
  buildPortReport(text, sizeof text, 1033, true);
  EXPECT_EQ(text, report + "\nMIDI devices: IN: -; OUT: - ");
  simAddMidiIn("Keys A");
  simAddMidiOut("Synth");
  simAddMidiOut("Drums");
  buildPortReport(text, sizeof text, 1033, true);
  EXPECT_EQ(text, report + "\nMIDI devices: IN: Keys A; OUT: Synth, Drums ");
}

}  // namespace
