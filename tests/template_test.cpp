// Settings template and device listings, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "state/globals.h"
#include "midi/os_midi.h"
#include "midi/template.h"
#include "ports_fixture.h"

namespace {

const char kTail[] =
    "-mX=1 -mY=1.0        // (multiplying sizes for X/Y) - display sizes \r\n"
    "-nMin=21 -nMax=108   // (noteMin-noteMax) - display note range 0-127 \r\n"
    "-soc                 // (stay on console) - for detailed info. display \r\n"
    "// -AllChMix   // fix 1st-row to display all MIDI channels 1-16 \r\n"
    "// -Ch1   // fix 1st-row display MIDI channel to Ch=1 \r\n"
    "// -Ch2   // fix 2nd-row display MIDI channel to Ch=2 \r\n"
    "// -Ch3   // fix 3rd-row display MIDI channel to Ch=3 \r\n";

class Template : public PortsFixture {
 protected:
  int write() {
    std::string narrow = simFile("sonrack.ini");
    std::u16string wide(narrow.begin(), narrow.end());
    return writeSettingsTemplate(narrow.c_str(), wide.c_str());
  }
};

}  // namespace

TEST_F(Template, MachineWithInputsAndOutputs) {
  simAddMidiIn("USB Keyboard");
  simAddMidiIn("MIDI Interface");
  simAddMidiOut("Software Synth", 1);
  simAddMidiOut("USB Keyboard");
  simAddMidiOut("MIDI Interface", OS_MM_ROLAND);
  writeHostFile("sonrack.ini", std::string(10000, 'x'));
  EXPECT_EQ(write(), 3);
  std::string expected =
      "// --- MIDI IN: 2 device(s).\r\n"
      "-IN1:\"USB Keyboard\"\r\n"
      "-IN2:\"MIDI Interface\"\r\n"
      "\r\n"
      "// --- MIDI OUT: 3 device(s).\r\n"
      "-OUT1:\"USB Keyboard\":NO\r\n"
      "-OUT2:\"MIDI Interface\":NO\r\n"
      "// -OUT3:\"Software Synth\":GM\r\n"
      "\r\n" +
      std::string(kTail);
  EXPECT_EQ(readHostFile("sonrack.ini"), expected) << "the old file is replaced completely";
}

TEST_F(Template, NoDevice) {
  EXPECT_EQ(write(), 0);
  EXPECT_EQ(readHostFile("sonrack.ini"),
            "// --- MIDI IN: 0 device(s).\r\n\r\n// --- MIDI OUT: 0 device(s).\r\n\r\n" + std::string(kTail));
}

TEST_F(Template, MakersCaseAndFailedQueries) {
  simAddMidiIn("USB Keyboard");
  simAddMidiIn("Broken In");
  simAddMidiIn("\x83\x73\x83\x41\x83\x6d");  // a Shift-JIS name, as reported
  simAddMidiOut("XG Module", OS_MM_YAMAHA);
  simAddMidiOut("usb keyboard");
  simAddMidiOut("Broken Out");
  simAddMidiOut("GS Module", OS_MM_ROLAND);
  simAddMidiOut("Korg Synth", OS_MM_KORG);
  simAddMidiOut("\x83\x73\x83\x41\x83\x6d");
  simFailMidiInCaps(1, OS_MIDI_NODRIVER);
  simFailMidiOutCaps(2, OS_MIDI_BADDEVICEID);
  EXPECT_EQ(write(), 6);
  std::string expected =
      "// --- MIDI IN: 3 device(s).\r\n"
      "-IN1:\"USB Keyboard\"\r\n"
      "-IN3:\"\x83\x73\x83\x41\x83\x6d\"\r\n"
      "\r\n"
      "// --- MIDI OUT: 6 device(s).\r\n"
      "-OUT1:\"\x83\x73\x83\x41\x83\x6d\":NO\r\n"
      "// -OUT2:\"XG Module\":XG\r\n"
      "// -OUT3:\"usb keyboard\":GM\r\n"
      "// -OUT4:\"GS Module\":GS\r\n"
      "// -OUT5:\"Korg Synth\":GM\r\n"
      "\r\n" +
      std::string(kTail);
  EXPECT_EQ(readHostFile("sonrack.ini"), expected);
}

TEST_F(Template, WithoutAFileTheDevicesAreStillEnumerated) {
  simAddMidiOut("Synth");
  simFailFileOpens(2);
  EXPECT_EQ(write(), 1);
  EXPECT_EQ(readHostFile("sonrack.ini"), "<missing>");
  int caps = 0;
  for (const std::string& c : simMidiCalls()) caps += c == "midiOutCaps 0";
  EXPECT_EQ(caps, 2);
}

TEST_F(Template, StartupListingsCountTheDevices) {
  simAddMidiIn("Keys");
  simAddMidiOut("A");
  simAddMidiOut("B");
  simFailMidiOutCaps(0, OS_MIDI_NOMEM);
  EXPECT_EQ(listMidiInDevices(), 1);
  EXPECT_EQ(listMidiOutDevices(), 2);
  EXPECT_EQ(readHostFile("sonrack.ini"), "<missing>") << "the listings write no file";
}
