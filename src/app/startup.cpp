// Start-up sequence: paths from the command line, the start values, the first
// command-line scan, and the stages that follow it.
#include "app/startup.h"

#include <cstdio>
#include <mutex>

#include "app/cmdline.h"
#include "app/reset.h"
#include "support/exit.h"
#include "state/globals.h"
#include "support/log.h"
#include "app/main_loop.h"
#include "support/os_system.h"
#include "display/pump.h"
#include "config/program_reader.h"
#include "config/settings.h"
#include "display/drawing.h"
#include "display/geometry.h"
#include "state/display_settings.h"
#include "display/window.h"
#include "engine/engine.h"
#include "state/tables.h"
#include "midi/open_close.h"
#include "midi/os_midi.h"
#include "midi/port_report.h"
#include "midi/ports.h"
#include "midi/senders.h"
#include "support/file_io.h"
#include "midi/template.h"
#include "support/os_files.h"
#include "support/paths.h"

namespace {

// The directory part of an argument, kept only when it fits kPathChars.
template <typename Char>
bool directoryOf(Char* destination, const Char* path, int (*part)(Char*, int, const Char*)) {
  static Char whole[kArgStoreSize];
  int n = part(whole, kArgStoreSize, path);
  if (n <= 0 || n > kPathChars) return false;
  for (int i = 0; i <= n; i++) destination[i] = whole[i];
  return true;
}

// settingsPath and settingsPathW from programDir and programDirW.
void formSettingsPaths() {
  int n = 0;
  for (; programDir[n]; n++) settingsPath[n] = programDir[n];
  const char name[] = "sonrack.ini";
  for (int k = 0; name[k]; k++) settingsPath[n++] = name[k];
  settingsPath[n] = 0;
  wstrcopy(settingsPathW, kPathSize, programDirW);
  wstrappend(settingsPathW, kPathSize, u"sonrack.ini");
}

}  // namespace

void startupPaths(void) {
  buildArgsW();
  buildArgs();
  const char separator = osPathSeparator();
  const char16_t separatorW[2] = {static_cast<char16_t>(separator), 0};
  const char separatorN[2] = {separator, 0};

  bool gotW = directoryOf<char16_t>(programDirW, argsW.items[0], dirPartW);
  if (!gotW) {
    programDirW[0] = 0;
    int n = osCurrentDirectoryW(programDirW, kPathChars);
    if (n > 0) {
      wstrappend(programDirW, kPathSize, separatorW);
      gotW = true;
    }
  }
  bool got = directoryOf<char>(programDir, args.items[0], dirPart);
  if (!got) {
    programDir[0] = 0;
    int n = osCurrentDirectory(programDir, kPathChars);
    if (n > 0) {
      programDir[n] = separatorN[0];
      programDir[n + 1] = 0;
      got = true;
    }
  }
  if (!got) {
    log("(Obtaining exe dir failed.) \n");
    programDir[0] = 0;
  }
  if (!gotW) programDirW[0] = 0;
  formSettingsPaths();
  std::snprintf(ownDir, kPathSize, "%s", programDir);

  // A platform with a per-user directory for the files (Linux) takes them
  // from there unless a sonrack.ini lies beside the program.
  static char16_t userDirW[kPathSize];
  userDir[0] = 0;
  if (osUserFilesDirectory(userDir, userDirW, kPathChars) <= 0) {
    userDir[0] = 0;
    return;
  }
  OsFile beside = osFileOpen(settingsPath, OS_FILE_READ);
  if (beside != 0) {
    osFileClose(beside);
    return;
  }
  std::snprintf(programDir, kPathSize, "%s", userDir);
  wstrcopy(programDirW, kPathSize, userDirW);
  formSettingsPaths();
}

void startupFirstScan(void) { firstCommandLineScan(); }

namespace {

const char kCaption[] = "Notalumen";
const int kJapanese = 1041;
const int kListPause = 500;  // ms, before and after the pump at -LIST

void destroyWindowAtExit(void) { destroyKeyboardWindow(); }

// Shows one of the start-up messages in the user's language; returns the answer.
int showMessage(const char* english, const char* japanese, unsigned flags) {
  return osMessageBox(osUserLanguage() == kJapanese ? japanese : english, kCaption, flags);
}

// "sonrack.ini was not found." in Japanese, the start of both texts below.
#define NOT_FOUND_JA                                                                                      \
  "sonrack.ini \x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5" \
  "\x82\xBD. \r\n"

// The box about the missing settings file. On a platform with a per-user
// directory it names both places looked in and how to get a template there.
void showSettingsMissing() {
  const unsigned flags = OS_MB_OK | OS_MB_ICONINFORMATION | OS_MB_TOPMOST;
  if (userDir[0] == 0) {
    static const char english[] = "Cannot find: SONRACK.INI \r\n\r\nDouble-click Confmaker to \r\n make a SONRACK.INI file.";
    // ... "Run Confmaker first."
    static const char japanese[] = NOT_FOUND_JA
        "\r\nConfmaker \x82\xF0\x90\xE6\x82\xC9\x8E\xC0\x8Ds\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2. ";
    showMessage(english, japanese, flags);
    return;
  }
  static char english[4 * kPathSize + 160];
  static char japanese[4 * kPathSize + 160];
  std::snprintf(english, sizeof english,
                "Cannot find: sonrack.ini \r\nLooked in: \r\n  %s\r\n  %s\r\n\r\n"
                "Run \"notalumen /list\" to write a template \r\nsonrack.ini into %s",
                ownDir, userDir, userDir);
  // ... "Looked in:" ... "notalumen /list writes a template into" the folder.
  std::snprintf(japanese, sizeof japanese,
                NOT_FOUND_JA "\x92T\x82\xB5\x82\xBD\x8F\xEA\x8F\x8A: \r\n  %s\r\n  %s\r\n\r\n"
                "notalumen /list \x82\xAA %s \x82\xC9\x82\xD0\x82\xC8\x8C`\x82\xF0\x8F\x91\x82\xAB\x8Fo\x82\xB5"
                "\x82\xDC\x82\xB7. ",
                ownDir, userDir, userDir);
  showMessage(english, japanese, flags);
}

}  // namespace

