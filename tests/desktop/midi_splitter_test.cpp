// The byte-stream splitter of the desktop MIDI backend and its device names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/desktop/desktop_midi.h"

namespace {

// Feeds a stream and writes what comes out, one piece a line: messages as hex
// bytes, system-exclusive pieces as words ("cut" feeds its byte again).
std::string split(MidiSplitter* s, const std::vector<uint8_t>& bytes) {
  std::string out;
  char text[16];
  for (size_t i = 0; i < bytes.size();) {
    uint8_t m[3];
    int n = 0;
    switch (midiSplit(s, bytes[i], m, &n)) {
      case MIDI_PIECE_SHORT:
        if (!out.empty() && out.back() != '\n') out += "\n";
        for (int k = 0; k < n; k++) {
          std::snprintf(text, sizeof text, k ? " %02X" : "%02X", m[k]);
          out += text;
        }
        out += "\n";
        break;
      case MIDI_PIECE_SYSEX_START:
        out += "sysex";
        break;
      case MIDI_PIECE_SYSEX_BYTE:
        std::snprintf(text, sizeof text, " %02X", bytes[i]);
        out += text;
        break;
      case MIDI_PIECE_SYSEX_END:
        out += " end\n";
        break;
      case MIDI_PIECE_SYSEX_CUT:
        out += " cut\n";
        continue;
      case MIDI_PIECE_STRAY:
        std::snprintf(text, sizeof text, "stray %02X\n", bytes[i]);
        out += text;
        break;
      case MIDI_PIECE_NONE:
        break;
    }
    i++;
  }
  return out;
}

std::string split(const std::vector<uint8_t>& bytes) {
  MidiSplitter s;
  midiSplitterReset(&s);
  return split(&s, bytes);
}

TEST(MidiSplitter, RunningStatusIsWrittenOutAndMessagesWaitForTheirBytes) {
  EXPECT_EQ("90 3C 64\n90 3E 64\n90 40 00\n", split({0x90, 0x3C, 0x64, 0x3E, 0x64, 0x40, 0x00}));
  EXPECT_EQ("C0 05\nC0 06\nD1 40\n", split({0xC0, 0x05, 0x06, 0xD1, 0x40}));
  MidiSplitter s;
  midiSplitterReset(&s);
  EXPECT_EQ("", split(&s, {0x90}));
  EXPECT_EQ("", split(&s, {0x3C}));
  EXPECT_EQ("90 3C 7F\n", split(&s, {0x7F}));
  EXPECT_EQ("90 3E 7F\n", split(&s, {0x3E, 0x7F}));
}

TEST(MidiSplitter, RealTimeBytesComeAtOnceAndDisturbNothing) {
  EXPECT_EQ("F8\n90 3C 64\nFE\n90 3E 64\n", split({0x90, 0xF8, 0x3C, 0x64, 0xFE, 0x3E, 0x64}));
  EXPECT_EQ("sysex 43 10\nFA\n 7E end\n", split({0xF0, 0x43, 0x10, 0xFA, 0x7E, 0xF7}));
}

TEST(MidiSplitter, SystemMessagesEndRunningStatus) {
  EXPECT_EQ("90 3C 64\nF2 10 20\nstray 3E\nstray 64\n", split({0x90, 0x3C, 0x64, 0xF2, 0x10, 0x20, 0x3E, 0x64}));
  EXPECT_EQ("F6\nF1 20\nF3 05\n", split({0xF6, 0xF1, 0x20, 0xF3, 0x05}));
  EXPECT_EQ("sysex 01 end\nstray 3C\n", split({0xF0, 0x01, 0xF7, 0x3C}));
}

TEST(MidiSplitter, SystemExclusiveEndsWithF7OrIsCutAndStatusAbandonsAMessage) {
  EXPECT_EQ("sysex 43 10 4C end\n", split({0xF0, 0x43, 0x10, 0x4C, 0xF7}));
  EXPECT_EQ("sysex 43 cut\n80 3C 00\n", split({0xF0, 0x43, 0x80, 0x3C, 0x00}));
  EXPECT_EQ("sysex 01 cut\nsysex 02 end\n", split({0xF0, 0x01, 0xF0, 0x02, 0xF7}));
  EXPECT_EQ("B0 07 64\n", split({0x90, 0x3C, 0xB0, 0x07, 0x64}));
  EXPECT_EQ("stray 3C\nstray F7\n", split({0x3C, 0xF7}));
}

std::string deviceName(const char* port, int alsa) {
  char name[32];
  desktopMidiDeviceName(port, alsa, name);
  return name;
}

TEST(MidiDeviceName, AlsaAddressIsDropped) {
  EXPECT_EQ("Midi Through:Midi Through Port-", deviceName("Midi Through:Midi Through Port-0 14:0", 1));
  EXPECT_EQ("USB Keys:USB Keys MIDI 1", deviceName("USB Keys:USB Keys MIDI 1 20:0", 1));
  // JACK names carry no address; a name that only looks like one stays.
  EXPECT_EQ("synth:in 1:2", deviceName("synth:in 1:2", 0));
  EXPECT_EQ("a:b 12", deviceName("a:b 12", 1));
}

TEST(MidiDeviceName, CutTo31BytesOnACharacterBoundary) {
  EXPECT_EQ(std::string(31, 'x'), deviceName(std::string(40, 'x').c_str(), 0));
  // 30 ASCII bytes, then a three-byte character that would straddle byte 31.
  const std::string port = std::string(30, 'k') + "\xE9\x8D\xB5:keys";
  EXPECT_EQ(std::string(30, 'k'), deviceName(port.c_str(), 0));
}

}  // namespace
