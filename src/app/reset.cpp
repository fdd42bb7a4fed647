// Start values of every table of the program, layer by layer.
#include "app/reset.h"

#include "app/devices.h"
#include "display/drawing.h"
#include "display/pump.h"
#include "display/window.h"
#include "engine/engine.h"
#include "engine/input_callback.h"
#include "midi/open_close.h"
#include "midi/ports.h"
#include "midi/serial.h"
#include "state/display_settings.h"
#include "state/globals.h"
#include "state/program_tables.h"
#include "state/tables.h"
#include "support/exit.h"
#include "support/file_io.h"
#include "support/log.h"

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
  resetPendingKeys();
  windowInput = WindowInput{keyDownEvent, keyUpEvent, playMouseNote, releaseMouseNote};
  portHooks = PortHooks{midiInCallback, pumpMessages};
  resetProgramValues();
  resetDeviceFollowing();
  logQuiet = 0;
}
