// The least a JACK client with one MIDI input and one MIDI output can cost:
// its process callback only takes the two ports' buffers, counts the input's
// events and clears the output. The idle benchmark runs it where the program
// ran, connected the same way (output first, then input), to tell what the
// program adds from what that place in the server's cycle costs any client.
//   notalumen_jack_floor SOURCE-PORT SINK-PORT   (ends on SIGTERM or SIGINT)
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>

#include <cstdio>

namespace {

jack_port_t* in;   // reads SOURCE-PORT
jack_port_t* out;  // writes to SINK-PORT

int process(jack_nframes_t frames, void*) {
  (void)jack_midi_get_event_count(jack_port_get_buffer(in, frames));
  jack_midi_clear_buffer(jack_port_get_buffer(out, frames));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: notalumen_jack_floor SOURCE-PORT SINK-PORT\n");
    return 2;
  }
  // The quit signals are taken by sigwait below, on this thread only; the
  // client's threads start after this and inherit the mask.
  sigset_t quit;
  sigemptyset(&quit);
  sigaddset(&quit, SIGTERM);
  sigaddset(&quit, SIGINT);
  pthread_sigmask(SIG_BLOCK, &quit, nullptr);

  jack_client_t* client = jack_client_open("NotalumenFloor", JackNoStartServer, nullptr);
  if (!client) {
    std::fprintf(stderr, "notalumen_jack_floor: no JACK server answers\n");
    return 1;
  }
  in = jack_port_register(client, "In 1", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  out = jack_port_register(client, "Out 1", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (!in || !out || jack_set_process_callback(client, process, nullptr) != 0 || jack_activate(client) != 0 ||
      jack_connect(client, jack_port_name(out), argv[2]) != 0 || jack_connect(client, argv[1], jack_port_name(in)) != 0) {
    std::fprintf(stderr, "notalumen_jack_floor: cannot set up and connect the ports\n");
    jack_client_close(client);
    return 1;
  }
  int which = 0;
  sigwait(&quit, &which);
  jack_client_close(client);
  return 0;
}
