// Program-file reader: the top-level byte loop, the /DEC /HEX /PGM /SETKEY
// commands, decimal and hexadecimal values with channel placeholders, and the
// reading of the sixteen files at start and on a reload.
#include "config/program_reader.h"

#include <cassert>
#include <cstdint>
#include <cstdio>

#include "state/globals.h"
#include "support/log.h"
#include "state/program_tables.h"
#include "engine/engine.h"
#include "support/file_io.h"
#include "support/os_files.h"
#include "support/paths.h"
#include "support/scan.h"
#include "support/sjis.h"

namespace {

constexpr int kMaxHexDigits = 5;  // a sixth digit ends a hexadecimal value
constexpr int kNameSize = 16;     // "progrm16.ini" and its terminator

// What one file's reading has reached.
struct ReadState {
  int table;    // table being filled (the scratch table)
  int hex;      // 0: DEC mode, 1: HEX mode
  int program;  // current program 1..511; 0 = none
  int count;    // entries written to the current program
};

int upper(int c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// A look-ahead as a diagnostic shows it; the end of the file shows as a blank.
int shown(int c) { return c < 0 ? ' ' : c; }

int isDecimalDigit(int c) { return c >= '0' && c <= '9'; }

int hexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Consumes the look-ahead when it is letter (either case); 1 when it was.
int takeLetter(int letter) {
  if (upper(rfpeek()) != letter) return 0;
  rfgetc();
  return 1;
}

// A number of a command in the current mode, right at the look-ahead.
// 0, or -1 with a diagnostic when the scan fails.
int scanNumber(const ReadState& s, int32_t* out) {
  if (s.hex) {
    if (rfgethex(out) == 0) return 0;
    log("Non-HEX letters.(%c) ", shown(rfpeek()));
  } else {
    if (rfgetint(out) == 0) return 0;
    log("Non-DEC letters.(%c) ", shown(rfpeek()));
  }
  return -1;
}

// No program is current any more.
void closeProgram(ReadState& s) {
  if (s.program != 0) log("(len=%d) ", s.count);
  s.program = 0;
  s.count = 0;
}

// Appends value to the current program (there is one). 0, or -1 when the
// program is full.
int appendEntry(ReadState& s, int32_t value) {
  assert(s.program > 0 && s.program < kProgramCount);
  if (s.count >= kProgramMaxLength) {
    log("Too long Pgm (>%d). ", kProgramMaxLength + 1);
    return -1;
  }
  programData[s.table][s.program][s.count] = value;
  s.count++;
  programLength[s.table][s.program] = static_cast<int16_t>(s.count);
  return 0;
}

// After "/*": consumes through the first "*" directly followed by "/", the
// opening "*" included. A lead byte takes the next byte with it, which then
// is neither half of the closing pair.
void skipBlockComment(void) {
  rfgetc();  // the opening "*"
  int star = 1;
  int trail = 0;
  for (;;) {
    int c = rfgetc();
    if (c < 0) {
      log("Comment /* not closed (*/ was not found.)");
      return;
    }
    if (trail) {
      trail = 0;
      star = 0;
      continue;
    }
    if (star && c == '/') return;
    star = c == '*';
    if (!star && osIsLeadByte(static_cast<unsigned char>(c))) trail = 1;
  }
}

// /PGMn, the P consumed: makes n the current program, emptied.
void readProgramCommand(ReadState& s) {
  int c = rfpeek();
  if (upper(c) != 'G') {
    log("Syntax: /P%c ", shown(c));
    return;
  }
  rfgetc();
  c = rfpeek();
  if (upper(c) != 'M') {
    log("Syntax: /PG%c ", shown(c));
    return;
  }
  rfgetc();
  int32_t n = 0;
  if (scanNumber(s, &n) != 0) return;
  if (n < 0 || n >= kProgramCount) {
    log("Max Program # is limited between 0-%d.", kProgramCount);
    return;
  }
  if (s.program != 0) log("(len=%d) ", s.count);
  log("(PGM=%d (%02X)) ", static_cast<int>(n), static_cast<unsigned>(n));
  s.program = n;
  s.count = 0;
  programLength[s.table][n] = 0;
  programData[s.table][n][0] = 0;
}

// One trigger number of /SETKEY; 0, or -1 when it fails or is out of range.
int readTrigger(const ReadState& s, int32_t* out) {
  if (scanNumber(s, out) != 0) return -1;
  if (*out < 0 || *out >= kTriggerCount) {
    log("Max Key # is limited between 0-%d.", kTriggerCount);
    return -1;
  }
  return 0;
}

// /SETKEYk[-k2][:|=][P][G][M]p, the S consumed: assigns program p to the
// triggers. Once past /SET it closes the current program whatever follows.
void readSetkeyCommand(ReadState& s) {
  int c = rfpeek();
  if (upper(c) != 'E') {
    log("Syntax: /S%c.", shown(c));
    return;
  }
  rfgetc();
  c = rfpeek();
  if (upper(c) != 'T') {
    log("Syntax: /SE%c.", shown(c));
    return;
  }
  rfgetc();
  closeProgram(s);
  c = rfpeek();
  if (upper(c) != 'K') {
    log("Syntax: /SET%c.", shown(c));
    return;
  }
  rfgetc();
  if (!takeLetter('E') || !takeLetter('Y')) return;

  int32_t first = 0;
  if (readTrigger(s, &first) != 0) return;
  int32_t last = first;
  int range = 0;
  if (rfpeek() == '-' || rfpeek() == '~') {
    rfgetc();
    if (readTrigger(s, &last) != 0) return;
    range = 1;
    if (last < first) {
      int32_t t = first;
      first = last;
      last = t;
    }
  }
  if (rfpeek() == ':' || rfpeek() == '=') rfgetc();
  takeLetter('P');
  takeLetter('G');
  takeLetter('M');
  int32_t p = 0;
  if (scanNumber(s, &p) != 0) return;
  if (p < 0 || p >= kProgramCount) {
    log("Max program # is limited between 0-%d.", kProgramCount);
    return;
  }
  for (int32_t k = first; k <= last; k++) keyProgram[s.table][k] = static_cast<int16_t>(p);
  const int k1 = first, k2 = last, pn = p;
  if (range) {
    log("(KEY%d-%d (%03X-%03X) = %d (%03X)) ", k1, k2, static_cast<unsigned>(k1), static_cast<unsigned>(k2), pn,
        static_cast<unsigned>(pn));
  } else {
    log("(KEY%d (%03X) = %d (%03X)) ", k1, static_cast<unsigned>(k1), pn, static_cast<unsigned>(pn));
  }
}

// After the introducer "/" or "-": the byte that follows selects the command.
void readCommand(ReadState& s) {
  rfgetc();  // the introducer
  const int c = rfpeek();
  switch (upper(c)) {
    case '/':
    case '-':
      rfskipline();
      return;
    case '*':
      skipBlockComment();
      return;
    case 'D':
      rfgetc();
      if (takeLetter('E')) takeLetter('C');
      s.hex = 0;
      log("(in DEC mode) ");
      return;
    case 'H':
      rfgetc();
      if (takeLetter('E')) takeLetter('X');
      s.hex = 1;
      log("(in HEX mode) ");
      return;
    case 'P':
      rfgetc();
      readProgramCommand(s);
      return;
    case 'S':
      rfgetc();
      readSetkeyCommand(s);
      return;
    default:
      log("Syntax: /%c ", shown(c));  // the byte stays to be read
      return;
  }
}

// A decimal value, its first digit at the look-ahead.
void readDecimalValue(ReadState& s) {
  int32_t value = 0;
  if (rfgetint(&value) != 0) {
    log("Failed reading DEC program.");
    return;
  }
  if (s.program == 0) return;
  if (appendEntry(s, value) == 0) log("%d ", static_cast<int>(value));
}

// A hexadecimal value, its first digit at the look-ahead. N or M as the second
// character marks a status whose channel is filled in when it is played.
void readHexValue(ReadState& s) {
  int32_t value = 0;
  int digits = 0;
  int marked = 0;
  for (;;) {
    const int c = rfpeek();
    if (c < 0) break;
    const int digit = hexDigitValue(c);
    const int placeholder = upper(c) == 'N' || upper(c) == 'M';
    if (digit < 0 && !placeholder) break;
    rfgetc();
    value = value * 16 + (digit < 0 ? 0 : digit);
    if (++digits > kMaxHexDigits) {
      log("Hex value too Large.");
      break;
    }
    if (placeholder) {
      marked = 1;
      if (digits != 2) {
        log("Letter '%c' appeared in incorrect position.", c);
        break;
      }
    }
  }
  if (s.program == 0) return;
  if (marked) {
    const int32_t status = value & 0xF0;
    if (appendEntry(s, kChannelPlaceholder + status) == 0) log("%02X+ch ", static_cast<unsigned>(status));
  } else {
    if (appendEntry(s, value) == 0) log("%02X ", static_cast<unsigned>(value));
  }
}

// The whole file, from the open reader, to its end.
void readBody(ReadState& s) {
  for (;;) {
    const int c = rfpeek();
    if (c < 0) return;
    if (c == '\'' || c == '#') {
      rfskipline();
    } else if (c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == ',' || c == 26) {
      rfgetc();
    } else if (c == 0x81) {
      rfgetc();
      if (rfpeek() == 0x40) rfgetc();  // the ideographic space
    } else if (c == '/' || c == '-') {
      readCommand(s);
    } else if (s.hex && hexDigitValue(c) >= 0) {
      readHexValue(s);
    } else if (!s.hex && isDecimalDigit(c)) {
      readDecimalValue(s);
    } else {
      rfgetc();
      log("Unread text %c (%02X).", c, static_cast<unsigned>(c));
    }
  }
}

// The file name of table number (1..16).
void tableFileName(char* name, int number) {
  std::snprintf(name, kNameSize, "progrm%02d.ini", number);
}

// directory, separator (when not empty) and name into path (kPathSize bytes).
// 0, or -1 when the whole name does not fit.
int joinNarrow(char* path, const char* directory, const char* separator, const char* name) {
  const int n = std::snprintf(path, kPathSize, "%s%s%s", directory, separator, name);
  return n >= 0 && n < kPathSize ? 0 : -1;
}

// directory and the wide form of name into path (kPathSize units).
// 0, or -1 when the whole name does not fit.
int joinWide(char16_t* path, const char16_t* directory, const char* name) {
  char16_t nameW[kNameSize];
  sjisToWide(nameW, kNameSize, name);
  const int d = wstrcopy(path, kPathSize, directory);
  if (d != wstrlength(directory)) return -1;
  const int n = wstrappend(path, kPathSize, nameW);
  return n == wstrlength(nameW) ? 0 : -1;
}

}  // namespace

int readProgramTable(const char* narrowName, const char16_t* wideName, int table, int useWide) {
  assert(table >= 0 && table < 16);
  assert(useWide ? wideName != nullptr : narrowName != nullptr);
  const int opened = useWide ? rfwopen(wideName) : rfopen(narrowName);
  if (opened != 0) return 1;
  log("(program %d reading) ", table + 1);
  // Built aside and copied in whole: input that plays from the table finds
  // the old program or the new one, never part of either, and no file is
  // read while the engine lock is held.
  clearProgramTable(kScratchTable);
  ReadState s{kScratchTable, 0, 0, 0};
  readBody(s);
  rfclose();
  {
    EngineLock hold;
    copyProgramTable(table, kScratchTable);
  }
  log("\nProgram table read-in OK.");
  return 0;
}

void readAllProgramTables(void) {
  for (int i = 1; i <= 16; i++) {
    char name[kNameSize];
    tableFileName(name, i);
    char path[kPathSize];
    char16_t pathW[kPathSize];
    int result = 1;
    if (joinNarrow(path, programDir, "", name) == 0) result = readProgramTable(path, nullptr, i - 1, 0);
    if (result != 0 && joinWide(pathW, programDirW, name) == 0) result = readProgramTable(nullptr, pathW, i - 1, 1);
    if (result == 0) log(" -- %s read-in. \n", name);
  }
}

void reloadProgramTables(void) {
  // The directory ends with a separator already; the second one that follows
  // it is taken as one. No directory at all means the current one, as at start.
  const char separator[2] = {programDir[0] != 0 ? osPathSeparator() : '\0', '\0'};
  for (int i = 1; i <= 16; i++) {
    char name[kNameSize];
    tableFileName(name, i);
    char path[kPathSize];
    if (joinNarrow(path, programDir, separator, name) == 0) readProgramTable(path, nullptr, i - 1, 0);
  }
}
