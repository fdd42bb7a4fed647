// Flood and latency harness of the Linux desktop program on JACK: starts a
// private jackd (dummy driver), a private Xvfb and the built program, plays note
// messages into the program's IN1 at a set rate, and counts and times what its
// OUT1 sends back, against the harness's own output looped straight back to its
// input at the same rate in the same run. With --outputs N the program routes
// to N outputs (OUT2..OUTN to harness ports that nobody reads). When jalv and
// x42-plugins' MIDI filters are installed, a peer does the same routing in the
// same run: jalv hosting the MIDI Channel Map plugin (channel 1 to 3, no
// display). Prints the figures as Markdown.
//   notalumen_jack_flood PROGRAM [--rate MESSAGES_PER_SECOND] [--seconds S] [--outputs N]
// Exits 0 when it ran (a missed target is reported, not an error), 2 when it
// could not run (no jackd or Xvfb, the program does not start or pass MIDI).
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "flood_run.h"
#include "flood_text.h"
#include "jack_server.h"

// Xlib last: its macros (None, Bool, Status) would clash with the names above.
#include "x_session.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kProgramChannel = 2;                    // IN1:CH3 re-channels everything to channel 3
constexpr uint32_t kProbe = 0xB0 | 0x03 << 8;             // a controller nothing reacts to (B0 03 00)
constexpr uint32_t kProbeBack = 0xB2 | 0x03 << 8;         // as IN1's settings re-channel it
constexpr auto kPatience = std::chrono::seconds(15);      // longest wait for the program at start
constexpr char kPeerPlugin[] = "http://gareus.org/oss/lv2/midifilter#channelmap";  // x42 MIDI Channel Map
constexpr char kPeerName[] = "nlpeer";                    // the peer's JACK client

// Where x42-plugins' MIDI filters are, empty when they are not installed.
std::string peerBundle() {
  for (const char* dir : {"/usr/lib/lv2", "/usr/local/lib/lv2", "/usr/lib/x86_64-linux-gnu/lv2"}) {
    const std::string bundle = std::string(dir) + "/midifilter.lv2";
    if (::access((bundle + "/manifest.ttl").c_str(), R_OK) == 0) return bundle;
  }
  return "";
}

// The peer's one MIDI port of a direction, empty until it has registered it.
std::string peerPort(jack_client_t* client, unsigned long flags) {
  const char** ports = jack_get_ports(client, "^nlpeer:", JACK_DEFAULT_MIDI_TYPE, flags);
  std::string name = ports && ports[0] ? ports[0] : "";
  if (ports) jack_free(ports);
  return name;
}

// The CPU target of a run (percent of one core), 0 where the issue sets none.
double cpuTarget(double rate, int outputs) {
  if (outputs >= 16 && rate == 100000) return 7;
  if (outputs == 1 && rate == 100000) return 4;
  if (outputs == 1 && rate == 300000) return 9;
  return 0;
}

void quiet(const char*) {}

