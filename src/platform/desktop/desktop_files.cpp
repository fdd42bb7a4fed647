// Desktop (Linux) file services: narrow names are the system's UTF-8, wide
// names are converted to it, "/" separates directories and no code page has
// double-byte lead bytes.
#include "platform/posix/posix_files.h"

OsFile osFileOpen(const char* name, OsFileMode mode) {
  return posixFileOpen(name, mode, mode == OS_FILE_READ);
}

OsFile osFileOpenW(const char16_t* name, OsFileMode mode) {
  char utf8[4096];
  utf16ToUtf8(utf8, sizeof utf8, name);
  return posixFileOpen(utf8, mode, 0);
}

int osFileRead(OsFile file, void* buffer, int size) { return posixFileRead(file, buffer, size); }
int osFileWrite(OsFile file, const void* buffer, int size) { return posixFileWrite(file, buffer, size); }
int osFileClose(OsFile file) { return posixFileClose(file); }
int osLastError(void) { return posixLastError(); }

OsFind osFindFirst(const char* pattern, char* name, int size, int* isDirectory) {
  return posixFindFirst(pattern, name, size, isDirectory);
}
int osFindNext(OsFind search, char* name, int size, int* isDirectory) {
  return posixFindNext(search, name, size, isDirectory);
}
void osFindClose(OsFind search) { posixFindClose(search); }

int osIsLeadByte(unsigned char) { return 0; }
char osPathSeparator(void) { return '/'; }
int osMakeDirectory(const char* name) { return posixMakeDirectories(name); }
