// Keyboard geometry: the displayed note range, where each key lies in pixels,
// how the channel columns are stacked, and which key lies under a point.
#pragma once

#include <mutex>

// The display lock. It is held while the layout tables below, the drawing
// surfaces or the scroll offsets change, and while anything is drawn, so that
// the MIDI callback thread and the window thread never paint or re-lay out at
// the same time (see window.cpp).
extern std::mutex displayLock;

enum { columnGap = 2 };  // pixels between two stacked columns

// Range values, set by setKeyRange.
extern int fromOct;             // octave of the first displayed key
extern int fromNote;            // note within that octave (a white key)
extern int toOct;               // octave of the last displayed key
extern int toNote;              // note within that octave (a white key)
extern int firstDisplayedNote;  // fromOct * 12 + fromNote
extern int lastDisplayedNote;   // toOct * 12 + toNote
extern int gxleft;              // left outline of the keyboard, absolute pixels
extern int gxright;             // right outline of the keyboard, absolute pixels
extern int keyHeight;           // height of one column in pixels

// Column layout, set by layoutColumns (the total height is totalY).
extern int columnTop[16];     // top row of each column in the back buffer
extern int columnHeight[16];  // height of each column in pixels

// Pixels per horizontal unit as the geometry uses it: MagX, but at least 1.
int unitX(void);
// Pixels per vertical unit likewise: MagY, but at least 1.
int unitY(void);

// True while all channels share one column (allChMix, or no columns in use).
bool singleColumnMode(void);

// Sets the displayed range from two note numbers and derives the values
// above. Returns 0.
int setKeyRange(int low, int high);

// Recomputes columnTop, columnHeight and totalY from the column tables. Once
// other threads may draw, the caller holds displayLock (relayoutKeyboard does).
void layoutColumns(void);

struct KeyHit {
  int channel;  // channel of the column under the point, -1 = none
  int note;     // note under the point, 128 when in no column
};

// The channel and note under back-buffer pixel (x, y). Takes displayLock.
KeyHit hitTest(int x, int y);
