// Desktop (Linux) MIDI services over RtMidi: the devices are the ports of other
// programs on the ALSA sequencer or on a JACK server, the MIDI mapper is a port
// of our own named "Notalumen Out", and input notifications come on RtMidi's
// thread (ALSA: its reader thread; JACK: the client's process thread).
//
// Which MIDI system: NOTALUMEN_MIDI=alsa or NOTALUMEN_MIDI=jack forces one;
// otherwise JACK when a JACK server answers (the server JACK_DEFAULT_SERVER
// names, as for any JACK program; never started on our behalf), else ALSA when
// /dev/snd/seq opens, else none (no devices, the mapper cannot open). The choice
// is made again at each device count or open while no handle is open, so a
// JACK server started or stopped between two runs of the lists is followed.
#include <fcntl.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "support/log.h"
#include "midi/os_midi.h"
#include "platform/desktop/desktop_midi.h"
#include "platform/desktop/jack_out.h"
#include "platform/posix/midi_headers.h"

// On JACK the outputs do not go through RtMidi: their ports are on our own
// client, fed by the queues of jack_out.cpp (which says why).

// ---- The byte-stream splitter.

int midiMessageLength(uint8_t status) {
  if (status < 0x80 || status == 0xF0) return 0;
  if (status < 0xC0) return 3;  // note off/on, key pressure, control change
  if (status < 0xE0) return 2;  // program change, channel pressure
  if (status < 0xF0) return 3;  // pitch bend
  if (status == 0xF1 || status == 0xF3) return 2;
  if (status == 0xF2) return 3;
  return 1;  // F4..F7 and the real-time bytes
}

void midiSplitterReset(MidiSplitter* splitter) { *splitter = MidiSplitter{}; }

MidiPiece midiSplit(MidiSplitter* s, uint8_t byte, uint8_t message[3], int* length) {
  if (byte >= 0xF8) {
    message[0] = byte;
    *length = 1;
    return MIDI_PIECE_SHORT;
  }
  if (s->inSysex) {
    if (byte < 0x80) return MIDI_PIECE_SYSEX_BYTE;
    s->inSysex = 0;
    return byte == 0xF7 ? MIDI_PIECE_SYSEX_END : MIDI_PIECE_SYSEX_CUT;
  }
  if (byte >= 0x80) {
    // A new status abandons a message that had not got all its data bytes.
    s->have = 0;
    s->need = 0;
    if (byte == 0xF0) {
      s->running = 0;
      s->inSysex = 1;
      return MIDI_PIECE_SYSEX_START;
    }
    // System common messages cancel running status; channel messages set it.
    s->running = byte < 0xF0 ? byte : 0;
    if (byte == 0xF7) return MIDI_PIECE_STRAY;
    const int n = midiMessageLength(byte);
    if (n == 1) {
      message[0] = byte;
      *length = 1;
      return MIDI_PIECE_SHORT;
    }
    s->message[0] = byte;
    s->have = 1;
    s->need = static_cast<uint8_t>(n);
    return MIDI_PIECE_NONE;
  }
  if (s->need == 0) {
    if (!s->running) return MIDI_PIECE_STRAY;
    s->message[0] = s->running;
    s->have = 1;
    s->need = static_cast<uint8_t>(midiMessageLength(s->running));
  }
  s->message[s->have++] = byte;
  if (s->have < s->need) return MIDI_PIECE_NONE;
  std::memcpy(message, s->message, s->have);
  *length = s->have;
  s->have = 0;
  s->need = 0;
  return MIDI_PIECE_SHORT;
}

void desktopMidiDeviceName(const char* portName, int alsa, char name[32]) {
  size_t n = std::strlen(portName);
  if (alsa) {
    // RtMidi appends the sequencer address " client:port"; it changes from
    // boot to boot and would make a configured name stale.
    size_t i = n;
    while (i > 0 && portName[i - 1] >= '0' && portName[i - 1] <= '9') i--;
    if (i < n && i > 0 && portName[i - 1] == ':') {
      const size_t colon = i - 1;
      i = colon;
      while (i > 0 && portName[i - 1] >= '0' && portName[i - 1] <= '9') i--;
      if (i < colon && i > 0 && portName[i - 1] == ' ') n = i - 1;
    }
  }
  if (n > 31) {
    n = 31;
    // Never leave half of a UTF-8 character at the end.
    while (n > 0 && (static_cast<unsigned char>(portName[n]) & 0xC0) == 0x80) n--;
  }
  std::memcpy(name, portName, n);
  name[n] = '\0';
}

// ---- Tables.

