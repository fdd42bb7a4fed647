// Start-up sequence: paths from the command line, the start values, the first
// command-line scan, and the stages that follow it.
#include "app/startup.h"

#include "app/cmdline.h"
#include "app/exit.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/os_system.h"
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

  int n = 0;
  for (; programDir[n]; n++) settingsPath[n] = programDir[n];
  const char name[] = "sonrack.ini";
  for (int k = 0; name[k]; k++) settingsPath[n++] = name[k];
  settingsPath[n] = 0;
  wstrcopy(settingsPathW, kPathSize, programDirW);
  wstrappend(settingsPathW, kPathSize, u"sonrack.ini");
}

void startupFirstScan(void) { firstCommandLineScan(); }

void notalumenMain(void) {
  osSleep(500);
  startupPaths();
  resetGlobalState();
  log("Notalumen: MIDI keyboard display and router\n");
  startupFirstScan();
  exitProgram(0);
}
