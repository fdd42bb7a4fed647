// Key drawing: the rectangle fill that paints the back buffer and the window
// together, and the keys built from it in their three looks.
#pragma once

#include <cstdint>

// Looks passed to drawKey: Off, Sustained (held by the damper pedal) and On
// (any other value; the event engine passes -1).
enum { kLookOff = 0, kLookSustained = 1, kLookOn = -1 };

enum { pressDepth = 1 };  // rows by which a pressed white key is drawn shorter

// Fills x1..x2, y1..y2 (both inclusive) with (r, g, b): in the back buffer at
// those keyboard coordinates, then in the window shifted by the scroll offsets.
// Takes the display lock.
void fillRect(int x1, int y1, int x2, int y2, uint8_t r, uint8_t g, uint8_t b);
void hLine(int x1, int x2, int y, uint8_t r, uint8_t g, uint8_t b);
void vLine(int x, int y1, int y2, uint8_t r, uint8_t g, uint8_t b);

// Draws one note's key in the column of the channel (0..15) with the look,
// and remembers the look for relayouts.
// 0: drawn; 1: note outside the displayed range; 2: the channel has no column;
// -2: the channel's column index is 16 or more. Takes the display lock.
int drawKey(int channel, int note, int look);

// Where the platform defers keys (osWindowDefersKeys), paints every key drawn
// since the last call, each once in its latest look. The window thread calls
// it at every pass. Takes the display lock.
void paintPendingKeys(void);
// Start value: no key waits to be painted, none is known painted.
void resetPendingKeys(void);
// The back buffer was built anew: no key is known painted on it, so a noted
// key is painted whatever its look. The caller holds displayLock.
void forgetShownKeys(void);

// Draws every key of the channel that is not Off in the Off look (All Notes
// Off, All Sound Off). Returns how many there were. Takes the display lock.
int releaseChannelKeys(int channel);

// Draws every displayed key of every column in its present look (Off until a
// note drew it otherwise), with black bands between the columns. Takes the
// display lock.
void drawKeyboard(void);
// The same for a caller that already holds the display lock.
void drawKeyboardLocked(void);
