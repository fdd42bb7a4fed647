// Desktop (Linux) system services: real pauses, the command line rebuilt from
// argv, the working directory, the language from the locale variables, the
// per-user directory for the files, and the usage and version texts.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <SDL.h>

#include "support/os_system.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/desktop_window.h"
#include "platform/posix/posix_files.h"
#include "support/sjis.h"

#ifndef NOTALUMEN_VERSION
#error "NOTALUMEN_VERSION must give the program's version"
#endif

static std::string commandLine;
static std::u16string commandLineW;

// The program's own file: started through PATH, argv[0] names no directory.
static std::string programFile(const char* argv0) {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return argv0 ? argv0 : "";
  path[n] = '\0';
  return path;
}

// $XDG_CONFIG_HOME/notalumen/, or ~/.config/notalumen/ when that is unset or
// not absolute; empty when there is no home either.
static std::string userFilesDirectory() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/notalumen/";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config/notalumen/";
  return "";
}

void desktopSetArguments(int argc, char** argv) {
  // One string in the form the program splits: arguments joined by blanks,
  // quoted where they hold a blank or are empty. The first is the program's
  // own file, whose directory is the program directory.
  commandLine.clear();
  for (int i = 0; i < argc; i++) {
    std::string arg = i == 0 ? programFile(argv[0]) : argv[i];
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

void osSleep(int ms) { desktopPause(ms); }

int64_t desktopMilliseconds(void) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

uint32_t osMilliseconds(void) { return static_cast<uint32_t>(desktopMilliseconds()); }

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

int osUserFilesDirectory(char* narrow, char16_t* wide, int size) {
  const std::string dir = userFilesDirectory();
  const int n = static_cast<int>(dir.size());
  if (n == 0 || n >= size) return 0;
  std::memcpy(narrow, dir.c_str(), static_cast<size_t>(n) + 1);
  utf8ToUtf16(wide, size, narrow);
  return n;
}

void osTellUser(const char* line) { std::fprintf(stderr, "Notalumen: %s\n", line); }

void osShowUsage(void) {
  std::string own = programFile(nullptr);
  own.erase(own.rfind('/') + 1);
  std::printf(
      "Usage: notalumen [/list | /lst] [/soc] [/?] [#hh ...] [/Vn] [/0 .. /9]\n"
      "       notalumen --help | -h | --version\n"
      "\n"
      "Shows the notes arriving on MIDI inputs on a piano keyboard and routes MIDI\n"
      "from up to 16 inputs to up to 16 outputs.\n"
      "\n"
      "Options (\"-\" works as \"/\", letters in either case):\n"
      "  /list, /lst    write the settings template sonrack.ini, listing this\n"
      "                 machine's MIDI devices, and end\n"
      "  /soc           console mode for diagnostics\n"
      "  #hh            send the byte 0xhh to OUT1 once the ports are open\n"
      "  /Vn            volume value (accepted, no effect)\n"
      "  /0 .. /9       diagnostic level\n"
      "  /?, -h, --help show this text and end\n"
      "  --version      show the version and end\n"
      "\n"
      "Files:\n"
      "  sonrack.ini                    settings: ports, scale, note range, channels\n"
      "  progrm01.ini .. progrm16.ini   stored programs of IN1 .. IN16\n"
      "Both are read from the program's own directory when a sonrack.ini lies there:\n"
      "  %s\n"
      "else from $XDG_CONFIG_HOME/notalumen/ (~/.config/notalumen/ by default):\n"
      "  %s\n"
      "where /list then writes the template, making the directory.\n"
      "\n"
      "See notalumen(1) for the settings and program files.\n",
      own.c_str(), userFilesDirectory().empty() ? "(no home directory)" : userFilesDirectory().c_str());
  std::fflush(stdout);
}

bool desktopEarlyOptions(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      osShowUsage();
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("notalumen " NOTALUMEN_VERSION "\nCopyright the Notalumen developers; MIT License.\n");
      std::fflush(stdout);
      return true;
    }
  }
  return false;
}

// Message boxes are SDL's (an X11 dialog of its own). The program hands in
// Shift-JIS bytes when the user's language is Japanese and ANSI code page
// text, which is UTF-8 here, otherwise; SDL wants UTF-8. Without a display
// the text goes to standard error and the box answers as if dismissed:
// OK for an OK-only box, Cancel for OK/Cancel (which then never goes ahead
// with something the user could not see).
int osMessageBox(const char* text, const char* caption, unsigned flags) {
  const bool japanese = osUserLanguage() == 1041;
  // sjisToWide follows the system code page, which has no lead bytes here,
  // so the Shift-JIS pairs are looked up in the table directly. ASCII stays
  // ASCII (a backslash is no yen sign in a path); half-width katakana come
  // from the table; a byte that is neither becomes "?".
  auto toUtf8 = [japanese](const char* narrow) {
    std::string out = narrow ? narrow : "";
    if (japanese) {
      std::u16string wide;
      for (size_t i = 0; i < out.size(); i++) {
        unsigned byte = static_cast<unsigned char>(out[i]);
        uint32_t code = byte;
        bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        if (lead && i + 1 < out.size()) {
          code = sjisToUnicode(byte * 256 + static_cast<unsigned char>(out[++i]));
        } else if (byte >= 0x80) {
          code = sjisToUnicode(byte);
        }
        if (code == 0) code = '?';
        if (code > 0xFFFF) {
          wide += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
          wide += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
          wide += static_cast<char16_t>(code);
        }
      }
      std::string utf8(wide.size() * 3 + 1, '\0');
      utf16ToUtf8(utf8.data(), static_cast<int>(utf8.size()), wide.c_str());
      out = utf8.c_str();
    }
    std::erase(out, '\r');  // Windows line ends: the X11 dialog would draw the CR as a box
    return out;
  };
  const std::string message = toUtf8(text);
  const std::string title = toUtf8(caption);
  const bool okCancel = (flags & 0xF) == OS_MB_OKCANCEL;
  // Cancel is labelled in the user's language, as Windows labels it.
  SDL_MessageBoxButtonData buttons[2] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, OS_IDOK, "OK"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, OS_IDCANCEL,
       japanese ? "\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\xB3\xE3\x82\xBB\xE3\x83\xAB" : "Cancel"}};
  if (!okCancel) buttons[0].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
  const SDL_MessageBoxData box = {SDL_MESSAGEBOX_INFORMATION | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT,
                                  nullptr,
                                  title.c_str(),
                                  message.c_str(),
                                  okCancel ? 2 : 1,
                                  buttons,
                                  nullptr};
  // The box blocks the message pump: the window shows its picture first.
  desktopPresentWindow();
  int chosen = -1;
  if (SDL_ShowMessageBox(&box, &chosen) == 0) {
    if (chosen == OS_IDOK || chosen == OS_IDCANCEL) return chosen;
    return okCancel ? OS_IDCANCEL : OS_IDOK;  // closed by its frame: Windows answers so too
  }
  std::fprintf(stderr, "%s: %s\n", title.c_str(), message.c_str());
  return okCancel ? OS_IDCANCEL : OS_IDOK;
}

void osExit(int code) { std::exit(code); }
