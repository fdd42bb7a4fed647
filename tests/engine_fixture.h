// Fixture for the engine, playback and input-callback tests: a sim machine
// with two inputs and three outputs opened through the port code, a keyboard
// window whose back buffer shows what was drawn, and helpers that play MIDI in
// the way a device delivers it.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <vector>

#include "state/program_tables.h"
#include "display/drawing.h"
#include "display/geometry.h"
#include "state/display_settings.h"
#include "display/window.h"
#include "engine/engine.h"
#include "state/tables.h"
#include "midi/open_close.h"
#include "midi/ports.h"
#include "midi/serial.h"
#include "sim_fixture.h"

class EngineFixture : public SimTest {
 protected:
  enum { kNoLook = -99, kMixedLooks = -98 };

  void SetUp() override {
    SimTest::SetUp();
    resetOpenCloseState();
    resetSerialState();
    resetKeyboardDisplay();
  }
  void TearDown() override {
    closeAllPorts();
    destroyKeyboardWindow();
    resetKeyboardDisplay();
    SimTest::TearDown();
  }

  // IN1 "Keys A" and IN2 "Keys B" (devices 0, 1); OUT1..OUT3 on the output
  // devices "Synth A".."Synth C" (device indexes 0..2).
  static void openPorts() {
    for (const char* device : {"Synth A", "Synth B", "Synth C"}) simAddMidiOut(device);
    openConfigured({"Synth A", "Synth B", "Synth C"});
    simClearPauses();
  }

  // The rig of the fault and soak tests on a fresh machine, opened as start-up
  // opens it, with the keyboard window: IN1 "Keys A", IN2 "Keys B"; OUT1
  // "Synth A", OUT2 "Synth B", OUT3 the MIDI mapper, OUT4 on COM1.
  enum { kRigSerial = 1 };
  static void openRig() {
    simAddMidiOut("Synth A");
    simAddMidiOut("Synth B");
    simAddSerialPort(kRigSerial);
    openConfigured({"Synth A", "Synth B", "MIDI Mapper", "COM1"});
    openWindow();
  }

  // Adds the input devices "Keys A" and "Keys B", names them IN1 and IN2 and
  // the outputs OUT1..OUTn as the settings do, and opens every port.
  static void openConfigured(std::initializer_list<const char*> outputs) {
    int k = 0;
    for (const char* output : outputs) {
      std::snprintf(outPorts[k].name, kPortNameSize, "%s", output);
      outPorts[k++].configured = 255;
    }
    outPortCount = k;
    simAddMidiIn("Keys A");
    simAddMidiIn("Keys B");
    std::snprintf(inPorts[0].name, kPortNameSize, "Keys A");
    std::snprintf(inPorts[1].name, kPortNameSize, "Keys B");
    inPorts[0].configured = inPorts[1].configured = 255;
    inPortCount = 2;
    PortFailures f = openConfiguredPorts();
    ASSERT_EQ(f.outputs + f.inputs, 0);
  }

  // The keyboard window as start-up lays it out (default range, one column).
  static void openWindow() {
    ASSERT_EQ(createKeyboardWindow(407, 50, "Notalumen "), 0);
    setKeyRange(NoteMin, NoteMax);
    resizeKeyboardWindow(gxright - gxleft + 1, keyHeight);
    relayoutKeyboard();
    simClearPauses();
  }

  // Input device i delivers a short message (status, data bytes), or several in turn.
  static void in3(int i, int b0, int b1, int b2, uint32_t time = 0) {
    simMidiInShort(i, static_cast<uint32_t>(b0 | b1 << 8 | b2 << 16), time);
  }
  static void inAll(int i, std::initializer_list<std::array<int, 3>> messages) {
    for (const auto& m : messages) in3(i, m[0], m[1], m[2]);
  }

  // The short words output device k received, and its long messages.
  static std::vector<uint32_t> words(int k) {
    std::vector<uint32_t> w;
    for (const SimMidiOutEvent& e : simMidiOutEvents(k)) {
      if (!e.isLong) w.push_back(e.word);
    }
    return w;
  }
  static std::vector<std::vector<uint8_t>> longs(int k) {
    std::vector<std::vector<uint8_t>> l;
    for (const SimMidiOutEvent& e : simMidiOutEvents(k)) {
      if (e.isLong) l.push_back(e.bytes);
    }
    return l;
  }
  static uint32_t word(int b0, int b1, int b2 = 0) { return static_cast<uint32_t>(b0 | b1 << 8 | b2 << 16); }

  // Program p of table t holds the values.
  static void setProgram(int t, int p, std::initializer_list<int32_t> values) {
    int k = 0;
    for (int32_t v : values) programData[t][p][k++] = v;
    programLength[t][p] = static_cast<int16_t>(k);
  }

  // How key note of channel c's column looks in the back buffer: kLookOff,
  // kLookSustained or kLookOn, kNoLook when it is not shown, kMixedLooks when
  // its pixels disagree. In the single column, c is 0.
  static int keyLook(int c, int note) {
    struct Shade {
      uint32_t rgb;  // interior colour
      int look;      // look it stands for
    };
    static const Shade shades[6] = {{0xFFFFFF, kLookOff}, {0xFFB4B4, kLookSustained}, {0xFF7878, kLookOn},
                                    {0x505050, kLookOff}, {0xAA5050, kLookSustained}, {0xFA6464, kLookOn}};
    int w = 0, h = 0;
    simSurfaceSize(backBuffer, &w, &h);
    std::set<int> seen;
    for (int y = 0; y < h; y++) {
      for (int x = 0; x < w; x++) {
        uint32_t rgb = simSurfacePixel(backBuffer, x, y);
        for (const Shade& s : shades) {
          if (s.rgb != rgb) continue;
          KeyHit hit = hitTest(x, y);
          if (hit.channel == c && hit.note == note) seen.insert(s.look);
        }
      }
    }
    if (seen.empty()) return kNoLook;
    return seen.size() == 1 ? *seen.begin() : kMixedLooks;
  }
  static std::vector<int> keyLooks(int c, std::initializer_list<int> notes) {
    std::vector<int> looks;
    for (int note : notes) looks.push_back(keyLook(c, note));
    return looks;
  }
  using Looks = std::vector<int>;
  using Words = std::vector<uint32_t>;

  // Full relayouts since the last simClearPauses (each ends with a 1 ms pause).
  static int relayouts() {
    int n = 0;
    for (int p : simPauses()) n += p == 1;
    return n;
  }

  static int heldOf(int c) {
    EngineLock hold;
    return heldNoteCount(c);
  }
};