namespace {

enum {
  kMaxDevices = 64,      // devices listed per direction
  kPortNameBytes = 320,  // longest full port name kept (JACK allows 256 + 64)
  kInSlots = 16,         // input handles open at once
  kOutSlots = 17,        // output handles open at once (16 outputs and one more)
  kInQueue = 16,         // receive headers queued per input
  kInTag = 0x10,         // handle tags: low byte of a handle, slot added
  kOutTag = 0x40
};

struct ErrorRecord {
  std::atomic<int> failed;  // RtMidi reported an error since this was cleared
  std::atomic<int> type;    // RtMidiError::Type of the last one
};

struct DeviceList {
  int taken;                               // 1 once the list has been taken
  int alsa;                                // the names are ALSA port names
  int count;                               // devices listed
  char port[kMaxDevices][kPortNameBytes];  // full port names as RtMidi gives them
};

struct Session {
  DesktopMidiSystem system;   // MIDI system in use
  jack_client_t* jack;        // our JACK client that watches the server; null off JACK
  std::atomic<int> jackGone;  // the JACK server shut down under that client
  RtMidiIn* inLister;         // lists the ports we can read from
  RtMidiOut* outLister;       // lists the ports we can write to
  ErrorRecord listerErrors;   // errors of both listers
  char client[48];            // client name of all our ports: "Notalumen-<pid>"
  int hooksSet;               // exit hook and JACK message sinks installed
};

struct InSlot {
  std::recursive_mutex lock;    // guards the fields; held while notifications are made
  uint32_t generation;          // generation of the handle open on the slot
  uint8_t open;                 // a handle is open
  uint8_t closing;              // being closed: nothing more is delivered
  uint8_t started;              // between start and reset: messages are delivered
  RtMidiIn* midi;               // connection to the device
  MidiInCallback callback;      // the caller's notification callback
  uintptr_t instance;           // the caller's instance value
  int64_t startMs;              // monotonic milliseconds at the start
  MidiSplitter splitter;        // the incoming byte stream
  MidiHeader* current;          // header that a system-exclusive message is filling
  MidiHeader* queue[kInQueue];  // queued headers, oldest first
  int queued;                   // headers in queue
  ErrorRecord errors;           // errors RtMidi reported for this connection
};

struct OutSlot {
  std::mutex lock;        // guards the fields; held through each send
  uint32_t generation;    // generation of the handle open on the slot
  uint8_t open;           // a handle is open
  uint8_t mapper;         // the handle is on the MIDI mapper port
  RtMidiOut* midi;        // ALSA: own connection to the device
  int8_t lane;            // JACK: the jack_out lane that carries the sends; -1 on ALSA
  MidiSplitter splitter;  // the outgoing byte stream
  uint8_t wordStatus;     // status that a short word without status continues
  ErrorRecord errors;     // errors RtMidi reported for the own connection
};

struct MapperPort {
  std::mutex lock;     // one send at a time through the shared port
  RtMidiOut* midi;     // ALSA: connection that holds the port "Notalumen Out" while users > 0
  int users;           // mapper handles open (under tableLock)
  ErrorRecord errors;  // errors RtMidi reported for the port
};

constexpr int kMapperLane = kOutSlots;  // jack_out lane of the mapper's port
static_assert(kOutSlots + 1 <= kJackOutLanes, "a lane for every output and the mapper");

std::mutex tableLock;  // open, close, lists and the session; never taken on a send
Session session;
DeviceList inList;
DeviceList outList;
InSlot inSlots[kInSlots];
OutSlot outSlots[kOutSlots];
MapperPort mapperPort;
uint32_t lastGeneration;
int openHandles;  // input and output handles open (under tableLock)
thread_local int deliveringOnMidiThread;  // inside a notification made on RtMidi's thread

const char kMapperPortName[] = "Notalumen Out";

int64_t nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

uint32_t nextGeneration() {
  if (++lastGeneration > 0xFFFFFF) lastGeneration = 1;
  return lastGeneration;
}

MidiHandle makeHandle(int tag, uint32_t generation) {
  return static_cast<MidiHandle>((static_cast<intptr_t>(generation) << 8) | tag);
}

InSlot* inSlotOf(MidiHandle handle, uint32_t* generation) {
  const intptr_t tag = handle & 0xFF;
  if (handle <= 0 || tag < kInTag || tag >= kInTag + kInSlots) return nullptr;
  *generation = static_cast<uint32_t>(handle >> 8);
  return &inSlots[tag - kInTag];
}

OutSlot* outSlotOf(MidiHandle handle, uint32_t* generation) {
  const intptr_t tag = handle & 0xFF;
  if (handle <= 0 || tag < kOutTag || tag >= kOutTag + kOutSlots) return nullptr;
  *generation = static_cast<uint32_t>(handle >> 8);
  return &outSlots[tag - kOutTag];
}

// ---- Errors.

void onRtMidiError(RtMidiError::Type type, const std::string& text, void* data) {
  // With a callback set RtMidi throws nothing and prints nothing: the call that
  // failed returns and we look at the record.
  if (type == RtMidiError::DEBUG_WARNING) return;
  ErrorRecord* record = static_cast<ErrorRecord*>(data);
  record->type.store(type);
  record->failed.store(1);
  log("MIDI: %s\n", text.c_str());
}

// Result code of an RtMidi failure. connecting: the failure came while joining
// the other program's port, which the port code reports as a device in use.
int resultOf(int type, bool connecting) {
  switch (type) {
    case RtMidiError::INVALID_DEVICE:
    case RtMidiError::NO_DEVICES_FOUND:
      return OS_MIDI_BADDEVICEID;
    case RtMidiError::MEMORY_ERROR:
      return OS_MIDI_NOMEM;
    case RtMidiError::INVALID_PARAMETER:
    case RtMidiError::INVALID_USE:
      return OS_MIDI_INVALPARAM;
    default:
      return connecting ? OS_MIDI_ALLOCATED : OS_MIDI_NODRIVER;
  }
}

// Result code of an exception that left RtMidi or the library.
int resultOfException() {
  try {
    throw;
  } catch (const RtMidiError& e) {
    log("MIDI: %s\n", e.what());
    return resultOf(e.getType(), false);
  } catch (const std::bad_alloc&) {
    return OS_MIDI_NOMEM;
  } catch (const std::exception& e) {
    log("MIDI: %s\n", e.what());
    return OS_MIDI_NODRIVER;
  } catch (...) {
    return OS_MIDI_NODRIVER;
  }
}

void onJackMessage(const char* text) { log("JACK: %s\n", text); }

void onJackShutdown(void*) { session.jackGone.store(1); }

// ---- The session: which system, and the two listers.

RtMidi::Api rtApi() { return session.system == DESKTOP_MIDI_JACK ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA; }

void dropListers() {
  delete session.inLister;
  delete session.outLister;
  session.inLister = nullptr;
  session.outLister = nullptr;
  inList.taken = 0;
  outList.taken = 0;
}

// ALSA outputs: a connection per open handle, gone when the handle closes.
void releaseOutput(RtMidiOut** midi) {
  delete *midi;
  *midi = nullptr;
}

void dropJack() {
  if (!session.jack) return;
  dropListers();  // the lists were of the server that went
  jackOutUnbind();
  jack_client_close(session.jack);
  session.jack = nullptr;
}

// Lets go of everything the session holds (lists, the JACK watch client)
// while no handle is open.
bool endSession() {
  if (openHandles > 0) return false;
  dropListers();
  if (session.jack) {
    jackOutUnbind();
    jack_client_close(session.jack);
  }
  session.jack = nullptr;
  session.system = DESKTOP_MIDI_NONE;
  return true;
}

void closeSessionAtExit() {
  std::lock_guard<std::mutex> guard(tableLock);
  // Every JACK client goes, so the server forgets us at once and none of our
  // semaphores stays behind in /dev/shm. Handles still open (a port code that
  // did not close them) are left as they are.
  try {
    endSession();
  } catch (...) {
  }
}

bool jackAnswers() {
  if (session.jack && !session.jackGone.load()) return true;
  dropJack();
  jack_status_t status;
  jack_client_t* client = jack_client_open(session.client, JackNoStartServer, &status);
  if (!client) return false;
  session.jackGone.store(0);
  // The client watches the server (libjack tells it when the server goes
  // away) and carries the output ports; it is active only while one is open.
  jack_on_shutdown(client, onJackShutdown, nullptr);
  jackOutBind(client);
  session.jack = client;
  return true;
}

bool alsaAnswers() {
  // RtMidi opens the sequencer through this device; without it (a container,
  // a machine without the snd-seq module) its constructor would throw and print.
  const int fd = ::open("/dev/snd/seq", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

DesktopMidiSystem chooseSystem() {
  const char* forced = std::getenv("NOTALUMEN_MIDI");
  const bool onlyAlsa = forced && strcasecmp(forced, "alsa") == 0;
  const bool onlyJack = forced && strcasecmp(forced, "jack") == 0;
  if (!onlyAlsa && jackAnswers()) return DESKTOP_MIDI_JACK;
  dropJack();
  if (!onlyJack && alsaAnswers()) return DESKTOP_MIDI_ALSA;
  return DESKTOP_MIDI_NONE;
}

// Brings the session up to date. With a handle open the system stays as it is.
void ensureSession() {
  if (!session.hooksSet) {
    session.hooksSet = 1;
    std::snprintf(session.client, sizeof session.client, "Notalumen-%d", static_cast<int>(::getpid()));
    // libjack writes its complaints (a server that is not there, above all)
    // to standard error; they go to the diagnostics instead.
    jack_set_error_function(onJackMessage);
    jack_set_info_function(onJackMessage);
    std::atexit(closeSessionAtExit);
  }
  if (openHandles > 0) return;
  const DesktopMidiSystem system = chooseSystem();
  if (system != session.system) {
    dropListers();  // the lists were of the other system
    session.system = system;
  }
}

bool sessionServes() {
  return session.system != DESKTOP_MIDI_NONE &&
         !(session.system == DESKTOP_MIDI_JACK && session.jackGone.load());
}

template <class T>
T* newConnection(ErrorRecord* errors) {
  // JACK: each RtMidi object is a client of its own; the server adds "-01",
  // "-02" ... to our client name for all but the first.
  std::unique_ptr<T> midi(new T(rtApi(), session.client));
  errors->failed.store(0);
  midi->setErrorCallback(onRtMidiError, errors);
  return midi.release();
}

// Whether a port (full RtMidi name) is one of ours: its client is ours, also
// under a suffix the JACK server added.
bool ownPort(const std::string& port) {
  const size_t colon = port.find(':');
  if (colon == std::string::npos) return false;
  const size_t n = std::strlen(session.client);
  if (port.compare(0, n, session.client) != 0) return false;
  if (colon == n) return true;
  if (port[n] != '-' || colon == n + 1) return false;
  for (size_t i = n + 1; i < colon; i++) {
    if (port[i] < '0' || port[i] > '9') return false;
  }
  return true;
}

void takeList(bool input) {
  DeviceList* list = input ? &inList : &outList;
  list->taken = 1;
  list->count = 0;
  list->alsa = session.system == DESKTOP_MIDI_ALSA;
  if (!sessionServes()) return;
  RtMidi* lister;
  if (input) {
    if (!session.inLister) session.inLister = newConnection<RtMidiIn>(&session.listerErrors);
    lister = session.inLister;
  } else {
    if (!session.outLister) session.outLister = newConnection<RtMidiOut>(&session.listerErrors);
    lister = session.outLister;
  }
  const unsigned ports = lister->getPortCount();
  for (unsigned i = 0; i < ports && list->count < kMaxDevices; i++) {
    const std::string port = lister->getPortName(i);
    if (port.empty() || port.size() >= kPortNameBytes || ownPort(port)) continue;
    std::memcpy(list->port[list->count], port.c_str(), port.size() + 1);
    list->count++;
  }
}

// Index of a listed port among the ports a new connection sees now.
int livePort(RtMidi* midi, const char* port) {
  const unsigned ports = midi->getPortCount();
  for (unsigned i = 0; i < ports; i++) {
    if (midi->getPortName(i) == port) return static_cast<int>(i);
  }
  return -1;
}

int listCount(bool input) {
  std::lock_guard<std::mutex> guard(tableLock);
  DeviceList* list = input ? &inList : &outList;
  try {
    ensureSession();
    takeList(input);
  } catch (...) {
    resultOfException();
    list->count = 0;
  }
  return list->count;
}

int listCaps(bool input, int index, MidiDeviceCaps* caps) {
  if (!caps) return OS_MIDI_INVALPARAM;
  std::lock_guard<std::mutex> guard(tableLock);
  DeviceList* list = input ? &inList : &outList;
  if (!list->taken) {
    try {
      ensureSession();
      takeList(input);
    } catch (...) {
      return resultOfException();
    }
  }
  if (index < 0 || index >= list->count) return OS_MIDI_BADDEVICEID;
  std::memset(caps, 0, sizeof *caps);
  desktopMidiDeviceName(list->port[index], list->alsa, caps->name);
  caps->manufacturer = 0;         // ports carry no maker identifier
  caps->driverVersion = 0x0100;   // version 1.0 of this backend
  return OS_MIDI_OK;
}

// ---- Input delivery (the input's lock held).

MidiHandle inHandle(InSlot* s) { return makeHandle(kInTag + static_cast<int>(s - inSlots), s->generation); }

void notify(InSlot* s, unsigned message, uintptr_t param1, uintptr_t param2) {
  if (s->callback) s->callback(inHandle(s), message, s->instance, param1, param2);
}

MidiHeader* dequeue(InSlot* s) {
  if (s->queued == 0) return nullptr;
  MidiHeader* header = s->queue[0];
  s->queued--;
  std::memmove(s->queue, s->queue + 1, sizeof s->queue[0] * static_cast<size_t>(s->queued));
  return header;
}

void giveBack(InSlot* s, MidiHeader* header, unsigned message, uint32_t stamp) {
  header->flags = (header->flags & ~static_cast<uint32_t>(OS_MHDR_INQUEUE)) | OS_MHDR_DONE;
  notify(s, message, reinterpret_cast<uintptr_t>(header), stamp);
}

// The header being filled, if any, goes back with the message.
void giveBackCurrent(InSlot* s, unsigned message, uint32_t stamp) {
  MidiHeader* h = s->current;
  if (!h) return;
  s->current = nullptr;
  giveBack(s, h, message, stamp);
}

// One byte of a system-exclusive message into the header being filled. A full
// header goes back and the message goes on in the next one, as a Windows driver
// does; with no header left the rest of the message is lost.
void sysexByte(InSlot* s, uint8_t byte, uint32_t stamp) {
  MidiHeader* h = s->current;
  if (h && h->bytesRecorded >= h->bufferLength) {
    giveBackCurrent(s, OS_MIM_LONGDATA, stamp);
    if (!s->started) return;
    s->current = dequeue(s);
    h = s->current;
    if (!h) log("MIDI IN: system-exclusive message cut: no more buffers.\n");
  }
  if (h) h->data[h->bytesRecorded++] = byte;
}

void deliverBytes(InSlot* s, const unsigned char* bytes, size_t count) {
  const uint32_t stamp = static_cast<uint32_t>(nowMs() - s->startMs);
  uint8_t m[3];
  int n = 0;
  for (size_t i = 0; i < count && s->started;) {
    const MidiPiece piece = midiSplit(&s->splitter, bytes[i], m, &n);
    switch (piece) {
      case MIDI_PIECE_SHORT: {
        uintptr_t word = 0;
        for (int k = 0; k < n; k++) word |= static_cast<uintptr_t>(m[k]) << (8 * k);
        notify(s, OS_MIM_DATA, word, stamp);
        break;
      }
      case MIDI_PIECE_SYSEX_START:
        s->current = dequeue(s);
        if (!s->current) log("MIDI IN: system-exclusive message lost: no buffer queued.\n");
        sysexByte(s, 0xF0, stamp);
        break;
      case MIDI_PIECE_SYSEX_BYTE:
        sysexByte(s, bytes[i], stamp);
        break;
      case MIDI_PIECE_SYSEX_END:
        sysexByte(s, 0xF7, stamp);
        if (s->started) giveBackCurrent(s, OS_MIM_LONGDATA, stamp);
        break;
      case MIDI_PIECE_SYSEX_CUT:
        // A status byte inside the message: it was incomplete. The header
        // comes back as a long error; the status byte is read again.
        giveBackCurrent(s, OS_MIM_LONGERROR, stamp);
        continue;
      case MIDI_PIECE_STRAY:
        notify(s, OS_MIM_ERROR, bytes[i], stamp);
        break;
      case MIDI_PIECE_NONE:
        break;
    }
    i++;
  }
}

void onMidiIn(double, std::vector<unsigned char>* message, void* data) {
  InSlot* s = static_cast<InSlot*>(data);
  std::lock_guard<std::recursive_mutex> guard(s->lock);
  if (!s->open || s->closing || !s->started || !message) return;
  deliveringOnMidiThread = 1;
  deliverBytes(s, message->data(), message->size());
  deliveringOnMidiThread = 0;
}

// Hands every header back, done and empty, and stops delivery. Headers that the
// callback queues again meanwhile stay queued.
void returnHeaders(InSlot* s) {
  s->started = 0;
  midiSplitterReset(&s->splitter);
  MidiHeader* back[kInQueue + 1];
  int n = 0;
  // A message that the reset cuts is incomplete: it comes back empty too.
  if (s->current) back[n++] = s->current;
  s->current = nullptr;
  while (s->queued) back[n++] = dequeue(s);
  const uint32_t stamp = static_cast<uint32_t>(nowMs() - s->startMs);
  for (int i = 0; i < n; i++) {
    back[i]->bytesRecorded = 0;
    giveBack(s, back[i], OS_MIM_LONGDATA, stamp);
  }
}

// ---- Output sending (the output's lock held).

int sendMessage(OutSlot* o, const uint8_t* bytes, size_t count) {
  if (count == 0) return OS_MIDI_OK;
  // The mapper's handles share one port: one writer at a time.
  std::unique_lock<std::mutex> guard(mapperPort.lock, std::defer_lock);
  if (o->mapper) guard.lock();
  if (o->lane >= 0) {
    if (session.jackGone.load()) return OS_MIDI_NODRIVER;
    // On the JACK process thread (an input's notification) nothing may wait.
    return jackOutSend(o->lane, bytes, count, !deliveringOnMidiThread);
  }
  RtMidiOut* midi = o->mapper ? mapperPort.midi : o->midi;
  ErrorRecord& errors = o->mapper ? mapperPort.errors : o->errors;
  errors.failed.store(0);
  midi->sendMessage(bytes, count);
  return errors.failed.load() ? resultOf(errors.type.load(), false) : OS_MIDI_OK;
}

// Sends a piece of the outgoing byte stream as the whole messages it holds.
// Running status is written out in full (JACK carries no running status);
// a message not complete at the end waits for the bytes that complete it; a
// system-exclusive message goes as it stands, in parts when it spans calls.
int sendBytes(OutSlot* o, const uint8_t* bytes, size_t count) {
  int result = OS_MIDI_OK;
  auto note = [&result](int r) {
    if (result == OS_MIDI_OK) result = r;
  };
  size_t start = 0;  // first system-exclusive byte of this piece not yet sent
  uint8_t m[3];
  int n = 0;
  for (size_t i = 0; i < count;) {
    const MidiPiece piece = midiSplit(&o->splitter, bytes[i], m, &n);
    switch (piece) {
      case MIDI_PIECE_SYSEX_START:
        start = i;
        break;
      case MIDI_PIECE_SYSEX_END:
        note(sendMessage(o, bytes + start, i + 1 - start));
        break;
      case MIDI_PIECE_SYSEX_CUT:
        note(sendMessage(o, bytes + start, i - start));
        continue;
      case MIDI_PIECE_SHORT:
        if (o->splitter.inSysex) {
          // A real-time byte inside the system-exclusive message goes on its own.
          note(sendMessage(o, bytes + start, i - start));
          start = i + 1;
        }
        note(sendMessage(o, m, static_cast<size_t>(n)));
        break;
      case MIDI_PIECE_STRAY:
        log("MIDI OUT: data byte %02X without status dropped.\n", bytes[i]);
        break;
      case MIDI_PIECE_SYSEX_BYTE:
      case MIDI_PIECE_NONE:
        break;
    }
    i++;
  }
  if (o->splitter.inSysex) note(sendMessage(o, bytes + start, count - start));
  return result;
}

}  // namespace

// ---- The services.

DesktopMidiSystem desktopMidiSystem(void) {
  std::lock_guard<std::mutex> guard(tableLock);
  try {
    ensureSession();
  } catch (...) {
    resultOfException();
  }
  return sessionServes() ? session.system : DESKTOP_MIDI_NONE;
}

int desktopMidiRelease(void) {
  std::lock_guard<std::mutex> guard(tableLock);
  try {
    return endSession() ? 0 : -1;
  } catch (...) {
    resultOfException();
    return -1;
  }
}

int osMidiInCount(void) { return listCount(true); }
int osMidiOutCount(void) { return listCount(false); }
int osMidiInCaps(int index, MidiDeviceCaps* caps) { return listCaps(true, index, caps); }
int osMidiOutCaps(int index, MidiDeviceCaps* caps) { return listCaps(false, index, caps); }

int osMidiOutOpen(MidiHandle* handle, int index) {
  if (!handle) return OS_MIDI_INVALPARAM;
  std::lock_guard<std::mutex> guard(tableLock);
  try {
    ensureSession();
    if (index != kMidiMapper) {
      if (!outList.taken) takeList(false);
      if (index < 0 || index >= outList.count) return OS_MIDI_BADDEVICEID;
    }
    if (!sessionServes()) return OS_MIDI_NODRIVER;
    int k = 0;
    while (k < kOutSlots && outSlots[k].open) k++;
    if (k == kOutSlots) return OS_MIDI_NOMEM;
    OutSlot& o = outSlots[k];
    const bool jack = session.system == DESKTOP_MIDI_JACK;
    char portName[32];
    std::snprintf(portName, sizeof portName, "Notalumen Out %d", k + 1);
    if (index == kMidiMapper && mapperPort.users > 0) {
      // One port for all mapper handles: other programs connect to one name.
    } else if (jack) {
      const int result = index == kMidiMapper ? jackOutOpen(kMapperLane, kMapperPortName, nullptr)
                                              : jackOutOpen(k, portName, outList.port[index]);
      if (result != OS_MIDI_OK) return result;
    } else if (index == kMidiMapper) {
      assert(!mapperPort.midi);
      mapperPort.midi = newConnection<RtMidiOut>(&mapperPort.errors);
      mapperPort.midi->openVirtualPort(kMapperPortName);
      if (mapperPort.errors.failed.load()) {
        const int result = resultOf(mapperPort.errors.type.load(), false);
        releaseOutput(&mapperPort.midi);
        return result;
      }
    } else {
      assert(!o.midi);
      o.midi = newConnection<RtMidiOut>(&o.errors);
      const int live = livePort(o.midi, outList.port[index]);
      if (live < 0) {
        releaseOutput(&o.midi);
        return OS_MIDI_BADDEVICEID;  // the port went away since the list
      }
      o.midi->openPort(static_cast<unsigned>(live), portName);
      if (o.errors.failed.load()) {
        const int result = resultOf(o.errors.type.load(), true);
        releaseOutput(&o.midi);
        return result;
      }
    }
    if (index == kMidiMapper) mapperPort.users++;
    std::lock_guard<std::mutex> slotGuard(o.lock);
    o.generation = nextGeneration();
    o.open = 1;
    o.mapper = index == kMidiMapper;
    o.lane = static_cast<int8_t>(!jack ? -1 : o.mapper ? kMapperLane : k);
    midiSplitterReset(&o.splitter);
    o.wordStatus = 0;
    openHandles++;
    *handle = makeHandle(kOutTag + k, o.generation);
    return OS_MIDI_OK;
  } catch (...) {
    return resultOfException();
  }
}

#define OUT_SLOT_OR_FAIL(handle)                                              \
  uint32_t generation = 0;                                                    \
  OutSlot* o = outSlotOf(handle, &generation);                                \
  if (!o) return OS_MIDI_INVALHANDLE;                                         \
  std::lock_guard<std::mutex> slotGuard(o->lock);                             \
  if (!o->open || o->generation != generation) return OS_MIDI_INVALHANDLE

int osMidiOutShort(MidiHandle handle, uint32_t word) {
  OUT_SLOT_OR_FAIL(handle);
  uint8_t m[3] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word >> 16)};
  // A word that begins with a data byte continues under running status: the
  // status is the one the caller sent last on this handle, which is what its
  // senders count on (a short word's status, a long message's first byte).
  uint8_t status = m[0];
  if (status < 0x80) {
    status = o->wordStatus;
    m[2] = m[1];
    m[1] = m[0];
    m[0] = status;
  }
  const int n = midiMessageLength(status);
  if (n == 0) return OS_MIDI_INVALPARAM;  // no status known, or a system-exclusive start
  for (int i = 1; i < n; i++) {
    if (m[i] >= 0x80) return OS_MIDI_INVALPARAM;
  }
  o->wordStatus = status;
  try {
    return sendBytes(o, m, static_cast<size_t>(n));
  } catch (...) {
    return resultOfException();
  }
}