int usage() {
  std::fprintf(stderr, "usage: notalumen_jack_flood PROGRAM [--rate MESSAGES_PER_SECOND] [--seconds S] [--outputs 1..16]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program;
  double rate = 100000;
  double seconds = 10;
  int outputs = 1;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if ((a == "--rate" || a == "--seconds") && i + 1 < argc) {
      const double v = std::atof(argv[++i]);
      if (v <= 0) return usage();
      (a == "--rate" ? rate : seconds) = v;
    } else if (a == "--outputs" && i + 1 < argc) {
      outputs = std::atoi(argv[++i]);
      if (outputs < 1 || outputs > 16) return usage();
    } else if (a.rfind("--", 0) == 0 || !program.empty()) {
      return usage();
    } else {
      program = a;
    }
  }
  if (program.empty()) return usage();
  if (::access(program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "notalumen_jack_flood: no program at %s\n", program.c_str());
    return 2;
  }
  for (const char* needed : {"jackd", "Xvfb"}) {
    if (!onPath(needed)) {
      std::fprintf(stderr, "notalumen_jack_flood: %s is not installed\n", needed);
      return 2;
    }
  }
  const std::string loadBefore = loadAverage();

  // The JACK server (its name goes into JACK_DEFAULT_SERVER for us and the program).
  JackServer server{};
  std::string why;
  if (!jackServerStart(&server, "flood", &why)) {
    std::fprintf(stderr, "notalumen_jack_flood: %s\n", why.c_str());
    return 2;
  }
  jack_set_error_function(quiet);
  jack_set_info_function(quiet);
  Harness h;
  pid_t xvfb = 0;
  pid_t child = 0;
  pid_t peer = 0;
  Display* x = nullptr;
  Window window = 0;
  std::string scratch;
  // Everything is taken down at the end, whichever way the run went.
  auto finish = [&](int code) {
    // Closed as a window manager would: the program leaves JACK cleanly (a
    // killed client would hold up the synchronous server until it gives up).
    if (child > 0) closeProgram(x, window, child);
    if (peer > 0) {
      ::kill(peer, SIGTERM);
      reap(peer, std::chrono::seconds(5));
    }
    if (x != nullptr) XCloseDisplay(x);
    if (h.client != nullptr) jack_client_close(h.client);
    jackServerStop(&server);
    if (xvfb > 0) stopXvfb(xvfb);
    if (!scratch.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(scratch, ignored);
    }
    return code;
  };

  jack_status_t status;
  h.client = jack_client_open("nlflood", JackNoStartServer, &status);
  if (h.client == nullptr) {
    std::fprintf(stderr, "notalumen_jack_flood: cannot open a JACK client\n");
    return finish(2);
  }
  h.keys = jack_port_register(h.client, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  h.synth = jack_port_register(h.client, "synth", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  h.loopOut = jack_port_register(h.client, "loop_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  h.loopIn = jack_port_register(h.client, "loop_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  h.peerOut = jack_port_register(h.client, "peer_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  h.peerIn = jack_port_register(h.client, "peer_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  bool sinks = true;  // OUT2..: ports of ours that nobody reads
  for (int k = 2; k <= outputs; k++) {
    sinks = sinks && jack_port_register(h.client, ("sink_" + std::to_string(k)).c_str(), JACK_DEFAULT_MIDI_TYPE,
                                        JackPortIsInput, 0) != nullptr;
  }
  if (!h.keys || !h.synth || !h.loopOut || !h.loopIn || !h.peerOut || !h.peerIn || !sinks || jack_set_process_callback(h.client, floodProcess, &h) != 0 ||
      jack_set_xrun_callback(h.client, floodXrun, &h) != 0 || jack_activate(h.client) != 0) {
    std::fprintf(stderr, "notalumen_jack_flood: cannot set up the JACK ports\n");
    return finish(2);
  }
  const std::string clientName = jack_get_client_name(h.client);
  const double sampleRate = jack_get_sample_rate(h.client);
  const jack_nframes_t period = jack_get_buffer_size(h.client);
  const size_t midiBuffer = jack_port_type_get_buffer_size(h.client, JACK_DEFAULT_MIDI_TYPE);
  std::fprintf(stderr, "JACK server %s: %u frames a period at %.0f Hz = %.3f ms\n", server.name, period, sampleRate,
               1000.0 * period / sampleRate);

  // The X server and the program, from a scratch copy beside its settings.
  std::string display;
  x = startXvfb(&xvfb, &display, &why);
  if (x == nullptr) {
    std::fprintf(stderr, "notalumen_jack_flood: %s\n", why.c_str());
    return finish(2);
  }
  char pattern[] = "/tmp/notalumen-flood-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::fprintf(stderr, "notalumen_jack_flood: no scratch directory: %s\n", std::strerror(errno));
    return finish(2);
  }
  scratch = pattern;
  const std::string copy = scratch + "/notalumen";
  std::error_code copied;
  std::filesystem::copy_file(program, copy, copied);
  ::chmod(copy.c_str(), 0755);
  std::string settings = "-OUT1:\"" + clientName + ":synth\"\r\n";
  for (int k = 2; k <= outputs; k++) {
    settings += "-OUT" + std::to_string(k) + ":\"" + clientName + ":sink_" + std::to_string(k) + "\"\r\n";
  }
  settings += "-IN1:\"" + clientName + ":keys\":CH3\r\n-nMin=" + std::to_string(kLowNote) + " -nMax=" +
              std::to_string(kHighNote) + "\r\n";
  std::ofstream(scratch + "/sonrack.ini", std::ios::binary) << settings;
  ::setenv("DISPLAY", display.c_str(), 1);
  ::setenv("NOTALUMEN_MIDI", "jack", 1);
  child = launch({copy}, scratch + "/output.log", scratch, -1);
  bool ended = false;
  window = waitForWindow(x, "Notalumen ", child, kPatience, &ended);
  if (ended) child = 0;
  if (window == 0) {
    std::fprintf(stderr, "notalumen_jack_flood: the program's window did not show\n%s",
                 fileText(scratch + "/output.log").c_str());
    return finish(2);
  }
  bool through = false;
  for (int i = 0; i < 150 && !through; i++) through = passes(&h, kProbe, kProbeBack, std::chrono::milliseconds(100));
  // A first note gives channel 3 its keyboard strip, so the flood finds the
  // keyboard laid out as it stays.
  through = through && passes(&h, 0x90 | 60 << 8 | 100 << 16, 0x92 | 60 << 8 | 100 << 16, kPatience) &&
            passes(&h, 0x80 | 60 << 8, 0x82 | 60 << 8, kPatience);
  if (!through) {
    std::fprintf(stderr, "notalumen_jack_flood: nothing passes the program\n%s",
                 fileText(scratch + "/output.log").c_str());
    return finish(2);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const Watched watched = {child, xvfb, server.pid};

  // The baseline: our own output straight back to our own input.
  const std::string loopFrom = clientName + ":loop_out";
  const std::string loopTo = clientName + ":loop_in";
  if (jack_connect(h.client, loopFrom.c_str(), loopTo.c_str()) != 0) {
    std::fprintf(stderr, "notalumen_jack_flood: cannot connect the loopback\n");
    return finish(2);
  }
  std::fprintf(stderr, "Direct loopback: %.0f messages/s for %.0f s ...\n", rate, seconds);
  const Figures loop = flood(&h, h.loopOut, h.loopIn, 0, rate, seconds, sampleRate, period, watched);
  jack_disconnect(h.client, loopFrom.c_str(), loopTo.c_str());

  // The peer, when installed: jalv hosting the channel map, channel 1 to 3.
  std::string peerSkipped;
  Figures peerFigures{};
  const std::string bundle = peerBundle();
  if (!onPath("jalv") || bundle.empty()) {
    peerSkipped = "jalv or x42-plugins (midifilter.lv2) is not installed; `make bench` installs both";
  } else {
    peer = launch({"jalv", "-i", "-n", kPeerName, "-c", "chn1=3", kPeerPlugin}, scratch + "/peer.log", scratch, -1);
    std::string peerIn, peerOut;
    for (int i = 0; i < 100 && (peerIn.empty() || peerOut.empty()); i++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      peerIn = peerPort(h.client, JackPortIsInput);
      peerOut = peerPort(h.client, JackPortIsOutput);
    }
    if (peerIn.empty() || peerOut.empty() ||
        jack_connect(h.client, jack_port_name(h.peerOut), peerIn.c_str()) != 0 ||
        jack_connect(h.client, peerOut.c_str(), jack_port_name(h.peerIn)) != 0) {
      peerSkipped = "jalv did not start the plugin with its MIDI ports: " + fileText(scratch + "/peer.log");
    } else {
      waitCycles(&h, 10);
      std::fprintf(stderr, "Through the peer: %.0f messages/s for %.0f s ...\n", rate, seconds);
      const Watched byPeer = {peer, xvfb, server.pid};
      peerFigures = flood(&h, h.peerOut, h.peerIn, kProgramChannel, rate, seconds, sampleRate, period, byPeer);
    }
    ::kill(peer, SIGTERM);  // the program's flood runs without it
    reap(peer, std::chrono::seconds(5));
    peer = 0;
  }
  std::fprintf(stderr, "Through the program: %.0f messages/s for %.0f s ...\n", rate, seconds);
  const Figures prog = flood(&h, h.keys, h.synth, kProgramChannel, rate, seconds, sampleRate, period, watched);
  int programStatus = 0;
  const bool programAlive = ::waitpid(child, &programStatus, WNOHANG) == 0;
  const std::string loadAfter = loadAverage();

  // ---- The report.
  utsname host{};
  ::uname(&host);
  char when[64];
  const std::time_t t = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", std::gmtime(&t));
  char rateText[128];
  std::snprintf(rateText, sizeof rateText, "--rate %.0f --seconds %g%s", rate, seconds,
                outputs > 1 ? (" --outputs " + std::to_string(outputs)).c_str() : "");
  const std::string command = std::string("`") + argv[0] + " " + program + " " + rateText + "`";
  const double perCycle = rate * period / sampleRate;
  std::printf("Run of %s on %u cores (%s), %s %s;\n", when, std::thread::hardware_concurrency(), cpuModel().c_str(),
              host.sysname, host.release);
  std::printf("load average %s before the run, %s after it.\n", loadBefore.c_str(), loadAfter.c_str());
  std::printf("JACK: a private `jackd -S -r -d dummy -r 48000 -p 256` (synchronous, not real-time):\n");
  std::printf("a period of %u frames at %.0f Hz, %.3f ms; MIDI port buffers of %s bytes.\n", period, sampleRate,
              1000.0 * period / sampleRate, grouped(static_cast<int64_t>(midiBuffer)).c_str());
  std::printf("The program ran from a scratch copy in a private Xvfb (1280x1024x24) with the settings\n");
  std::printf("`-OUT1:\"%s:synth\"%s -IN1:\"%s:keys\":CH3 -nMin=%d -nMax=%d`: the notes come in on channel 1\n",
              clientName.c_str(), outputs > 1 ? (" .. -OUT" + std::to_string(outputs) + " (harness ports nobody reads)").c_str() : "",
              clientName.c_str(), kLowNote, kHighNote);
  std::printf("and must leave on channel 3, and each one draws its key in the window (keys %d..%d).\n", kLowNote,
              kHighNote);
  std::printf("Traffic: note-on and note-off in turn over the %d keys, velocity 1..127 stepping once a round,\n",
              kNotes);
  std::printf("so no message repeats within %s; %s messages/s for %g s (about %.0f a period), each at its\n",
              grouped(kPattern).c_str(), grouped(static_cast<int64_t>(rate)).c_str(), seconds, perCycle);
  std::printf("own frame within the period. Latency is the frame it arrives at (the period's first frame\n");
  std::printf("plus the event's offset) less the frame it was sent at. The baseline is the harness's\n");
  std::printf("own output connected straight to its own input, flooded the same way just before. Both keep\n");
  std::printf("each message's frame within the period; the spread is the maximum less the minimum latency.\n\n");

  auto verdictNone = [](int64_t v) { return std::string(v == 0 ? "none (met)" : "none (missed)"); };
  auto addedVerdict = [&](int64_t v) {
    return std::string(v <= static_cast<int64_t>(period) ? "at most one period (met)" : "at most one period (missed)");
  };
  std::printf("| Figure | Through the program | Target | Baseline in the same run: direct loopback | Command |\n");
  std::printf("|---|---|---|---|---|\n");
  std::printf("| Messages sent | %s in %.2f s | %s in %g s | %s in %.2f s | %s |\n", grouped(prog.sent).c_str(),
              prog.sendSeconds, grouped(prog.total).c_str(), seconds, grouped(loop.sent).c_str(), loop.sendSeconds,
              command.c_str());
  std::printf("| Messages back | %s (the last %.2f s after the last was sent) | all | %s | %s |\n",
              grouped(prog.received).c_str(), prog.drainSeconds, grouped(loop.received).c_str(), command.c_str());
  std::printf("| Lost | %s | %s | %s | %s |\n", grouped(prog.sent - prog.received).c_str(),
              verdictNone(prog.sent - prog.received).c_str(), grouped(loop.sent - loop.received).c_str(),
              command.c_str());
  std::printf("| Out of order | %s | none | %s | %s |\n", grouped(prog.outOfOrder).c_str(),
              grouped(loop.outOfOrder).c_str(), command.c_str());
  std::printf("| Not on channel 3 / duplicated / not ours | %s / %s / %s | none | %s / %s / %s (channel 1 expected) | %s |\n",
              grouped(prog.wrongChannel).c_str(), grouped(prog.duplicates).c_str(), grouped(prog.foreign).c_str(),
              grouped(loop.wrongChannel).c_str(), grouped(loop.duplicates).c_str(), grouped(loop.foreign).c_str(),
              command.c_str());
  std::printf("| Latency, median | %s | - | %s | %s |\n", frames(prog.median, sampleRate).c_str(),
              frames(loop.median, sampleRate).c_str(), command.c_str());
  std::printf("| Latency, 99th percentile | %s | - | %s | %s |\n", frames(prog.p99, sampleRate).c_str(),
              frames(loop.p99, sampleRate).c_str(), command.c_str());
  std::printf("| Latency, maximum | %s | - | %s | %s |\n", frames(prog.max, sampleRate).c_str(),
              frames(loop.max, sampleRate).c_str(), command.c_str());
  const int64_t spread = static_cast<int64_t>(prog.max) - prog.min;
  std::printf("| Latency spread (maximum - minimum) | %s | %s | %s | %s |\n", frames(spread, sampleRate).c_str(),
              spread <= 1 ? "at most 1 frame (met)" : "at most 1 frame (missed)",
              frames(static_cast<int64_t>(loop.max) - loop.min, sampleRate).c_str(), command.c_str());
  const int64_t addMedian = static_cast<int64_t>(prog.median) - loop.median;
  const int64_t addP99 = static_cast<int64_t>(prog.p99) - loop.p99;
  const int64_t addMax = static_cast<int64_t>(prog.max) - loop.max;
  std::printf("| Period boundaries between sending and arrival | %s | - | %s | %s |\n", crossings(prog).c_str(),
              crossings(loop).c_str(), command.c_str());
  std::printf("| Added latency, median | %s | %s | - | %s |\n", added(addMedian, sampleRate).c_str(),
              addedVerdict(addMedian).c_str(), command.c_str());
  std::printf("| Added latency, 99th percentile | %s | %s | - | %s |\n", added(addP99, sampleRate).c_str(),
              addedVerdict(addP99).c_str(), command.c_str());
  std::printf("| Added latency, maximum | %s | %s | - | %s |\n", added(addMax, sampleRate).c_str(),
              addedVerdict(addMax).c_str(), command.c_str());
  std::printf("| Sent a period or more behind the schedule (port buffer full) | %s | - | %s | %s |\n",
              grouped(prog.late).c_str(), grouped(loop.late).c_str(), command.c_str());
  const double target = cpuTarget(rate, outputs);
  char cpuVerdict[64] = "-";
  if (target > 0) {
    std::snprintf(cpuVerdict, sizeof cpuVerdict, "program at most %.0f %% (%s)", target,
                  prog.programCpu <= target ? "met" : "missed");
  }
  std::printf("| CPU while sending, percent of one core: program / Xvfb / jackd | %s / %s / %s | %s | %s / %s / %s (program idle) | %s |\n",
              percent(prog.programCpu).c_str(), percent(prog.xvfbCpu).c_str(), percent(prog.jackdCpu).c_str(), cpuVerdict,
              percent(loop.programCpu).c_str(), percent(loop.xvfbCpu).c_str(), percent(loop.jackdCpu).c_str(),
              command.c_str());
  std::printf("| xruns reported by the server | %s | - | %s | %s |\n", grouped(static_cast<int64_t>(prog.xruns)).c_str(),
              grouped(static_cast<int64_t>(loop.xruns)).c_str(), command.c_str());
  if (!peerSkipped.empty()) {
    std::printf("\nPeer: skipped, %s.\n", peerSkipped.c_str());
  } else {
    const Figures& q = peerFigures;
    std::printf("\nPeer in the same run, flooded the same way between the baseline and the program: `jalv -i -n %s\n",
                kPeerName);
    std::printf("-c chn1=3 %s` (x42-plugins' MIDI Channel Map: channel 1 to 3; no display, one output).\n\n",
                kPeerPlugin);
    std::printf("| Figure | Through the program | Through the peer | Program / peer | Command |\n|---|---|---|---|---|\n");
    std::printf("| Lost | %s | %s | - | %s |\n", grouped(prog.sent - prog.received).c_str(),
                grouped(q.sent - q.received).c_str(), command.c_str());
    std::printf("| Latency, median / maximum | %s / %s | %s / %s | - | %s |\n", frames(prog.median, sampleRate).c_str(),
                frames(prog.max, sampleRate).c_str(), frames(q.median, sampleRate).c_str(), frames(q.max, sampleRate).c_str(),
                command.c_str());
    std::printf("| CPU while sending, percent of one core | %s | %s | %.1f : 1 | %s |\n", percent(prog.programCpu).c_str(),
                percent(q.programCpu).c_str(), q.programCpu > 0 ? prog.programCpu / q.programCpu : 0.0, command.c_str());
  }
  if (!programAlive) {
    std::printf("\nThe program ended during the run (wait status %d).\n", programStatus);
    child = 0;
  }
  std::fflush(stdout);
  return finish(0);
}
