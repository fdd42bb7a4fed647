// Port tables and their start values.
#include "midi/ports.h"

#include <atomic>
#include <cassert>
#include <cstdlib>
#include <cstring>

InPort inPorts[kPortCount];
OutPort outPorts[kPortCount];
int outPortCount = 1;
int inPortCount = 0;

void resetPortTables(void) {
  for (int i = 0; i < kPortCount; i++) {
    InPort& in = inPorts[i];
    std::free(in.header.data);
    std::free(in.spareHeader.data);
    std::memset(&in, 0, sizeof in);
    in.channel = static_cast<int8_t>(i);
    in.failed = 255;

    OutPort& out = outPorts[i];
    std::free(out.header.data);
    std::free(out.spareHeader.data);
    std::memset(&out, 0, sizeof out);
    out.deviceId = i == 0 ? -1 : 0;
    out.failed = 255;
    out.disabled = 255;
    out.openDeviceId = -1;
    out.lastStatus = -1;
  }
  outPortCount = 1;
  inPortCount = 0;
}

int findInputByHandle(MidiHandle handle) {
  if (handle == 0) return -1;
  for (int k = 0; k < inPortCount && k < kPortCount; k++) {
    if (inPorts[k].handle == handle) return k;
  }
  return -1;
}

void markInputClosing(int k) {
  assert(k >= 0 && k < kPortCount);
  std::atomic_ref<uint8_t>(inPorts[k].closing).store(255);
}

bool inputClosing(int k) {
  assert(k >= 0 && k < kPortCount);
  return std::atomic_ref<uint8_t>(inPorts[k].closing).load() != 0;
}
