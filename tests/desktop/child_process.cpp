// Child processes of the desktop tests and the JACK harness (see child_process.h).
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

bool onPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

pid_t launch(const std::vector<std::string>& args, const std::string& out, const std::string& dir, int keepFd) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // SDL's D-Bus probe leaves a kilobyte behind under Xvfb, and libjack's ring
  // buffers look racy to ThreadSanitizer; a sanitizer build of the program
  // reports them but must not turn them into a failing exit code (the sim
  // suites cover our own code under both). The first occurrence of a variable
  // in the environment wins.
  static char quietLeaks[] = "ASAN_OPTIONS=detect_leaks=0";
  static char quietRaces[] = "TSAN_OPTIONS=exitcode=0";
  std::vector<char*> envp{quietLeaks, quietRaces};
  for (char** e = environ; *e; e++) envp.push_back(*e);
  envp.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);
  const int o = ::open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int in = ::open("/dev/null", O_RDONLY);
  if (o >= 0) {
    ::dup2(o, 1);
    ::dup2(o, 2);
  }
  if (in >= 0) ::dup2(in, 0);
  if (keepFd >= 0) ::fcntl(keepFd, F_SETFD, 0);
  if (!dir.empty() && ::chdir(dir.c_str()) != 0) ::_exit(127);
  ::execvpe(argv[0], argv.data(), envp.data());
  ::_exit(127);
}

int reap(pid_t pid, std::chrono::milliseconds patience) {
  int status = 0;
  const auto give = std::chrono::steady_clock::now() + patience;
  while (std::chrono::steady_clock::now() < give) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
