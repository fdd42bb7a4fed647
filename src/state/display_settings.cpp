// Display settings with their defaults.
#include "state/display_settings.h"

int MagX = 1;
int MagY = 10;
int NoteMin = 24;
int NoteMax = 72;
int totalY = 50;

void resetDisplaySettings(void) {
  MagX = 1;
  MagY = 10;
  NoteMin = 24;
  NoteMax = 72;
  totalY = 50;
}