int osMidiOutPrepare(MidiHandle handle, MidiHeader* header) {
  OUT_SLOT_OR_FAIL(handle);
  if (!header) return OS_MIDI_INVALPARAM;
  markHeaderPrepared(header);
  return OS_MIDI_OK;
}

int osMidiOutLong(MidiHandle handle, MidiHeader* header) {
  OUT_SLOT_OR_FAIL(handle);
  if (!header) return OS_MIDI_INVALPARAM;
  if (!(header->flags & OS_MHDR_PREPARED)) return OS_MIDI_UNPREPARED;
  if (header->flags & OS_MHDR_INQUEUE) return OS_MIDI_STILLPLAYING;
  if (!header->data && header->bufferLength > 0) return OS_MIDI_INVALPARAM;
  header->flags &= ~static_cast<uint32_t>(OS_MHDR_DONE);
  int result;
  try {
    result = sendBytes(o, header->data, header->bufferLength);
  } catch (...) {
    result = resultOfException();
  }
  const uint8_t first = header->bufferLength > 0 ? header->data[0] : 0;
  // A lone timing clock or active sensing byte is an interjection the senders
  // do not count as a status; any other first status byte is one.
  if (first >= 0x80 && !(header->bufferLength == 1 && (first == 0xF8 || first == 0xFE))) o->wordStatus = first;
  // The bytes are with the MIDI system (ALSA's queue, the JACK port's queue)
  // once sendMessage returns: the header is done at once.
  header->flags |= OS_MHDR_DONE;
  return result;
}

