// Sim file services: host files behind Windows-style names ("\" separators, an
// optional drive, Shift-JIS narrow names under code page 932), with faults
// that tests inject at this boundary.
#include <string>

#include "platform/posix/posix_files.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"
#include "support/sjis.h"

namespace {

enum { kErrAccessDenied = 5, kErrWriteFault = 29, kErrReadFault = 30 };

// Drops a drive prefix and turns "\" into "/".
std::string hostFromWindows(std::string path) {
  if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

bool takeFault(int& counter) {
  if (counter <= 0) return false;
  counter--;
  return true;
}

}  // namespace

std::string simHostPath(const char* narrow) {
  if (simState.codePage == 932) {
    // The narrow name is Shift-JIS: go through UTF-16 to the host's UTF-8.
    static char16_t wide[1024];
    static char utf8[4096];
    sjisToWide(wide, 1024, narrow);
    utf16ToUtf8(utf8, sizeof utf8, wide);
    return hostFromWindows(utf8);
  }
  return hostFromWindows(narrow);
}

static std::string hostPathW(const char16_t* wide) {
  static char utf8[4096];
  utf16ToUtf8(utf8, sizeof utf8, wide);
  return hostFromWindows(utf8);
}

OsFile osFileOpen(const char* name, OsFileMode mode) {
  simState.fileCalls++;
  if (takeFault(simState.failOpens)) {
    posixSetLastError(kErrAccessDenied);
    return 0;
  }
  return posixFileOpen(simHostPath(name).c_str(), mode, mode == OS_FILE_READ);
}

OsFile osFileOpenW(const char16_t* name, OsFileMode mode) {
  simState.fileCalls++;
  if (takeFault(simState.failOpens)) {
    posixSetLastError(kErrAccessDenied);
    return 0;
  }
  return posixFileOpen(hostPathW(name).c_str(), mode, 0);
}

int osFileRead(OsFile file, void* buffer, int size) {
  simState.fileCalls++;
  if (takeFault(simState.failReads)) {
    posixSetLastError(kErrReadFault);
    return -1;
  }
  return posixFileRead(file, buffer, size);
}

int osFileWrite(OsFile file, const void* buffer, int size) {
  simState.fileCalls++;
  if (takeFault(simState.failWrites)) {
    posixSetLastError(kErrWriteFault);
    return -1;
  }
  if (takeFault(simState.shortWrites)) return posixFileWrite(file, buffer, size / 2);
  return posixFileWrite(file, buffer, size);
}

int osFileClose(OsFile file) {
  simState.fileCalls++;
  return posixFileClose(file);
}

int osLastError(void) { return posixLastError(); }

// Host names are UTF-8; under code page 932 the program sees them in Shift-JIS.
static void nameToCodePage(char* name, int size) {
  if (simState.codePage != 932 || size <= 0) return;
  char16_t wide[1024];
  utf8ToUtf16(wide, 1024, name);
  wideToSjis(name, size, wide);
}

OsFind osFindFirst(const char* pattern, char* name, int size, int* isDirectory) {
  simState.fileCalls++;
  OsFind search = posixFindFirst(simHostPath(pattern).c_str(), name, size, isDirectory);
  if (search) nameToCodePage(name, size);
  return search;
}

int osFindNext(OsFind search, char* name, int size, int* isDirectory) {
  int rc = posixFindNext(search, name, size, isDirectory);
  if (rc == 0) nameToCodePage(name, size);
  return rc;
}

void osFindClose(OsFind search) { posixFindClose(search); }

int osIsLeadByte(unsigned char byte) {
  return simState.codePage == 932 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

char osPathSeparator(void) { return '\\'; }

int osMakeDirectory(const char* name) {
  simState.fileCalls++;
  return posixMakeDirectories(simHostPath(name).c_str());
}

void simFailFileOpens(int count) { simState.failOpens = count; }
void simFailFileReads(int count) { simState.failReads = count; }
void simFailFileWrites(int count) { simState.failWrites = count; }
void simShortFileWrites(int count) { simState.shortWrites = count; }
int simFileCallCount(void) { return simState.fileCalls; }
