// Windows file services: narrow names through the C library's streams (which
// share reading only), wide names through CreateFileW (no sharing), search
// through FindFirstFileA, and the code page's lead bytes.
#include <windows.h>
#include <share.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "support/os_files.h"

// A channel is either a C-library stream (tagged with bit 0) or a file handle.
static OsFile fromStream(FILE* f) { return reinterpret_cast<OsFile>(f) | 1; }
static bool isStream(OsFile file) { return (file & 1) != 0; }
static FILE* streamOf(OsFile file) { return reinterpret_cast<FILE*>(file & ~static_cast<OsFile>(1)); }
static HANDLE handleOf(OsFile file) { return reinterpret_cast<HANDLE>(file); }

static DWORD lastError = 0;

OsFile osFileOpen(const char* name, OsFileMode mode) {
  FILE* f = mode == OS_FILE_WRITE ? _fsopen(name, "wb", _SH_DENYNO) : _fsopen(name, "rb", _SH_DENYWR);
  if (!f) {
    lastError = GetLastError();
    return 0;
  }
  // The stream keeps our whole blocks unbuffered: the writer buffers 4096 bytes itself.
  if (setvbuf(f, nullptr, _IONBF, 0) != 0) {
    std::fclose(f);
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return 0;
  }
  return fromStream(f);
}

OsFile osFileOpenW(const char16_t* name, OsFileMode mode) {
  HANDLE h = mode == OS_FILE_WRITE
                 ? CreateFileW(reinterpret_cast<LPCWSTR>(name), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr)
                 : CreateFileW(reinterpret_cast<LPCWSTR>(name), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    lastError = GetLastError();
    return 0;
  }
  return reinterpret_cast<OsFile>(h);
}

int osFileRead(OsFile file, void* buffer, int size) {
  if (isStream(file)) {
    FILE* f = streamOf(file);
    size_t got = std::fread(buffer, 1, static_cast<size_t>(size), f);
    if (got == 0 && std::ferror(f)) {
      lastError = GetLastError();
      return -1;
    }
    return static_cast<int>(got);
  }
  DWORD got = 0;
  if (!ReadFile(handleOf(file), buffer, static_cast<DWORD>(size), &got, nullptr)) {
    lastError = GetLastError();
    return -1;
  }
  return static_cast<int>(got);
}

int osFileWrite(OsFile file, const void* buffer, int size) {
  if (isStream(file)) {
    size_t put = std::fwrite(buffer, 1, static_cast<size_t>(size), streamOf(file));
    if (put == 0 && size > 0) {
      lastError = GetLastError();
      return -1;
    }
    return static_cast<int>(put);
  }
  DWORD put = 0;
  if (!WriteFile(handleOf(file), buffer, static_cast<DWORD>(size), &put, nullptr)) {
    lastError = GetLastError();
    return -1;
  }
  return static_cast<int>(put);
}

int osFileClose(OsFile file) {
  if (isStream(file)) return std::fclose(streamOf(file)) == 0 ? 0 : -1;
  if (!CloseHandle(handleOf(file))) {
    lastError = GetLastError();
    return -1;
  }
  return 0;
}

int osLastError(void) { return static_cast<int>(lastError); }

static void copyName(char* name, int size, const WIN32_FIND_DATAA& data, int* isDirectory) {
  if (size > 0) {
    size_t n = std::strlen(data.cFileName);
    if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
    std::memcpy(name, data.cFileName, n);
    name[n] = 0;
  }
  if (isDirectory) *isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

OsFind osFindFirst(const char* pattern, char* name, int size, int* isDirectory) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) {
    lastError = GetLastError();
    if (size > 0) name[0] = 0;
    return 0;
  }
  copyName(name, size, data, isDirectory);
  return reinterpret_cast<OsFind>(h);
}

int osFindNext(OsFind search, char* name, int size, int* isDirectory) {
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(reinterpret_cast<HANDLE>(search), &data)) {
    lastError = GetLastError();
    return -1;
  }
  copyName(name, size, data, isDirectory);
  return 0;
}

void osFindClose(OsFind search) { FindClose(reinterpret_cast<HANDLE>(search)); }

int osIsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) ? 1 : 0; }

char osPathSeparator(void) { return '\\'; }

// The shell makes the missing directories above it too (full paths only).
int osMakeDirectory(const char* name) {
  const int rc = SHCreateDirectoryExA(nullptr, name, nullptr);
  return rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS ? 0 : -1;
}
