// Desktop (Linux) system services: real pauses, the command line rebuilt from
// argv, the working directory, the language from the locale variables.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app/os_system.h"
#include "platform/desktop/desktop.h"
#include "platform/posix/posix_files.h"

static std::string commandLine;
static std::u16string commandLineW;

void desktopSetArguments(int argc, char** argv) {
  // One string in the form the program splits: arguments joined by blanks,
  // quoted where they hold a blank or are empty.
  commandLine.clear();
  for (int i = 0; i < argc; i++) {
    std::string arg = argv[i];
    if (i > 0) commandLine += ' ';
    if (arg.empty() || arg.find(' ') != std::string::npos) {
      commandLine += '"' + arg + '"';
    } else {
      commandLine += arg;
    }
  }
  commandLineW.assign(commandLine.size() + 1, u'\0');
  utf8ToUtf16(commandLineW.data(), static_cast<int>(commandLineW.size()), commandLine.c_str());
  commandLineW.resize(std::char_traits<char16_t>::length(commandLineW.c_str()));
}

void osSleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

const char* osCommandLine(void) { return commandLine.c_str(); }
const char16_t* osCommandLineW(void) { return commandLineW.c_str(); }

int osCurrentDirectory(char* buffer, int size) {
  if (!::getcwd(buffer, static_cast<size_t>(size))) return 0;
  return static_cast<int>(std::strlen(buffer));
}

int osCurrentDirectoryW(char16_t* buffer, int size) {
  char utf8[4096];
  if (!::getcwd(utf8, sizeof utf8)) return 0;
  int n = utf8ToUtf16(buffer, size, utf8);
  return n < size - 1 ? n : 0;
}

int osUserLanguage(void) {
  // The first locale variable that is set decides, as setlocale would.
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value && *value) return std::strncmp(value, "ja", 2) == 0 ? 1041 : 1033;
  }
  return 1033;
}

unsigned osVersion(void) { return 6; }

int osMessageBox(const char* text, const char* caption, unsigned flags) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  return OS_IDOK;
}

void osExit(int code) { std::exit(code); }