int osMidiOutUnprepare(MidiHandle handle, MidiHeader* header) {
  OUT_SLOT_OR_FAIL(handle);
  if (!header) return OS_MIDI_INVALPARAM;
  return markHeaderUnprepared(header);
}

int osMidiOutClose(MidiHandle handle) {
  std::lock_guard<std::mutex> guard(tableLock);
  bool mapper = false;
  int lane = -1;
  OutSlot* closed = nullptr;
  {
    OUT_SLOT_OR_FAIL(handle);
    o->open = 0;
    openHandles--;
    mapper = o->mapper;
    lane = o->lane;
    closed = o;
  }
  // No send can reach the connection now: the handle is closed, and the
  // mapper's port is only closed with its last handle.
  try {
    const bool last = !mapper || --mapperPort.users == 0;
    if (last && lane >= 0) {
      jackOutClose(lane, session.jackGone.load());
    } else if (last) {
      releaseOutput(mapper ? &mapperPort.midi : &closed->midi);
    }
  } catch (...) {
    resultOfException();
  }
  return OS_MIDI_OK;
}

int osMidiInOpen(MidiHandle* handle, int index, MidiInCallback callback, uintptr_t instance) {
  if (!handle) return OS_MIDI_INVALPARAM;
  std::lock_guard<std::mutex> guard(tableLock);
  try {
    ensureSession();
    if (!inList.taken) takeList(true);
    if (index < 0 || index >= inList.count) return OS_MIDI_BADDEVICEID;
    if (!sessionServes()) return OS_MIDI_NODRIVER;
    int k = 0;
    while (k < kInSlots && inSlots[k].open) k++;
    if (k == kInSlots) return OS_MIDI_NOMEM;
    InSlot& s = inSlots[k];
    std::unique_ptr<RtMidiIn> midi(newConnection<RtMidiIn>(&s.errors));
    // Everything is wanted: system exclusive, clock and time code, sensing.
    midi->ignoreTypes(false, false, false);
    midi->setCallback(onMidiIn, &s);
    const int live = livePort(midi.get(), inList.port[index]);
    if (live < 0) return OS_MIDI_BADDEVICEID;
    char portName[32];
    std::snprintf(portName, sizeof portName, "Notalumen In %d", k + 1);
    // Messages can arrive from here on; the slot ignores them until started.
    midi->openPort(static_cast<unsigned>(live), portName);
    if (s.errors.failed.load()) return resultOf(s.errors.type.load(), true);
    std::lock_guard<std::recursive_mutex> slotGuard(s.lock);
    s.generation = nextGeneration();
    s.open = 1;
    s.closing = 0;
    s.started = 0;
    s.midi = midi.release();
    s.callback = callback;
    s.instance = instance;
    s.startMs = nowMs();
    midiSplitterReset(&s.splitter);
    s.current = nullptr;
    s.queued = 0;
    openHandles++;
    *handle = makeHandle(kInTag + k, s.generation);
    notify(&s, OS_MIM_OPEN, 0, 0);
    return OS_MIDI_OK;
  } catch (...) {
    return resultOfException();
  }
}

