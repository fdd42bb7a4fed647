// A JACK server of the tests' own: jackd with the dummy driver under a name of
// its own (JACK_DEFAULT_SERVER points the test process at it), started and
// stopped by the test.
#pragma once

#include <sys/types.h>

#include <string>

struct JackServer {
  pid_t pid;       // the jackd process, 0 = not running
  char name[64];   // server name, unique to the test process
  char log[96];    // file that takes jackd's output
};

// Whether a jackd program is on the PATH.
bool jackdInstalled(void);
// Starts jackd and waits (at most about ten seconds) until it answers a
// client. On failure *why tells what went wrong and nothing is left running.
bool jackServerStart(JackServer* server, const char* tag, std::string* why);
// Stops it (SIGTERM, after five seconds SIGKILL) and waits for the process.
void jackServerStop(JackServer* server);
