// Desktop (Linux) MIDI services: the devices are the ports of other programs
// on a JACK server or the ALSA sequencer. On JACK all our ports belong to one
// client, "Notalumen" ("In 1".., "Out 1".., and "Out" for the MIDI mapper),
// whose process callback delivers the input; on ALSA they belong to one
// sequencer client "Notalumen" with the same port names, whose reader thread
// delivers the input (alsa_ports.cpp).
//
// Which MIDI system: NOTALUMEN_MIDI=alsa or NOTALUMEN_MIDI=jack forces one;
// otherwise JACK when a JACK server answers (the server JACK_DEFAULT_SERVER
// names, as for any JACK program; never started on our behalf), else ALSA when
// /dev/snd/seq opens, else none (no devices, the mapper cannot open). The choice
// is made again at each device count or open while no handle is open, so a
// JACK server started or stopped between two runs of the lists is followed.
#include <errno.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "support/log.h"
#include "midi/os_midi.h"
#include "platform/desktop/alsa_ports.h"
#include "platform/desktop/desktop_midi.h"
#include "platform/desktop/desktop_midi_internal.h"
#include "platform/desktop/desktop_window.h"
#include "platform/desktop/jack_ports.h"

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
thread_local int deliveringOnMidiThread;  // inside a notification made on an input's reader thread

const char kClientName[] = "Notalumen";
const char kMapperPortName[] = "Out";

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

