// Program-wide values and their start values.
#include "state/globals.h"

char programDir[kPathSize];
char16_t programDirW[kPathSize];
char settingsPath[kPathSize];
char16_t settingsPathW[kPathSize];
uint8_t settingsMissing;
char ownDir[kPathSize];
char userDir[kPathSize];

int DispLevel;
uint8_t consoleMode;
int Volume;
uint8_t oldWindows;
int mouseNote = -1;
int mouseChannel = -1;

void resetProgramValues(void) {
  settingsMissing = 0;
  DispLevel = 0;
  consoleMode = 0;
  Volume = 0;
  oldWindows = 0;
  mouseNote = -1;
  mouseChannel = -1;
}

int setVolume(int value) {
  (void)value;
  return 0;
}