#define IN_SLOT_OR_FAIL(handle)                                                 \
  uint32_t generation = 0;                                                      \
  InSlot* s = inSlotOf(handle, &generation);                                    \
  if (!s) return OS_MIDI_INVALHANDLE;                                           \
  std::lock_guard<std::recursive_mutex> slotGuard(s->lock);                     \
  if (!s->open || s->closing || s->generation != generation) return OS_MIDI_INVALHANDLE

int osMidiInPrepare(MidiHandle handle, MidiHeader* header) {
  IN_SLOT_OR_FAIL(handle);
  if (!header) return OS_MIDI_INVALPARAM;
  markHeaderPrepared(header);
  return OS_MIDI_OK;
}

int osMidiInAddBuffer(MidiHandle handle, MidiHeader* header) {
  IN_SLOT_OR_FAIL(handle);
  if (!header || !header->data || header->bufferLength == 0) return OS_MIDI_INVALPARAM;
  if (!(header->flags & OS_MHDR_PREPARED)) return OS_MIDI_UNPREPARED;
  if (header->flags & OS_MHDR_INQUEUE) return OS_MIDI_STILLPLAYING;
  if (s->queued == kInQueue) return OS_MIDI_NOMEM;
  header->flags = (header->flags & ~static_cast<uint32_t>(OS_MHDR_DONE)) | OS_MHDR_INQUEUE;
  header->bytesRecorded = 0;
  s->queue[s->queued++] = header;
  return OS_MIDI_OK;
}

