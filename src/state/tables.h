// Tables of the event engine shared with the settings reader and the display:
// which channel each keyboard column shows, and the damper state per channel.
#pragma once

#include <cstdint>

enum { kChannelCount = 16, kHeldNotesSize = 512 };

extern int maxcolumns;                                  // columns in use, 0..16
extern int8_t columnChannel[kChannelCount];             // channel of each column; -1 = none
extern int channelColumn[kChannelCount];                // column of each channel; -1 = none
extern uint8_t channelShown[kChannelCount];             // 255: the channel has been taken on
extern uint8_t allChMix;                                // 255: all channels in one column
extern uint8_t fixedColumns;                            // 255: columns fixed by the settings
extern uint8_t damperDown[kChannelCount];               // 255: damper pedal held
extern int8_t heldNotes[kChannelCount][kHeldNotesSize]; // notes released under the damper; -1 = empty
extern int heldCount[kChannelCount];                    // entries of heldNotes in use
// The look each key of each channel was last drawn with (0 Off, 1 Sustained,
// -1 On), so a relayout can draw the keyboard as it stands; drawKey writes it
// and everything reads it with the display lock held.
extern int8_t drawnLook[kChannelCount][128];

// What each input has under way, so that all of it can be ended when the
// input's device goes: bit n % 32 of word n / 32 is note n. Written under the
// engine lock.
extern uint32_t noteSentBy[16][kChannelCount][4];  // a note-on went out on that channel, no note-off yet
extern uint32_t keyLitBy[16][kChannelCount][4];    // its note lit the key of that (received) channel
extern uint16_t damperBy[16];                      // bit c: it holds channel c's damper down

void resetEngineTables(void);
