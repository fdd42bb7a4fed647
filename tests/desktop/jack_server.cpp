// Starting and stopping the tests' JACK server.
#include "jack_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

static void quiet(const char*) {}

bool jackdInstalled(void) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && ::access((dir + "/jackd").c_str(), X_OK) == 0) return true;
  }
  return false;
}

static bool answers(const char* name) {
  jack_status_t status;
  jack_client_t* client =
      jack_client_open("nltest-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status, name);
  if (!client) return false;
  jack_client_close(client);
  return true;
}

static std::string logText(const JackServer* server) {
  std::ifstream in(server->log);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool jackServerStart(JackServer* server, const char* tag, std::string* why) {
  std::snprintf(server->name, sizeof server->name, "nltest-%s-%d", tag, static_cast<int>(::getpid()));
  std::snprintf(server->log, sizeof server->log, "/tmp/%s.log", server->name);
  server->pid = 0;
  // Every JACK client of this process, the backend's included, goes to it.
  ::setenv("JACK_DEFAULT_SERVER", server->name, 1);
  // The probes below meet no server at first; libjack would say so on stderr.
  jack_set_error_function(quiet);
  jack_set_info_function(quiet);
  // -r before -d: no real-time scheduling (containers rarely allow it). -S:
  // the server waits for every client to finish its cycle; without it a busy
  // machine skips late clients and the MIDI events of that cycle are lost.
  // The dummy driver needs no sound hardware.
  const char* argv[] = {"jackd", "-S", "-r", "-n", server->name, "-d", "dummy", "-r", "48000", "-p", "256", nullptr};
  // fork and exec rather than posix_spawn: the child asks to be ended with
  // the test process, so a test that crashes leaves no server running.
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    *why = std::string("cannot fork: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    const int out = ::open(server->log, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    if (in >= 0) ::dup2(in, 0);
    ::execvp("jackd", const_cast<char**>(argv));
    static const char failed[] = "jackd cannot be run\n";
    if (::write(2, failed, sizeof failed - 1) < 0) ::_exit(126);
    ::_exit(127);
  }
  server->pid = pid;
  for (int attempt = 0; attempt < 100; attempt++) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      server->pid = 0;
      *why = "jackd ended at once:\n" + logText(server);
      std::remove(server->log);
      return false;
    }
    if (answers(server->name)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  *why = "jackd does not answer:\n" + logText(server);
  jackServerStop(server);
  return false;
}

void jackServerStop(JackServer* server) {
  if (server->pid == 0) return;
  ::kill(server->pid, SIGTERM);
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 50 && !ended; i++) {
    ended = ::waitpid(server->pid, &status, WNOHANG) == server->pid;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!ended) {
    ::kill(server->pid, SIGKILL);
    ::waitpid(server->pid, &status, 0);
  }
  server->pid = 0;
  std::remove(server->log);
  // A server stopped while clients were still attached leaves their
  // semaphores in /dev/shm; the unique name tells ours.
  const std::string mark = std::string("_") + server->name + "_";
  if (DIR* shm = ::opendir("/dev/shm")) {
    while (dirent* entry = ::readdir(shm)) {
      if (std::strstr(entry->d_name, mark.c_str())) ::unlinkat(::dirfd(shm), entry->d_name, 0);
    }
    ::closedir(shm);
  }
}

// ThreadSanitizer: libjack's ring buffer (RtMidi's JACK output queue) passes
// data between threads through memory barriers in code that is not
// instrumented, so the sanitizer sees only the two memcpy calls and reports a
// race that is none. Likewise a port buffer that one client of this process
// writes (jack_midi_event_write) and another reads in a later step of the
// same cycle: the server orders the two through its graph (semaphores in
// shared memory), which the sanitizer does not see; the frames test's own
// raw client reads and writes such buffers in its process callback.
extern "C" const char* __tsan_default_suppressions() {
  return "race:jack_ringbuffer_read\n"
         "race:jack_ringbuffer_peek\n"
         "race:jack_ringbuffer_write\n"
         "race:jack_midi_event_write\n"
         "race:desktop_jack_frames_test.cpp\n";
}
