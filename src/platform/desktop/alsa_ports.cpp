// The ports of the backend's one ALSA sequencer client (see alsa_ports.h).
//
// One client, opened non-blocking for both directions, holds the input ports
// ("In 1"..), the output ports ("Out 1".., "Out") and a port of its own,
// hidden from other programs, subscribed to the system announce port. The
// reader thread waits in poll() on the client and a wake pipe; each event it
// reads is either news from the announce port or input for one of our ports,
// delivered as MIDI bytes. Senders write events directly (no queue of ours,
// no waiting); they share the client's event encoder and the library's buffer
// for variable-length events, so one send at a time takes sendLock.
#include "platform/desktop/alsa_ports.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "midi/os_midi.h"
#include "support/log.h"

namespace {

constexpr size_t kSysexChunk = 256;  // bytes of a system-exclusive message per event
constexpr int kPollFds = 4;          // sequencer descriptors polled at most

// One port of ours. Written under the table lock, read by the reader thread
// and the senders.
struct Lane {
  std::atomic<int> port;    // our port's number; -1: none
  std::atomic<int> device;  // client << 8 | port of the device connected at open; -1: none
  std::atomic<int> lost;    // that device port exited since the open
};

snd_seq_t* seq;               // our client; null: closed (table lock)
int self;                     // its client number
snd_midi_event_t* encoder;    // bytes to events, for the senders (sendLock)
snd_midi_event_t* decoder;    // events to bytes, for the reader thread
int wakeFds[2] = {-1, -1};    // pipe that ends the reader's wait
std::atomic<bool> stopping;   // the reader thread is to end
std::thread reader;           // the reader thread
AlsaInDelivery delivery;      // where input goes
AlsaHeard heardChange;        // told of clients and ports that come and go
std::mutex sendLock;          // one send at a time through the client
Lane outLanes[kAlsaOutLanes];
Lane inLanes[kAlsaInLanes];

void clearLanes() {
  for (Lane* lanes : {outLanes, inLanes}) {
    const int n = lanes == outLanes ? kAlsaOutLanes : kAlsaInLanes;
    for (int i = 0; i < n; i++) {
      lanes[i].port.store(-1, std::memory_order_release);
      lanes[i].device.store(-1);
      lanes[i].lost.store(0);
    }
  }
}

int addressOf(const snd_seq_addr_t& a) { return a.client << 8 | a.port; }

// The device port client:devicePort exited, or every port of client `client`
// (devicePort -1), or the connection between `cutFrom` and `cutTo` was cut: lanes
// connected to that device are lost.
void markLost(int client, int devicePort, int cutFrom = -1, int cutTo = -1) {
  for (Lane* lanes : {outLanes, inLanes}) {
    const int n = lanes == outLanes ? kAlsaOutLanes : kAlsaInLanes;
    for (int i = 0; i < n; i++) {
      const int device = lanes[i].device.load();
      const int port = lanes[i].port.load();
      if (device < 0 || port < 0) continue;
      const int ours = self << 8 | port;
      const bool gone = device >> 8 == client && (devicePort < 0 || (device & 0xFF) == devicePort);
      const bool cut = (cutFrom == device && cutTo == ours) || (cutFrom == ours && cutTo == device);
      if (gone || cut) lanes[i].lost.store(1);
    }
  }
}

void announced(const snd_seq_event_t* ev) {
  switch (ev->type) {
    case SND_SEQ_EVENT_PORT_EXIT:
      markLost(ev->data.addr.client, ev->data.addr.port);
      break;
    case SND_SEQ_EVENT_CLIENT_EXIT:
      markLost(ev->data.addr.client, -1);
      break;
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
      markLost(-1, -1, addressOf(ev->data.connect.sender), addressOf(ev->data.connect.dest));
      break;
    case SND_SEQ_EVENT_CLIENT_START:
    case SND_SEQ_EVENT_CLIENT_CHANGE:
    case SND_SEQ_EVENT_PORT_START:
    case SND_SEQ_EVENT_PORT_CHANGE:
      break;
    default:
      return;
  }
  heardChange();
}

void take(snd_seq_event_t* ev) {
  if (ev->source.client == SND_SEQ_CLIENT_SYSTEM && ev->source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
    announced(ev);
    return;
  }
  int lane = 0;
  while (lane < kAlsaInLanes && inLanes[lane].port.load(std::memory_order_acquire) != ev->dest.port) lane++;
  if (lane == kAlsaInLanes) return;  // a port closed meanwhile
  if (ev->type == SND_SEQ_EVENT_SYSEX) {
    if (ev->data.ext.len > 0) delivery(lane, static_cast<const uint8_t*>(ev->data.ext.ptr), ev->data.ext.len);
    return;
  }
  unsigned char bytes[12];
  const long n = snd_midi_event_decode(decoder, bytes, sizeof bytes, ev);
  if (n > 0) delivery(lane, bytes, static_cast<size_t>(n));  // not a MIDI event otherwise
}

void readLoop() {
  pollfd fds[1 + kPollFds];
  fds[0] = {wakeFds[0], POLLIN, 0};
  const int n = snd_seq_poll_descriptors(seq, fds + 1, kPollFds, POLLIN);
  while (!stopping.load(std::memory_order_acquire)) {
    if (poll(fds, static_cast<nfds_t>(1 + (n > 0 ? n : 0)), -1) < 0 && errno != EINTR) break;
    for (;;) {
      snd_seq_event_t* ev = nullptr;
      const int result = snd_seq_event_input(seq, &ev);
      if (result == -ENOSPC) {
        heardChange();  // events were lost: anything may have changed
        continue;
      }
      if (result < 0 || !ev) break;  // -EAGAIN: nothing more
      take(ev);
    }
  }
}

// The port a listed name "client:port C:P" stands for, when it is there under
// that very name.
bool findDevice(const char* device, int* client, int* port) {
  unsigned c = 0;
  unsigned p = 0;
  const char* blank = std::strrchr(device, ' ');
  if (!blank || std::sscanf(blank + 1, "%u:%u", &c, &p) != 2 || c > 255 || p > 255) return false;
  snd_seq_client_info_t* clientInfo;
  snd_seq_port_info_t* portInfo;
  snd_seq_client_info_alloca(&clientInfo);
  snd_seq_port_info_alloca(&portInfo);
  if (snd_seq_get_any_client_info(seq, static_cast<int>(c), clientInfo) < 0 ||
      snd_seq_get_any_port_info(seq, static_cast<int>(c), static_cast<int>(p), portInfo) < 0) {
    return false;
  }
  char name[320];
  std::snprintf(name, sizeof name, "%s:%s %u:%u", snd_seq_client_info_get_name(clientInfo),
                snd_seq_port_info_get_name(portInfo), c, p);
  *client = static_cast<int>(c);
  *port = static_cast<int>(p);
  return std::strcmp(name, device) == 0;
}

// Our port `name` on `lane`, connected to `device` in the direction asked
// (null: not connected).
int openLane(Lane* lane, bool input, const char* name, const char* device) {
  int client = -1;
  int port = -1;
  if (device && !findDevice(device, &client, &port)) return OS_MIDI_BADDEVICEID;  // gone since the list
  const unsigned caps = input ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                              : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
  const int ours =
      snd_seq_create_simple_port(seq, name, caps, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (ours < 0) return OS_MIDI_NOMEM;
  lane->device.store(device ? client << 8 | port : -1);
  lane->lost.store(0);
  lane->port.store(ours, std::memory_order_release);
  if (device) {
    const int connected =
        input ? snd_seq_connect_from(seq, ours, client, port) : snd_seq_connect_to(seq, ours, client, port);
    if (connected < 0) {
      lane->port.store(-1, std::memory_order_release);
      lane->device.store(-1);
      snd_seq_delete_simple_port(seq, ours);
      return OS_MIDI_ALLOCATED;
    }
  }
  return OS_MIDI_OK;
}

void closeLane(Lane* lane) {
  const int port = lane->port.exchange(-1, std::memory_order_acq_rel);
  lane->device.store(-1);
  // Its connections go with the port; what was written went out at once.
  if (port >= 0 && seq) snd_seq_delete_simple_port(seq, port);
}

int written(int result) {
  if (result >= 0) return OS_MIDI_OK;
  if (result == -EAGAIN || result == -ENOMEM) {
    log("MIDI OUT: the ALSA sequencer takes no more events now; a message is not sent.\n");
    return OS_MIDI_NOTREADY;
  }
  return OS_MIDI_NODRIVER;
}

}  // namespace

int alsaPortsOpen(const char* name, AlsaInDelivery deliver, AlsaHeard heard) {
  if (seq) return 0;
  snd_seq_t* s = nullptr;
  const int opened = snd_seq_open(&s, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
  if (opened < 0) return -opened;
  snd_seq_set_client_name(s, name);
  // Not exported: other programs do not see it among the ports.
  const int announce = snd_seq_create_simple_port(s, "Announce", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                  SND_SEQ_PORT_TYPE_APPLICATION);
  int error = announce < 0 ? -announce : 0;
  if (!error) error = -snd_seq_connect_from(s, announce, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
  if (!error) error = -snd_midi_event_new(16, &encoder);
  if (!error) error = -snd_midi_event_new(16, &decoder);
  if (!error && pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) error = errno;
  if (!error) {
    snd_midi_event_no_status(decoder, 1);  // every message with its status byte
    clearLanes();
    seq = s;
    self = snd_seq_client_id(s);
    delivery = deliver;
    heardChange = heard;
    stopping.store(false);
    try {
      reader = std::thread(readLoop);
      return 0;
    } catch (...) {
      seq = nullptr;
      error = EAGAIN;
    }
  }
  for (int& fd : wakeFds) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (decoder) snd_midi_event_free(decoder);
  if (encoder) snd_midi_event_free(encoder);
  decoder = encoder = nullptr;
  snd_seq_close(s);
  return error;
}

void alsaPortsClose(void) {
  if (!seq) return;
  stopping.store(true, std::memory_order_release);
  const char wake = 1;
  if (write(wakeFds[1], &wake, 1) < 0) log("MIDI: the ALSA reader thread cannot be woken.\n");
  reader.join();
  for (int& fd : wakeFds) {
    close(fd);
    fd = -1;
  }
  snd_midi_event_free(decoder);
  snd_midi_event_free(encoder);
  decoder = encoder = nullptr;
  snd_seq_close(seq);  // our ports and their connections go with the client
  seq = nullptr;
  clearLanes();
}

bool alsaPortsActive(void) { return seq != nullptr; }

void alsaPortsList(bool input, void (*add)(const char* port)) {
  if (!seq) return;
  // The ports we read from are the ones others let be read, and the other way round.
  const unsigned want = input ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                              : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
  const unsigned kinds = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_APPLICATION;
  const int self = snd_seq_client_id(seq);
  snd_seq_client_info_t* clientInfo;
  snd_seq_port_info_t* portInfo;
  snd_seq_client_info_alloca(&clientInfo);
  snd_seq_port_info_alloca(&portInfo);
  snd_seq_client_info_set_client(clientInfo, -1);
  while (snd_seq_query_next_client(seq, clientInfo) >= 0) {
    const int client = snd_seq_client_info_get_client(clientInfo);
    if (client == SND_SEQ_CLIENT_SYSTEM || client == self) continue;
    snd_seq_port_info_set_client(portInfo, client);
    snd_seq_port_info_set_port(portInfo, -1);
    while (snd_seq_query_next_port(seq, portInfo) >= 0) {
      const unsigned caps = snd_seq_port_info_get_capability(portInfo);
      if ((caps & want) != want || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
      if (!(snd_seq_port_info_get_type(portInfo) & kinds)) continue;
      char name[320];
      std::snprintf(name, sizeof name, "%s:%s %d:%d", snd_seq_client_info_get_name(clientInfo),
                    snd_seq_port_info_get_name(portInfo), client, snd_seq_port_info_get_port(portInfo));
      add(name);
    }
  }
}

int alsaOutOpen(int lane, const char* name, const char* device) {
  if (lane < 0 || lane >= kAlsaOutLanes || !seq) return OS_MIDI_NODRIVER;
  return openLane(&outLanes[lane], false, name, device);
}

int alsaOutSend(int lane, const uint8_t* bytes, size_t count) {
  if (count == 0) return OS_MIDI_OK;
  const int port = outLanes[lane].port.load(std::memory_order_acquire);
  if (port < 0) return OS_MIDI_NODRIVER;
  snd_seq_event_t ev;
  snd_seq_ev_clear(&ev);
  std::lock_guard<std::mutex> guard(sendLock);
  if (bytes[0] == 0xF0 || bytes[0] == 0xF7 || bytes[0] < 0x80) {
    // A system-exclusive message or a part of one, as it stands.
    for (size_t at = 0; at < count; at += kSysexChunk) {
      const size_t n = count - at < kSysexChunk ? count - at : kSysexChunk;
      snd_seq_ev_set_sysex(&ev, static_cast<unsigned>(n), const_cast<uint8_t*>(bytes + at));
      snd_seq_ev_set_source(&ev, port);
      snd_seq_ev_set_subs(&ev);
      snd_seq_ev_set_direct(&ev);
      const int result = written(snd_seq_event_output_direct(seq, &ev));
      if (result != OS_MIDI_OK) return result;
    }
    return OS_MIDI_OK;
  }
  snd_midi_event_reset_encode(encoder);
  if (snd_midi_event_encode(encoder, bytes, static_cast<long>(count), &ev) <= 0 || ev.type == SND_SEQ_EVENT_NONE) {
    return OS_MIDI_INVALPARAM;  // not a message the sequencer carries
  }
  snd_seq_ev_set_source(&ev, port);
  snd_seq_ev_set_subs(&ev);
  snd_seq_ev_set_direct(&ev);
  return written(snd_seq_event_output_direct(seq, &ev));
}

void alsaOutClose(int lane) {
  if (lane >= 0 && lane < kAlsaOutLanes) closeLane(&outLanes[lane]);
}

int alsaInOpen(int lane, const char* name, const char* device) {
  if (lane < 0 || lane >= kAlsaInLanes || !seq || !device) return OS_MIDI_NODRIVER;
  return openLane(&inLanes[lane], true, name, device);
}

void alsaInClose(int lane) {
  if (lane >= 0 && lane < kAlsaInLanes) closeLane(&inLanes[lane]);
}

bool alsaLaneLost(bool input, int lane) {
  if (lane < 0 || lane >= (input ? static_cast<int>(kAlsaInLanes) : static_cast<int>(kAlsaOutLanes))) return false;
  return (input ? inLanes : outLanes)[lane].lost.load() != 0;
}
