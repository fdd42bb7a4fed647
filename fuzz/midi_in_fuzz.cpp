// Fuzz target of the MIDI input callback: a sim machine with IN1, IN2 and the
// outputs OUT1 "Synth A", OUT2 "Synth B", OUT3 the MIDI mapper and OUT4 on
// COM1, opened as start-up opens them, and the keyboard window. The input is a
// script of events: short messages (running status included), long messages
// of any length, short and long errors, raw notifications with odd codes and
// handles, program assignments, output faults, held long messages, computer
// keys and mouse notes, channel and no-output changes. Afterwards both inputs
// must have both receive buffers queued and still pass a long message on.
#include <cstring>
#include <vector>

#include "app/reset.h"
#include "state/globals.h"
#include "support/log.h"
#include "state/program_tables.h"
#include "display/geometry.h"
#include "state/display_settings.h"
#include "display/window.h"
#include "engine/engine.h"
#include "state/tables.h"
#include "fuzz_common.h"
#include "engine/input_callback.h"
#include "midi/open_close.h"
#include "midi/os_midi.h"
#include "midi/ports.h"
#include "midi/senders.h"
#include "platform/sim/sim.h"

namespace {

enum { kOutputs = 4 };

void configure(int k, const char* name, bool input) {
  char* field = input ? inPorts[k].name : outPorts[k].name;
  std::snprintf(field, kPortNameSize, "%s", name);
  (input ? inPorts[k].configured : outPorts[k].configured) = 255;
}

void openMachine() {
  simAddMidiIn("Keys A");
  simAddMidiIn("Keys B");
  simAddMidiOut("Synth A");
  simAddMidiOut("Synth B");
  simAddSerialPort(1);
  configure(0, "Synth A", false);
  configure(1, "Synth B", false);
  configure(2, "MIDI Mapper", false);
  configure(3, "COM1", false);
  configure(0, "Keys A", true);
  configure(1, "Keys B", true);
  outPortCount = kOutputs;
  inPortCount = 2;
  const PortFailures failures = openConfiguredPorts();
  FUZZ_CHECK(failures.outputs == 0 && failures.inputs == 0);
  FUZZ_CHECK(createKeyboardWindow(407, 50, "Notalumen ") == 0);
  setKeyRange(NoteMin, NoteMax);
  resizeKeyboardWindow(gxright - gxleft + 1, keyHeight);
  relayoutKeyboard();
}

// Bytes of a long message: from the script while it lasts, then a pattern.
std::vector<uint8_t> longBytes(fuzz::Bytes& in, int count) {
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  for (int i = 0; i < count; i++) bytes[static_cast<size_t>(i)] = in.empty() ? static_cast<uint8_t>(i & 0x7F) : static_cast<uint8_t>(in.byte());
  return bytes;
}

// A raw notification as a driver might send it.
void rawNotification(fuzz::Bytes& in, int input) {
  static const unsigned kCodes[8] = {OS_MIM_OPEN, OS_MIM_CLOSE, OS_MIM_DATA, OS_MIM_LONGDATA,
                                     OS_MIM_ERROR, OS_MIM_LONGERROR, 0x3CC /* more data */, 0x12345};
  const int pick = in.byte();
  const unsigned code = kCodes[pick & 7];
  MidiHandle handle = inPorts[input].handle;
  if (pick & 0x08) handle = 0;
  if (pick & 0x10) handle = 0x7777;
  uintptr_t param1 = static_cast<uintptr_t>(in.word16() | in.byte() << 16);
  if (pick & 0x20) param1 = reinterpret_cast<uintptr_t>(&inPorts[input].header);
  if (pick & 0x40) param1 = reinterpret_cast<uintptr_t>(&inPorts[input].spareHeader);
  midiInCallback(handle, code, 0x1231, param1, static_cast<uintptr_t>(in.word16()));
}

void assignProgram(fuzz::Bytes& in, int input) {
  const int trigger = in.word16() % kTriggerCount;
  const int program = in.byte() % (kProgramCount - 1) + 1;
  const int length = in.byte() % 24;
  EngineLock hold;
  for (int i = 0; i < length; i++) {
    const int value = in.byte();
    programData[input][program][i] = value == 0xFF ? kChannelPlaceholder + 0x90 : value;
  }
  programLength[input][program] = static_cast<int16_t>(length);
  keyProgram[input][trigger] = static_cast<int16_t>(program);
}

void outputFault(fuzz::Bytes& in) {
  const int pick = in.byte();
  const int count = pick >> 4 & 3;
  switch (pick & 7) {
    case 0: simFailMidiOutShort(count, OS_MIDI_NODRIVER); break;
    case 1: simFailMidiOutLong(count, OS_MIDI_NODRIVER); break;
    case 2: simFailMidiOutPrepare(count, OS_MIDI_NOMEM); break;
    case 3: simFailSerialWrites(1, count); break;
    case 4: simPartialSerialWrites(1, count); break;
    case 5: simHoldLongMessages(true); break;
    case 6: simHoldLongMessages(false); break;
    default: simFinishLongMessages(); break;
  }
}

void windowThreadEvent(fuzz::Bytes& in) {
  const int pick = in.byte();
  const int value = in.byte();
  switch (pick & 3) {
    case 0: keyDownEvent(value); break;
    case 1: keyUpEvent(value); break;
    case 2: playMouseNote(pick >> 4, value & 0x7F); break;
    default: releaseMouseNote(pick >> 4, value & 0x7F); break;
  }
}

void settingChange(fuzz::Bytes& in, int input) {
  const int pick = in.byte();
  if (pick & 1) {
    inPorts[input].channel = static_cast<int8_t>(pick >> 1 & 15);
  } else {
    outPorts[pick >> 1 & 3].noOutput = pick & 0x20 ? 255 : 0;
  }
}

void runScript(fuzz::Bytes& in) {
  while (!in.empty()) {
    const int op = in.byte();
    const int input = op & 1;
    const uint32_t time = static_cast<uint32_t>(op << 4);
    switch ((op >> 1) % 12) {
      case 0:
      case 1:
      case 2: {
        const uint32_t word = static_cast<uint32_t>(in.byte() | in.byte() << 8 | in.byte() << 16);
        simMidiInShort(input, word, time);
        break;
      }
      case 3: {
        const int count = in.word16() % 20000 + 1;
        const std::vector<uint8_t> bytes = longBytes(in, count);
        simMidiInLong(input, bytes.data(), count, time);
        break;
      }
      case 4:
        simMidiInError(input, static_cast<uint32_t>(in.byte() | in.byte() << 8 | in.byte() << 16), time);
        break;
      case 5: {
        const int count = in.byte() % 64 + 1;
        const std::vector<uint8_t> bytes = longBytes(in, count);
        simMidiInLongError(input, bytes.data(), count, time);
        break;
      }
      case 6: rawNotification(in, input); break;
      case 7: assignProgram(in, input); break;
      case 8: outputFault(in); break;
      case 9: windowThreadEvent(in); break;
      case 10: settingChange(in, input); break;
      default: logQuiet = logQuiet ? 0 : 255; break;
    }
  }
}

// Both inputs keep both receive buffers queued and still pass a long message
// on, once the output faults are over.
void checkInputsStillWork() {
  simHoldLongMessages(false);
  simFinishLongMessages();
  simFailMidiOutShort(0, 0);
  simFailMidiOutLong(0, 0);
  simFailMidiOutPrepare(0, 0);
  simFailSerialWrites(1, 0);
  simPartialSerialWrites(1, 0);
  outPorts[0].noOutput = 0;
  const uint8_t sysex[] = {0xF0, 0x7D, 0x01, 0x02, 0x03, 0xF7};
  for (int input = 0; input < 2; input++) {
    FUZZ_CHECK(simMidiInQueuedBuffers(input) == 2);
    FUZZ_CHECK(simMidiInLong(input, sysex, 6, 0));
    const std::vector<SimMidiOutEvent> events = simMidiOutEvents(0);
    FUZZ_CHECK(!events.empty() && events.back().isLong);
    FUZZ_CHECK(events.back().bytes == std::vector<uint8_t>(sysex, sysex + 6));
  }
  for (int c = 0; c < kChannelCount; c++) FUZZ_CHECK(heldCount[c] >= 0 && heldCount[c] <= 128);
  FUZZ_CHECK(maxcolumns >= 0 && maxcolumns <= kChannelCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  simReset();
  resetGlobalState();
  setLongMessageWaitPolls(3);
  openMachine();
  fuzz::Bytes in{data, size, 0};
  runScript(in);
  checkInputsStillWork();
  closeAllPorts();
  destroyKeyboardWindow();
  resetGlobalState();
  return 0;
}
