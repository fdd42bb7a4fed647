// Ports that follow their devices, on the window thread: close what went,
// open what came. Nothing here runs under the engine lock; closing an input
// waits for a notification under way, which may need that lock.
#include "app/devices.h"

#include "engine/engine.h"
#include "midi/open_close.h"
#include "midi/os_midi.h"
#include "midi/ports.h"
#include "support/log.h"

namespace {

enum { kRetryPasses = 250 };  // main-loop passes between looks while a port waits (about a second)

uint32_t seenGeneration = 0;  // the device generation last acted on
int passesSinceLook = 0;      // passes since the last look

bool anyPortWaiting(void) {
  for (int k = 0; k < inPortCount; k++) {
    if (inPorts[k].follow && inPorts[k].handle == 0) return true;
  }
  for (int k = 0; k < outPortCount; k++) {
    if (outPorts[k].follow && outPorts[k].disabled) return true;
  }
  return false;
}

}  // namespace

void followDevices(void) {
  const uint32_t generation = osMidiDeviceGeneration();
  passesSinceLook++;
  const bool changed = generation != seenGeneration;
  if (!changed && !(passesSinceLook >= kRetryPasses && anyPortWaiting())) return;
  seenGeneration = generation;
  passesSinceLook = 0;

  for (int k = 0; k < inPortCount; k++) {
    if (!inPorts[k].follow || inPorts[k].handle == 0 || !inDeviceGone(k)) continue;
    log(" IN%d: \"%s\" is gone.\n", k + 1, inPorts[k].openName);
    closeInPort(k);
    inPorts[k].failed = 255;
    releaseInput(k);
  }
  for (int k = 0; k < outPortCount; k++) {
    if (!outPorts[k].follow || outPorts[k].disabled || !outDeviceGone(k)) continue;
    log(" OUT%d: \"%s\" is gone.\n", k + 1, outPorts[k].openName);
    closeOutPort(k, true);
    outPorts[k].failed = 255;
  }
  // Outputs first, as at start: an input that opens plays to them at once.
  for (int k = 0; k < outPortCount; k++) {
    if (outPorts[k].follow && outPorts[k].disabled) reopenOutPort(k);
  }
  for (int k = 0; k < inPortCount; k++) {
    if (inPorts[k].follow && inPorts[k].handle == 0) reopenInPort(k);
  }
}

void resetDeviceFollowing(void) {
  seenGeneration = osMidiDeviceGeneration();
  passesSinceLook = 0;
}
