// Ports that follow their devices, on the window thread: close what went,
// open what came. Nothing here runs under the engine lock; closing an input
// waits for a notification under way, which may need that lock.
#include "app/devices.h"

#include "engine/engine.h"
#include "midi/open_close.h"
#include "midi/os_midi.h"
#include "midi/ports.h"
#include "support/log.h"
#include "support/os_system.h"

namespace {

// Between two looks while a port waits for its device: a second, however long
// the window thread's passes are (an idle Linux window thread makes few).
constexpr uint32_t kRetryMs = 1000;

uint32_t seenGeneration = 0;  // the device generation last acted on
uint32_t lastLook = 0;        // osMilliseconds at the last look

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
  const uint32_t now = osMilliseconds();
  const bool changed = generation != seenGeneration;
  if (!changed && !(now - lastLook >= kRetryMs && anyPortWaiting())) return;
  seenGeneration = generation;
  lastLook = now;

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
  lastLook = osMilliseconds();
}