// Result code of an exception that left the library.
int resultOfException() {
  try {
    throw;
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

// Devices came, went or changed: the next look at them (window thread) acts
// on it, and an idle window thread is woken for it.
void devicesChanged() {
  session.generation.fetch_add(1);
  desktopMidiNews();
}

// JACK's threads: only recorded here; the window thread acts on it.
void onJackShutdown(jack_status_t, const char*, void*) {
  session.jackGone.store(1);
  devicesChanged();
}

void onPortRegistration(jack_port_id_t, int, void*) { devicesChanged(); }

void onClientRegistration(const char*, int, void*) { devicesChanged(); }

// A port of ours cut from its device is closed and opened anew at the next look.
void onPortConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* client) {
  if (!connected && jackPortsCut(static_cast<jack_client_t*>(client), a, b)) devicesChanged();
}

// Our client was inactive for a moment: the lists are taken anew; a client that
// would not activate again is treated as one whose server went.
void onJackRestarted(int active) {
  if (!active) session.jackGone.store(1);
  devicesChanged();
}

// The ALSA reader thread heard clients or ports come, go or change.
void onAlsaHeard() { devicesChanged(); }

// An event of an ALSA input port, stamped as it is read.
void onAlsaIn(int lane, const uint8_t* bytes, size_t count) { deliverIn(lane, bytes, count, desktopMilliseconds()); }

// ---- The session: which system, our JACK or ALSA client, the lists.

void forgetLists() {
  inList.taken = 0;
  outList.taken = 0;
}

void dropJack() {
  if (!session.jack) return;
  forgetLists();  // the lists were of the server that went
  jackPortsUnbind();
  jack_client_close(session.jack);
  session.jack = nullptr;
}

// Lets go of everything the session holds (lists, the JACK client) while no
// handle is open.
bool endSession() {
  if (openHandles > 0) return false;
  forgetLists();
  alsaPortsClose();
  dropJack();
  session.system = DESKTOP_MIDI_NONE;
  session.alsa.store(0);
  session.jackLost.store(0);
  return true;
}

void closeSessionAtExit() {
  std::lock_guard<std::mutex> guard(tableLock);
  // Our JACK client goes, so the server forgets us at once and none of our
  // semaphores stays behind in /dev/shm. Handles still open (a port code that
  // did not close them) are left as they are.
  try {
    endSession();
  } catch (...) {
  }
}

// Opens our one JACK client (the server calls a second one "Notalumen-01")
// and activates it, so that it hears ports and the server come and go.
bool jackAnswers() {
  if (session.jack && !session.jackGone.load()) return true;
  dropJack();
  jack_status_t status;
  jack_client_t* client = jack_client_open(kClientName, JackNoStartServer, &status);
  if (!client) return false;
  session.jackGone.store(0);
  jack_on_info_shutdown(client, onJackShutdown, nullptr);
  jack_set_port_registration_callback(client, onPortRegistration, nullptr);
  jack_set_client_registration_callback(client, onClientRegistration, nullptr);
  jack_set_port_connect_callback(client, onPortConnect, client);
  jackPortsBind(client, deliverIn, onJackRestarted);
  if (jack_activate(client) != 0) {
    jackPortsUnbind();
    jack_client_close(client);
    return false;
  }
  std::snprintf(session.ownPrefix, sizeof session.ownPrefix, "%s:", jack_get_client_name(client));
  session.jack = client;
  devicesChanged();
  if (session.jackLost.exchange(0) || session.lostSaid) {
    std::fprintf(stderr, "Notalumen: the JACK server answers again as \"%s\"; ports open again by name.\n",
                 jack_get_client_name(client));
  }
  session.lostSaid = 0;
  session.noneSaid = 0;
  return true;
}

// Opens our one sequencer client, whose reader thread hears clients and ports
// come and go.
bool alsaAnswers(int* error) {
  if (alsaPortsActive()) return true;
  // The library's configuration is not even read without the device (a
  // container, a machine without the snd-seq module).
  const int fd = ::open("/dev/snd/seq", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  *error = fd < 0 ? errno : 0;
  if (fd < 0) return false;
  ::close(fd);
  *error = alsaPortsOpen(kClientName, onAlsaIn, onAlsaHeard);
  return *error == 0;
}

// Says once on standard error why no MIDI system serves.
void tellNone(bool triedJack, bool triedAlsa, int alsaError) {
  if (session.noneSaid || session.lostSaid) return;
  session.noneSaid = 1;
  const char* server = std::getenv("JACK_DEFAULT_SERVER");
  std::string why = "Notalumen: no MIDI system answers, MIDI ports cannot open:";
  if (triedJack) {
    why += std::string(" no JACK server \"") + (server && *server ? server : "default") +
           "\" is running (none is started on our behalf);";
  }
  if (triedAlsa) why += std::string(" the ALSA sequencer /dev/snd/seq cannot be opened (") + std::strerror(alsaError) + ")";
  if (!triedJack || !triedAlsa) why += " (NOTALUMEN_MIDI chose one)";
  std::fprintf(stderr, "%s.\n", why.c_str());
}

DesktopMidiSystem chooseSystem() {
  const char* forced = std::getenv("NOTALUMEN_MIDI");
  const bool onlyAlsa = forced && strcasecmp(forced, "alsa") == 0;
  const bool onlyJack = forced && strcasecmp(forced, "jack") == 0;
  if (!onlyAlsa && jackAnswers()) return DESKTOP_MIDI_JACK;
  dropJack();
  int alsaError = 0;
  if (!onlyJack && alsaAnswers(&alsaError)) return DESKTOP_MIDI_ALSA;
  tellNone(!onlyAlsa, !onlyJack, alsaError);
  return DESKTOP_MIDI_NONE;
}

// Whether a handle is open on a device (an input, or an output that is not
// the mapper): after a server went away those go first.
bool deviceHandlesOpen() {
  for (const InSlot& s : inSlots) {
    if (s.open) return true;
  }
  for (const OutSlot& o : outSlots) {
    if (o.open && !o.mapper) return true;
  }
  return false;
}

// The server went away under our client: the client and its ports are
// forgotten, the lists are empty, and the program is told so. The ports'
// owners close their handles when their devices are gone from the lists.
void loseJack() {
  std::fprintf(stderr, "Notalumen: the JACK server went away; waiting for it to come back.\n");
  session.lostSaid = 1;
  session.jackLost.store(1);
  session.lastTry = desktopMilliseconds();
  dropJack();
  session.jackGone.store(0);
}

// While the server is lost and only mapper handles are open: about once a
// second a new client, which takes the mapper's port up again.
void retryJack() {
  if (deviceHandlesOpen()) return;
  const int64_t now = desktopMilliseconds();
  if (now - session.lastTry < 900) return;
  session.lastTry = now;
  if (!jackAnswers()) return;
  if (mapperPort.users > 0 && jackOutOpen(kMapperLane, kMapperPortName, nullptr) != OS_MIDI_OK) {
    log("MIDI: the mapper's port cannot be registered again.\n");
  }
}

// Brings the session up to date. With a handle open the system stays as it
// is, but for a JACK server that went away.
void ensureSession() {
  if (!session.hooksSet) {
    session.hooksSet = 1;
    // libjack writes its complaints (a server that is not there, above all)
    // to standard error; they go to the diagnostics instead.
    jack_set_error_function(onJackMessage);
    jack_set_info_function(onJackMessage);
    std::atexit(closeSessionAtExit);
  }
  if (session.jack && session.jackGone.load()) loseJack();
  if (openHandles > 0) {
    if (session.system == DESKTOP_MIDI_JACK && !session.jack) retryJack();
    return;
  }
  const DesktopMidiSystem system = chooseSystem();
  if (system != session.system) {
    forgetLists();  // the lists were of the other system
    session.system = system;
    session.alsa.store(system == DESKTOP_MIDI_ALSA);
    if (system != DESKTOP_MIDI_ALSA) alsaPortsClose();
  }
  if (system != DESKTOP_MIDI_NONE) session.jackLost.store(0);
}

bool sessionServes() {
  return session.system == DESKTOP_MIDI_ALSA || (session.system == DESKTOP_MIDI_JACK && session.jack &&
                                                  !session.jackGone.load());
}

// Adds a port (full name) to a list when it fits and is not one of ours.
void listPort(DeviceList* list, const char* port) {
  const size_t n = std::strlen(port);
  if (n == 0 || n >= kPortNameBytes || list->count >= kMaxDevices) return;
  if (session.system == DESKTOP_MIDI_JACK && std::strncmp(port, session.ownPrefix, std::strlen(session.ownPrefix)) == 0) {
    return;
  }
  std::memcpy(list->port[list->count], port, n + 1);
  list->count++;
}

void takeList(bool input) {
  DeviceList* list = input ? &inList : &outList;
  list->taken = 1;
  list->count = 0;
  list->alsa = session.system == DESKTOP_MIDI_ALSA;
  if (!sessionServes()) return;
  if (session.system == DESKTOP_MIDI_JACK) {
    // The ports we read from are other clients' outputs, and the other way round.
    const char** ports =
        jack_get_ports(session.jack, nullptr, JACK_DEFAULT_MIDI_TYPE, input ? JackPortIsOutput : JackPortIsInput);
    for (int i = 0; ports && ports[i]; i++) listPort(list, ports[i]);
    if (ports) jack_free(ports);
    return;
  }
  if (input) {
    alsaPortsList(true, [](const char* port) { listPort(&inList, port); });
  } else {
    alsaPortsList(false, [](const char* port) { listPort(&outList, port); });
  }
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

namespace {
thread_local int nextPortNumber = 0;  // from osMidiNameNextPort; 0 = none
}  // namespace

int takePortNumber(int fallback) {
  const int number = nextPortNumber > 0 ? nextPortNumber : fallback;
  nextPortNumber = 0;
  return number;
}

}  // namespace desktop_midi

using namespace desktop_midi;

void desktopMidiDeviceName(const char* portName, int alsa, char name[32]) {
  size_t n = std::strlen(portName);
  if (alsa) {
    // The list gives the sequencer address " client:port" after the name; it
    // changes from boot to boot and would make a configured name stale.
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

// Changed by our JACK client's callbacks (ports and clients that come and go,
// the server's shutdown) and by our ALSA client's reader thread. While a lost
// server is awaited, the window thread's call tries it again about once a
// second.
void osMidiNameNextPort(int number) { nextPortNumber = number; }

uint32_t osMidiDeviceGeneration(void) {
  static int64_t lastLook;  // window thread only
  if ((session.jackGone.load() && session.jack) || (session.jackLost.load() && desktopMilliseconds() - lastLook >= 1000)) {
    lastLook = desktopMilliseconds();
    std::lock_guard<std::mutex> guard(tableLock);
    try {
      ensureSession();
    } catch (...) {
      resultOfException();
    }
  }
  return session.generation.load();
}

bool osMidiNamesDevicesInReport(void) { return true; }

int osMidiInCount(void) { return listCount(true); }
int osMidiOutCount(void) { return listCount(false); }
int osMidiInCaps(int index, MidiDeviceCaps* caps) { return listCaps(true, index, caps); }
int osMidiOutCaps(int index, MidiDeviceCaps* caps) { return listCaps(false, index, caps); }
