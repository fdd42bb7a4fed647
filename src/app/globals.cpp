// Application globals and the start values of every table of the program.
#include "app/globals.h"

#include "app/exit.h"
#include "app/log.h"
#include "app/pump.h"
#include "display/window.h"
#include "midi/open_close.h"
#include "midi/serial.h"
#include "config/program_tables.h"
#include "display/settings.h"
#include "engine/tables.h"
#include "midi/ports.h"
#include "support/file_io.h"

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

void resetGlobalState(void) {
  resetExitHandlers();
  resetFileChannels();
  resetPump();
  resetOpenCloseState();
  resetSerialState();
  resetPortTables();
  resetProgramTables();
  resetEngineTables();
  resetDisplaySettings();
  resetKeyboardDisplay();
  settingsMissing = 0;
  DispLevel = 0;
  consoleMode = 0;
  Volume = 0;
  oldWindows = 0;
  mouseNote = -1;
  mouseChannel = -1;
  logQuiet = 0;
}

int setVolume(int value) {
  (void)value;
  return 0;
}
