// The MIDI input callback: every notification of every open input.
#pragma once

#include <cstdint>

#include "midi/ports.h"

// Called by the MIDI system on its callback thread; the input is found by its
// handle among IN1..INm. Short messages go to the event engine with their
// trigger number (timing clock excepted), long messages to routeLong; each
// returned receive buffer is queued again while the input is not closing.
void midiInCallback(MidiHandle handle, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t param2);
