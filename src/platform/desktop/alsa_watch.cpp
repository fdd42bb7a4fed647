// ALSA: the backend's watch on the sequencer's announce port. A sequencer
// client "Notalumen" with one port subscribed to the system announce port;
// the window thread reads its events without waiting and tells whether a
// client or port started, exited or changed since the last look.
#include "platform/desktop/alsa_watch.h"

#include <alsa/asoundlib.h>

namespace {

snd_seq_t* watch;  // the watching client; null: none (table lock)

}  // namespace

void alsaWatchOpen(const char* clientName) {
  if (watch) return;
  if (snd_seq_open(&watch, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
    watch = nullptr;
    return;
  }
  snd_seq_set_client_name(watch, clientName);
  // Not exported: other programs do not see it among the ports.
  const int port = snd_seq_create_simple_port(watch, "Announce", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                              SND_SEQ_PORT_TYPE_APPLICATION);
  if (port < 0 || snd_seq_connect_from(watch, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0) {
    alsaWatchClose();
  }
}

void alsaWatchClose(void) {
  if (watch) snd_seq_close(watch);
  watch = nullptr;
}

bool alsaWatchHeard(void) {
  bool heard = false;
  // Bounded: a look never keeps the window thread long.
  for (int i = 0; watch && i < 256; i++) {
    snd_seq_event_t* event = nullptr;
    const int result = snd_seq_event_input(watch, &event);
    if (result == -ENOSPC) {
      heard = true;  // events were lost: anything may have changed
      continue;
    }
    if (result < 0 || !event) break;  // -EAGAIN: nothing more
    switch (event->type) {
      case SND_SEQ_EVENT_CLIENT_START:
      case SND_SEQ_EVENT_CLIENT_EXIT:
      case SND_SEQ_EVENT_CLIENT_CHANGE:
      case SND_SEQ_EVENT_PORT_START:
      case SND_SEQ_EVENT_PORT_EXIT:
      case SND_SEQ_EVENT_PORT_CHANGE:
        heard = true;
        break;
      default:
        break;
    }
  }
  return heard;
}
