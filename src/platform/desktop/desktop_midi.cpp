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

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "support/log.h"
#include "midi/os_midi.h"
#include "platform/desktop/desktop_midi.h"
#include "platform/desktop/desktop_midi_internal.h"
#include "platform/desktop/jack_out.h"

namespace desktop_midi {

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

template RtMidiIn* newConnection<RtMidiIn>(ErrorRecord* errors);
template RtMidiOut* newConnection<RtMidiOut>(ErrorRecord* errors);

}  // namespace desktop_midi

using namespace desktop_midi;

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

// Not told yet: the program looks again while a configured port is closed.
uint32_t osMidiDeviceGeneration(void) { return 0; }

int osMidiInCount(void) { return listCount(true); }
int osMidiOutCount(void) { return listCount(false); }
int osMidiInCaps(int index, MidiDeviceCaps* caps) { return listCaps(true, index, caps); }
int osMidiOutCaps(int index, MidiDeviceCaps* caps) { return listCaps(false, index, caps); }