void startupWindow(void) {
  createKeyboardWindow(385, 50, "Notalumen: initializing ... ");
  registerExitHandler(destroyWindowAtExit);
  fillRect(0, 0, 384, 49, 255, 255, 255);
  dropTopmost();
  log("Notalumen: MIDI keyboard display and router\n");
}

int readSettingsFile(const char* narrowName, const char16_t* wideName, int useWide, int actionPass) {
  static SettingsFile reading;  // window thread only
  {
    // Input may be taking channels on and drawing already.
    EngineLock engine;
    std::lock_guard<std::mutex> display(displayLock);
    captureSettings(&reading);
  }
  if (parseSettingsFile(narrowName, wideName, useWide, actionPass, &reading) != 0) return -1;
  {
    EngineLock engine;
    std::lock_guard<std::mutex> display(displayLock);
    applySettings(reading);
  }
  for (int i = 0; i < reading.sendCount; i++) sendDirect(0, reading.sendBytes[i]);
  if (reading.volumeSet) {
    Volume = reading.volume;
    setVolume(Volume);
  }
  if (reading.listRequested) {
    writeSettingsTemplate(settingsPath, settingsPathW);
    rfclose();
    osSleep(kListPause);
    pumpMessages();
    osSleep(kListPause);
  }
  return 0;
}

void startupSettings(void) {
  if (readSettingsFile(settingsPath, settingsPathW, 0, 0) == 0 ||
      readSettingsFile(settingsPath, settingsPathW, 1, 0) == 0) {
    log(" -- sonrack.ini read-in. \n");
  } else {
    settingsMissing = 255;
  }
  outPortCount = 0;
  inPortCount = 0;
  for (int k = 0; k < kPortCount; k++) {
    if (outPorts[k].configured) outPortCount++;
    if (inPorts[k].configured) inPortCount++;
  }
  if (outPortCount) log("Total MIDI Out: %d port(s).\n", outPortCount);
  if (inPortCount) log("Total MIDI In : %d port(s).\n", inPortCount);
  readAllProgramTables();
}

void startupPorts(void) {
  oldWindows = (osVersion() & 0xFF) <= 4 ? 255 : 0;
  listMidiOutDevices();
  listMidiInDevices();
  log("Initializing MIDI System ... \n");
  logQuiet = 255;
  PortFailures failures = openConfiguredPorts();

  if (settingsMissing) {
    showSettingsMissing();
    exitProgram(1);
  }
  if (failures.outputs != 0 || failures.inputs != 0) {
    static char english[kPortReportSize];
    static char japanese[kPortReportSize];
    const bool withDevices = osMidiNamesDevicesInReport();
    buildPortReport(english, sizeof english, 0, withDevices);
    buildPortReport(japanese, sizeof japanese, kJapanese, withDevices);
    int answer = showMessage(english, japanese, OS_MB_OKCANCEL | OS_MB_ICONINFORMATION | OS_MB_TOPMOST);
    if (answer != OS_IDOK) exitProgram(1);
  }
  pumpMessages();
  log("OK.\n");
}

void startupSecondReading(void) {
  Volume = 0;
  int firstColumns;
  {
    EngineLock hold;  // input may be taking channels on already
    firstColumns = maxcolumns;
    maxcolumns = 0;
  }
  if (readSettingsFile(settingsPath, settingsPathW, 0, 1) != 0 &&
      readSettingsFile(settingsPath, settingsPathW, 1, 1) != 0) {
    // The file went away since the first reading. Its -Ch columns are still in
    // the tables (the reset only emptied the count): they stay, rather than a
    // keyboard whose fixed channels have no column. Columns that input took
    // meanwhile are kept as they are.
    EngineLock hold;
    if (maxcolumns == 0) maxcolumns = firstColumns;
  }
  secondCommandLineScan();
}

void startupKeyboard(void) {
  setKeyRange(NoteMin, NoteMax);
  mouseNote = -1;
  // Registered after the port closers (the ports are open by now), so at exit
  // it runs before them and a note the mouse holds is ended on the outputs.
  registerExitHandler(releaseMouseNoteAtExit);
  resizeKeyboardWindow(gxright - gxleft + 1, keyHeight);
  {
    EngineLock hold;  // input may be drawing already
    relayoutKeyboard();
  }
  relayoutPause();
  setWindowTitle("Notalumen ");
  dropTopmost();
}

void startupAll(void) {
  osSleep(500);
  startupPaths();
  resetGlobalState();
  startupWindow();
  startupFirstScan();
  startupSettings();
  startupPorts();
  startupSecondReading();
  startupKeyboard();
}

void notalumenMain(void) {
  startupAll();
  runMainLoop();
}
