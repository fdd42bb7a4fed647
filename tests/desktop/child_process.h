// Child processes of the desktop tests and the JACK harness (Xvfb, the built
// program, jackd's helpers): started so that they end with their parent, and
// reaped within a bound.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// Whether a program is on the PATH.
bool onPath(const char* program);

// Runs args[0] (looked up on the PATH) as a child that is killed when the
// caller ends. out: file for its standard output and error (empty:
// /dev/null); dir: its working directory (empty: ours); keepFd: a descriptor
// the child keeps, -1 for none. A sanitizer build of the child reports leaks
// and races but does not turn them into its exit code. Returns its pid.
pid_t launch(const std::vector<std::string>& args, const std::string& out, const std::string& dir, int keepFd);

// Waits (bounded) for a child to end; kills it when it does not. Returns its
// wait status, -1 when it had to be killed.
int reap(pid_t pid, std::chrono::milliseconds patience);

// The whole text of a file, empty when it cannot be read.
std::string fileText(const std::string& path);