int osMidiInStart(MidiHandle handle) {
  IN_SLOT_OR_FAIL(handle);
  if (!s->started) {
    s->started = 1;
    s->startMs = nowMs();
    midiSplitterReset(&s->splitter);
  }
  return OS_MIDI_OK;
}

int osMidiInReset(MidiHandle handle) {
  IN_SLOT_OR_FAIL(handle);
  returnHeaders(s);
  return OS_MIDI_OK;
}

int osMidiInUnprepare(MidiHandle handle, MidiHeader* header) {
  IN_SLOT_OR_FAIL(handle);
  if (!header) return OS_MIDI_INVALPARAM;
  return markHeaderUnprepared(header);
}

int osMidiInClose(MidiHandle handle) {
  // Closing waits for RtMidi's thread; from inside a notification on that very
  // thread it would wait for itself.
  if (deliveringOnMidiThread) return OS_MIDI_INVALPARAM;
  std::lock_guard<std::mutex> guard(tableLock);
  RtMidiIn* gone = nullptr;
  InSlot* closed = nullptr;
  {
    IN_SLOT_OR_FAIL(handle);
    // Headers still queued come back first: once closed, the backend never
    // writes into a caller's buffer again, whether it was reset or not.
    returnHeaders(s);
    s->closing = 1;
    gone = s->midi;
    s->midi = nullptr;
    closed = s;
  }
  try {
    delete gone;  // joins RtMidi's thread (ALSA) or leaves the JACK graph
  } catch (...) {
    resultOfException();
  }
  std::lock_guard<std::recursive_mutex> slotGuard(closed->lock);
  notify(closed, OS_MIM_CLOSE, 0, 0);
  closed->open = 0;
  closed->closing = 0;
  openHandles--;
  closed->callback = nullptr;
  return OS_MIDI_OK;
}
