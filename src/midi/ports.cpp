// Port tables and their start values.
#include "midi/ports.h"

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
