// Display settings that the settings file sets and the keyboard geometry uses.
#pragma once

extern int MagX;     // pixels per horizontal unit
extern int MagY;     // pixels per vertical unit, in tenths of the option value
extern int NoteMin;  // lowest note shown
extern int NoteMax;  // highest note shown
extern int totalY;   // height of all columns with their gaps

void resetDisplaySettings(void);
