// Settings file reader: a hand-written parser over the reader's look-ahead for
// the options, port definitions, comments and file-name items of sonrack.ini.
// Mistakes in the file are reported to the log and the reading goes on.
#include "config/settings.h"

#include <cassert>
#include <cstdint>

#include "state/globals.h"
#include "support/log.h"
#include "state/display_settings.h"
#include "state/tables.h"
#include "midi/matching.h"
#include "midi/ports.h"
#include "support/file_io.h"
#include "support/os_files.h"
#include "support/paths.h"
#include "support/scan.h"

namespace {

constexpr int kNameTokenSize = 127;  // port names: at most 126 bytes
constexpr int kFileTokenSize = 259;  // file-name items: at most 258 bytes
constexpr int kCtrlZ = 26;
static_assert(kNameTokenSize <= int{kPortNameSize}, "a port name token fits the record");

constexpr uint8_t kSet = 255;

SettingsFile* t = nullptr;  // what the reading under way fills in

// What an option leaves to the top-level loop.
enum Outcome { kGoOn, kEnded };

// State of one reading.
struct Reading {
  int actionPass;  // 1 in the second reading: -#, -VOL and file names act
  int comTarget;   // output that -COM assigns to: the latest -OUT, OUT1 at first
};

int isDigit(int c) { return c >= '0' && c <= '9'; }

int upper(int c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

// Consumes the look-ahead when it is the letter (given in upper case) in either case.
bool takeLetter(int letter) {
  if (upper(rfpeek()) != letter) return false;
  rfgetc();
  return true;
}

// A decimal number right at the look-ahead, or fallback when the scan fails.
int32_t numberOr(int32_t fallback) {
  int32_t value = 0;
  return rfgetint(&value) == 0 ? value : fallback;
}

// Copies a token into a name field; never more than kNameTokenSize - 1 bytes.
void storeName(char* field, const char* token) {
  int k = 0;
  for (; k < kNameTokenSize - 1 && token[k] != 0; k++) field[k] = token[k];
  field[k] = 0;
}

// A port name after ":", "=" or ",": quoted, or bare and beginning with the
// apostrophe that introduced it. Returns the token scanner's result.
int readPortName(char* field) {
  char token[kNameTokenSize];
  const int result = rfgettoken(token, kNameTokenSize);
  token[kNameTokenSize - 1] = 0;
  storeName(field, token);
  return result;
}

// After "/*" or "-*" (at the "*"): through the first "*" directly followed by
// "/", the opening "*" included. The byte after a lead byte is its second
// byte and never part of the closing pair.
void blockComment(void) {
  rfgetc();
  bool star = true;
  for (;;) {
    const int c = rfgetc();
    if (c < 0) {
      log("Comment /* not closed (*/ was not found.)");
      return;
    }
    if (star && c == '/') return;
    if (osIsLeadByte(static_cast<unsigned char>(c))) {
      rfgetc();
      star = false;
    } else {
      star = c == '*';
    }
  }
}

// -AllChMix[=n], at the "A".
void optionAllChMix(void) {
  rfgetc();
  static const char kLetters[] = "LLCHMIX";
  for (int k = 0; kLetters[k] != 0; k++) {
    if (takeLetter(kLetters[k])) continue;
    // "Syntax Err: -A%c", "-AL%c" and so on: the letters matched so far.
    log("Syntax Err: -A%.*s%c", k, kLetters, rfpeek());
    return;
  }
  if (rfpeek() == '=') rfgetc();
  if (!isDigit(rfpeek())) {
    t->allChMix = kSet;
    log(" AllChMix = ON");
    return;
  }
  int32_t n = 0;
  if (rfgetint(&n) != 0) {
    log("Syntax Err: -ALLCHMIX=xxx");
    return;
  }
  if (n < 0 || n > 127) {
    log("Illegal value: -ALLCHMIX=%d", n);
    return;
  }
  if (n == 0) {
    t->allChMix = 0;
    log(" AllChMix = OFF");
  } else {
    t->allChMix = kSet;
    log(" AllChMix = %d", n);
  }
}

// -Ch c: the next column shows channel c.
void optionCh(void) {
  const int32_t c = numberOr(1);
  if (c < 1 || c > kChannelCount) return;
  assert(t->maxcolumns >= 0 && t->maxcolumns <= kChannelCount);
  log(" CH%d:", c);
  t->fixedColumns = kSet;
  if (t->maxcolumns < kChannelCount) {
    t->channelShown[c - 1] = kSet;
    t->columnChannel[t->maxcolumns] = static_cast<int8_t>(c - 1);
    t->channelColumn[c - 1] = t->maxcolumns;
    log(" assigned to column %d", t->maxcolumns);
    t->maxcolumns++;
  } else {
    log(" coould not assign a new column (>16).");
  }
}

// -COM n: the serial port of the output defined last.
void optionCom(const Reading& r) {
  int32_t n = numberOr(1);
  if (n == 0) n = 1;
  t->out[r.comTarget].comPort = n;
  log(" OUT%d: assigned to COM%d.", r.comTarget + 1, n);
}

// -Ch or -COM, at the "C".
void optionC(const Reading& r) {
  rfgetc();
  if (takeLetter('H')) {
    optionCh();
  } else if (takeLetter('O')) {
    if (takeLetter('M')) {
      optionCom(r);
    } else {
      log("Undefined Assignment :COx.");
    }
  } else {
    log("Undefined Assignment :Cx.");
  }
}

// One modifier of -IN n (i = n - 1), after its ":", "=" or ",". False when
// the modifier is unknown: that ends the definition.
bool inModifier(int i) {
  PortSetting& port = t->in[i];
  const int n = i + 1;
  const int c = rfpeek();
  if (c == '"' || c == '\'') {
    const int result = readPortName(port.name);
    port.configured = kSet;
    log(" IN%d: \"%s\" (%d) => ", n, port.name, result);
    return true;
  }
  switch (upper(c)) {
    case 'V':
      rfgetc();
      if (!takeLetter('I')) {
        log("Undefined Assignment :Vx : IN%d.", n);
      } else if (!takeLetter('R')) {
        log("Undefined Assignment :VIx : IN%d.", n);
      } else if (!takeLetter('T')) {
        log("Undefined Assignment :VIRx : IN%d.", n);
      } else {
        if (takeLetter('U') && takeLetter('A')) takeLetter('L');
        port.deviceId = -1;
        port.configured = kSet;
        log(" IN%d: assigned as Virtual Port.", n);
      }
      return true;
    case 'C':
      rfgetc();
      if (takeLetter('O')) {
        if (!takeLetter('M')) {
          log("Undefined Assignment :COx : IN%d.", n);
          return true;
        }
        numberOr(0);
        log("Cannot assign COM port for MIDI input in this ver.");
      } else if (takeLetter('H')) {
        if (rfpeek() == '=') rfgetc();
        const int32_t channel = numberOr(1);
        if (channel >= 1 && channel <= kChannelCount) {
          port.channel = static_cast<int8_t>(channel - 1);
          log(" IN%d: assigned to MIDI Ch%d.", n, channel);
        } else {
          log(" Cannot assign Ch=%d for MIDI IN%d.", channel, n);
        }
      } else {
        log("Undefined Assignment :Cx : IN%d.", n);
      }
      return true;
    default:
      log("Undefined Assignment: IN%d:x.", n);
      return false;
  }
}

// One modifier of -OUT n (i = n - 1); as inModifier.
bool outModifier(int i) {
  PortSetting& port = t->out[i];
  const int n = i + 1;
  const int c = rfpeek();
  if (c == '"' || c == '\'') {
    const int result = readPortName(port.name);
    port.configured = kSet;
    log(" OUT%d: \"%s\" (%d) => ", n, port.name, result);
    return true;
  }
  switch (upper(c)) {
    case 'C':
      rfgetc();
      if (!takeLetter('O')) {
        log("Undefined Assignment :Cx : OUT%d.", n);
      } else if (!takeLetter('M')) {
        log("Undefined Assignment :COx : OUT%d.", n);
      } else {
        const int32_t com = numberOr(1);
        port.comPort = com;
        port.deviceId = 0;
        port.configured = kSet;
        log(" OUT%d: assigned to COM%d.", n, com);
      }
      return true;
    case 'N':
      rfgetc();
      if (takeLetter('O')) {
        port.noOutput = kSet;
        log(" OUT%d => No output (open only).", n);
      } else if (takeLetter('C') || takeLetter('X')) {
        log(" OUT%d => No convertsion.", n);
      } else {
        log("Undefined Assignment :Nx : OUT%d.", n);
      }
      return true;
    case 'G':
      rfgetc();
      if (takeLetter('S')) {
        log(" OUT%d => 88/GS convertsion AUTO-DETECT.", n);
      } else if (takeLetter('M')) {
        log(" OUT%d => GM convertsion AUTO-DETECT.", n);
      } else {
        log("Undefined Assignment :Gx : OUT%d.", n);
      }
      return true;
    case 'X':
      rfgetc();
      if (takeLetter('G')) {
        log(" OUT%d => XG convertsion AUTO-DETECT.", n);
      } else {
        log("Undefined Assignment :Xx : OUT%d.", n);
      }
      return true;
    case 'T':
      rfgetc();
      if (takeLetter('R')) {
        log(" OUT%d => TR convertsion AUTO-DETECT.", n);
      } else {
        log("Undefined Assignment :Tx : OUT%d.", n);
      }
      return true;
    default:
      log(" Undefined Assignment OUT%d:x.", n);
      return false;
  }
}

// The modifiers of a port definition, while they follow one another directly.
void portModifiers(int i, bool input) {
  for (;;) {
    const int c = rfpeek();
    if (c < 0) break;
    if (c == 0 || c == '\t' || c == ' ' || c == '\r' || c == '\n' || c == kCtrlZ) {
      rfgetc();
      break;
    }
    if (c != ':' && c != '=' && c != ',') break;
    rfgetc();
    if (!(input ? inModifier(i) : outModifier(i))) break;
  }
  log("\n");
}

// -IN n, at the "I".
void optionIn(void) {
  rfgetc();
  if (!takeLetter('N')) {
    log("Undefined Assignment :Ix.");
    return;
  }
  const int32_t n = numberOr(1);
  if (n < 1 || n > kPortCount) return;
  const int i = n - 1;
  t->in[i].channel = static_cast<int8_t>(i);
  portModifiers(i, true);
}

// -OUT n, at the "O".
void optionOut(Reading& r) {
  rfgetc();
  if (!takeLetter('U')) {
    log("Undefined Assignment :Ox.");
    return;
  }
  if (!takeLetter('T')) {
    log("Undefined Assignment :OUx.");
    return;
  }
  const int32_t n = numberOr(1);
  if (n < 1 || n > kPortCount) return;
  const int i = n - 1;
  t->out[i].noOutput = 0;
  r.comTarget = i;
  portModifiers(i, false);
}

// -mX or -mY, at the "M".
void optionMag(void) {
  rfgetc();
  const int axis = upper(rfpeek());
  if (axis != 'X' && axis != 'Y') {
    log("Undefined Assignment :M%c.", rfpeek());
    return;
  }
  rfgetc();
  const bool x = axis == 'X';
  if (rfpeek() == '=') rfgetc();
  if (!isDigit(rfpeek())) {
    log(x ? "Syntax Err: mx=%c" : "Syntax Err: my=%c", rfpeek());
    return;
  }
  float v = 0;
  if (rfgetfloat(&v) != 0) {
    log(x ? "Syntax Err: mx=xxx" : "Syntax Err: my=xxx");
    return;
  }
  if (!(v >= 0.0f && v <= 20.0f)) {  // also refuses a value that is not a number
    log(x ? "Illegal value: mx=%g" : "Illegal value: my=%g", static_cast<double>(v));
    return;
  }
  // Rounded from the 32-bit value in double precision: 1.15 gives 11 tenths.
  if (x) {
    t->magX = static_cast<int>(static_cast<double>(v) + 0.5);
    log(" MagX = %d", t->magX);
  } else {
    t->magY = static_cast<int>(static_cast<double>(v) * 10.0 + 0.5);
    log(" MagY = %g", t->magY * 0.1);
  }
}

// -nMin or -nMax, at the "N".
void optionNote(void) {
  rfgetc();
  if (!takeLetter('M')) {
    log("Syntax Err: n%c", rfpeek());
    return;
  }
  bool max = false;
  if (takeLetter('A')) {
    if (!takeLetter('X')) {
      log("Syntax Err: nma%c", rfpeek());
      return;
    }
    max = true;
  } else if (takeLetter('I')) {
    if (!takeLetter('N')) {
      log("Syntax Err: nmi%c", rfpeek());
      return;
    }
  } else {
    log("Syntax Err: nm%c", rfpeek());
    return;
  }
  if (rfpeek() == '=') rfgetc();
  if (!isDigit(rfpeek())) {
    log(max ? "Syntax Err: nmax%c" : "Syntax Err: nmin%c", rfpeek());
    return;
  }
  int32_t n = 0;
  if (rfgetint(&n) != 0) {
    log(max ? "Syntax Err: nMax=xxx" : "Syntax Err: nMin=xxx");
    return;
  }
  if (n < 0 || n > 127) {
    log(max ? "Illegal value: nMax=%d" : "Illegal value: nMin=%d", n);
    return;
  }
  if (max) {
    t->noteMax = n;
    log(" NoteMax = %d", n);
  } else {
    t->noteMin = n;
    log(" NoteMin = %d", n);
  }
}

// -LIST or -LST, at the "L". kEnded: the rest of the file is not read.
Outcome optionList(void) {
  rfgetc();
  if (takeLetter('I')) {
    if (!takeLetter('S')) {
      log(" Undefined Assignment LIx.");
      return kGoOn;
    }
    if (!takeLetter('T')) {
      log(" Undefined Assignment LISx.");
      return kGoOn;
    }
  } else if (takeLetter('S')) {
    if (!takeLetter('T')) {
      log(" Undefined Assignment LSx.");
      return kGoOn;
    }
  } else {
    log(" Undefined Assignment Lx.");
    return kGoOn;
  }
  // The reading ends here with the file still open: the caller writes the
  // template while the reader holds it (see SettingsFile::listRequested).
  t->listRequested = kSet;
  return kEnded;
}

// -soc, at the "S".
void optionSoc(void) {
  rfgetc();
  if (!takeLetter('O')) {
    log(" Undefined Assignment Sx.");
  } else if (!takeLetter('C')) {
    log(" Undefined Assignment SOx.");
  } else {
    t->consoleMode = kSet;
    log(" Console mode: ON.");
  }
}

// -# h, at the "#": one byte to OUT1 in the second reading.
void optionSendByte(const Reading& r) {
  rfgetc();
  int32_t h = 0;
  if (rfgethex(&h) != 0 || h < 0) h = 0;
  if (r.actionPass == 0) return;
  log("%04X ", static_cast<unsigned>(h));
  if (t->sendCount < kSettingsSendLimit) {
    t->sendBytes[t->sendCount++] = static_cast<uint8_t>(h & 0xFF);
  } else {
    log("Too many -# bytes: %04X not sent.", static_cast<unsigned>(h));
  }
}

// -VOL n or -V n, at the "V": the volume in the second reading.
void optionVolume(const Reading& r) {
  rfgetc();
  if (takeLetter('O') && !takeLetter('L')) return;
  const int32_t n = numberOr(0);
  if (r.actionPass == 0) return;
  t->volume = n;
  t->volumeSet = kSet;
  log("Volume = %d", n);
}

// After the introducer: the byte that selects the option. A byte that selects
// none is left for the top level.
Outcome option(Reading& r) {
  const int c = rfpeek();
  if (c == '/' || c == '-') {
    rfskipline();
    return kGoOn;
  }
  if (c == '*') {
    blockComment();
    return kGoOn;
  }
  if (c == '#') {
    optionSendByte(r);
    return kGoOn;
  }
  switch (upper(c)) {
    case 'A': optionAllChMix(); break;
    case 'C': optionC(r); break;
    case 'I': optionIn(); break;
    case 'M': optionMag(); break;
    case 'N': optionNote(); break;
    case 'L': return optionList();
    case 'O': optionOut(r); break;
    case 'S': optionSoc(); break;
    case 'V': optionVolume(r); break;
    default: break;
  }
  return kGoOn;
}

// Copies text to destination (capacity bytes) from position at; returns the
// new end, the result always terminated.
int appendText(char* destination, int capacity, int at, const char* text) {
  while (at < capacity - 1 && *text != 0) destination[at++] = *text++;
  destination[at] = 0;
  return at;
}

// Second reading: looks a file-name item up and says what it is.
void reportFileName(const char* name) {
  char path[int{kPathSize} + kFileTokenSize];
  appendText(path, sizeof path, 0, name);
  char found[kFileTokenSize];
  char directory[kFileTokenSize];
  if (dirPart(directory, sizeof directory, name) == 0 && findFileName(found, sizeof found, name) != 0) {
    char longer[sizeof path];
    appendText(longer, sizeof longer, appendText(longer, sizeof longer, 0, programDir), name);
    if (findFileName(found, sizeof found, longer) == 0) appendText(path, sizeof path, 0, longer);
  }
  if (findFileName(found, sizeof found, path) != 0) {
    log("Cannot retrive path for: %s", path);
    return;
  }
  char extension[kFileTokenSize];
  extPart(extension, sizeof extension, found);
  if (matchHead(extension, ".MID")) {
    log("MIDI file: %s", found);
  } else {
    log("Cannot play file other than MIDI: %s", found);
  }
}

// Any other item: a file name, dropped in the first reading.
void fileNameItem(const Reading& r) {
  char name[kFileTokenSize];
  rfgettoken(name, kFileTokenSize);
  name[kFileTokenSize - 1] = 0;
  if (r.actionPass != 0) reportFileName(name);
}

}  // namespace

int parseSettingsFile(const char* narrowName, const char16_t* wideName, int useWide, int actionPass, SettingsFile* into) {
  assert(useWide ? wideName != nullptr : narrowName != nullptr);
  assert(actionPass == 0 || actionPass == 1);
  assert(into != nullptr);
  const int opened = useWide ? rfwopen(wideName) : rfopen(narrowName);
  if (opened != 0) return -1;
  t = into;
  Reading r = {actionPass, 0};
  for (;;) {
    const int c = rfpeek();
    if (c < 0) break;
    if (c == '\'' || c == '#') {
      rfskipline();
    } else if (c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == kCtrlZ) {
      rfgetc();
    } else if (c == 0x81) {
      rfgetc();  // 0x81 0x40: the ideographic space
      if (rfpeek() == 0x40) rfgetc();
    } else if (c == '-' || c == '/') {
      rfgetc();
      if (option(r) == kEnded) {
        t = nullptr;
        return 0;
      }
    } else {
      fileNameItem(r);
    }
  }
  rfclose();
  t = nullptr;
  return 0;
}
