// The MIDI input callback: every notification of every open input.
#pragma once

#include <cstdint>

#include "midi/ports.h"

// Called by the MIDI system on its callback thread; the input is found by its
// handle among IN1..INm. Short messages go to the event engine with their
// trigger number (timing clock excepted), long messages to routeLong; each
// returned receive buffer is queued again while the input is not closing.
void midiInCallback(MidiHandle handle, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t param2);

// The input entry 0..m-1 whose handle is handle; -1 when none is.
int findInputByHandle(MidiHandle handle);

// Input k (0..15) is being closed: from now on a receive buffer that comes
// back is not queued again. The closing code calls it before resetting the
// input, so the reset can hand every buffer back for good.
void markInputClosing(int k);
