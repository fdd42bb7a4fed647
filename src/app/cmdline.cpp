// Command-line splitting and the two scans of the narrow argument list.
#include "app/cmdline.h"

#include <cassert>
#include <cstring>

#include "support/exit.h"
#include "state/globals.h"
#include "support/log.h"
#include "support/os_system.h"
#include "midi/senders.h"
#include "midi/template.h"
#include "support/os_files.h"

ArgList args;
ArgListW argsW;

namespace {

// Limits of the split: characters read, store fill at which a separator stops it.
constexpr int kMaxLineChars = 65533;
constexpr int kStoreStop = 65275;

template <typename Char, typename List>
int split(List* list, const Char* line, bool narrow) {
  int i = 0;
  while (line[i] == ' ' || line[i] == '\t') i++;
  int pos = 0;
  int count = 1;
  list->items[0] = list->store;
  bool quoted = false;
  bool trailByte = false;
  for (int read = 0; line[i] != 0 && read < kMaxLineChars; read++) {
    Char c = line[i++];
    if (narrow && trailByte) {
      trailByte = false;
      list->store[pos++] = c;
      continue;
    }
    if (narrow && osIsLeadByte(static_cast<unsigned char>(c))) {
      trailByte = true;
      list->store[pos++] = c;
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (c == ' ' && !quoted) {
      if (count >= kMaxArgs || pos >= kStoreStop) break;
      list->store[pos++] = 0;
      while (line[i] == ' ') i++;
      list->items[count++] = list->store + pos;
      continue;
    }
    list->store[pos++] = c;
  }
  assert(pos + 1 < kArgStoreSize);
  list->store[pos++] = 0;
  // A command line that ends with blanks after the program path has one argument.
  if (count == 2 && list->items[1][0] == 0) count = 1;
  list->store[pos] = 0;
  list->items[count] = list->store + pos;
  list->count = count;
  return 0;
}

int upper(int c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

int hexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = upper(c);
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void consoleOn() {
  consoleMode = 255;
  log("Console mode: ON.\n");
}

}  // namespace

int splitCommandLine(ArgList* list, const char* line) { return split(list, line, true); }
int splitCommandLineW(ArgListW* list, const char16_t* line) { return split(list, line, false); }

int buildArgs(void) { return splitCommandLine(&args, osCommandLine()); }
int buildArgsW(void) { return splitCommandLineW(&argsW, osCommandLineW()); }

void firstCommandLineScan(void) {
  for (int i = 1; i < args.count; i++) {
    const char* a = args.items[i];
    if (a[0] != '/' && a[0] != '-') continue;
    int c1 = upper(static_cast<unsigned char>(a[1]));
    if (c1 == 'L') {
      int c2 = upper(static_cast<unsigned char>(a[2]));
      int c3 = c2 ? upper(static_cast<unsigned char>(a[3])) : 0;
      int c4 = c3 ? upper(static_cast<unsigned char>(a[4])) : 0;
      bool list = (c2 == 'I' && c3 == 'S' && c4 == 'T') || (c2 == 'S' && c3 == 'T');
      if (list) {
        // The per-user directory may not exist yet.
        if (userDir[0] != 0 && std::strcmp(programDir, userDir) == 0) osMakeDirectory(programDir);
        writeSettingsTemplate(settingsPath, settingsPathW);
        osSleep(100);
        exitProgram(0);
      }
    } else if (c1 == 'S') {
      if (upper(static_cast<unsigned char>(a[2])) == 'O' && upper(static_cast<unsigned char>(a[3])) == 'C') {
        consoleOn();
      }
    } else if (c1 == '?') {
      log("/list --- Output MIDI Device list \n");
      log("/soc  --- Stay-on-console mode \n");
      osShowUsage();
      exitProgram(0);
    }
  }
}

void secondCommandLineScan(void) {
  for (int i = 1; i < args.count; i++) {
    const char* a = args.items[i];
    if (a[0] == '#') {
      unsigned value = 0;
      for (int k = 1; hexDigit(static_cast<unsigned char>(a[k])) >= 0; k++) {
        value = value * 16 + static_cast<unsigned>(hexDigit(static_cast<unsigned char>(a[k])));
      }
      log("%04X ", value);
      sendDirect(0, static_cast<int>(value & 0xFF));
      continue;
    }
    if (a[0] != '/') continue;
    int c1 = static_cast<unsigned char>(a[1]);
    if (c1 == 'V' || c1 == 'v') {
      int value = 0;
      for (int k = 2; a[k] >= '0' && a[k] <= '9' && value < 100000000; k++) value = value * 10 + (a[k] - '0');
      Volume = value;
      setVolume(Volume);
      log("Volume = %d \n", Volume);
    } else if (c1 >= '0' && c1 <= '9') {
      DispLevel = c1 - '0';
      log("DispLevel=%d \n", DispLevel);
    } else if (c1 == 'S' || c1 == 's') {
      if (upper(static_cast<unsigned char>(a[2])) == 'O') {
        consoleOn();
      } else {
        log("Syntax: S%c \n", a[2]);
      }
    } else if ((c1 == 'C' || c1 == 'c') && upper(static_cast<unsigned char>(a[2])) != 'O') {
      log("Syntax: C%c \n", a[2]);
    }
  }
}
