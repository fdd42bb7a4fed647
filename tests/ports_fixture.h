// Fixture for the port tests: a fresh sim machine, and helpers to configure
// ports and to read the platform calls made.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "midi/open_close.h"
#include "midi/ports.h"
#include "sim_fixture.h"

class PortsFixture : public SimTest {
 protected:
  static void configureOut(int k, const char* name) {
    std::snprintf(outPorts[k].name, kPortNameSize, "%s", name);
    outPorts[k].configured = 255;
  }
  static void configureIn(int k, const char* name) {
    std::snprintf(inPorts[k].name, kPortNameSize, "%s", name);
    inPorts[k].configured = 255;
  }

  // The calls made since the mark, in order.
  static std::vector<std::string> callsSince(size_t mark) {
    std::vector<std::string> calls = simMidiCalls();
    return std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(mark), calls.end());
  }
  static int countCalls(const std::vector<std::string>& calls, const std::string& prefix) {
    int n = 0;
    for (const std::string& c : calls) n += c.rfind(prefix, 0) == 0;
    return n;
  }
};
