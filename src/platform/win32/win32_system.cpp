// Windows system services: Sleep, the process's command lines, the current
// directory, the user's language, GetVersion and MessageBoxA.
#include <windows.h>

#include <cstdlib>

#include "app/os_system.h"

void osSleep(int ms) { Sleep(static_cast<DWORD>(ms)); }

const char* osCommandLine(void) { return GetCommandLineA(); }
const char16_t* osCommandLineW(void) { return reinterpret_cast<const char16_t*>(GetCommandLineW()); }

int osCurrentDirectory(char* buffer, int size) {
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), buffer);
  return n < static_cast<DWORD>(size) ? static_cast<int>(n) : 0;
}

int osCurrentDirectoryW(char16_t* buffer, int size) {
  DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(size), reinterpret_cast<LPWSTR>(buffer));
  return n < static_cast<DWORD>(size) ? static_cast<int>(n) : 0;
}

int osUserLanguage(void) { return GetUserDefaultLangID(); }

unsigned osVersion(void) { return static_cast<unsigned>(GetVersion()); }

int osMessageBox(const char* text, const char* caption, unsigned flags) {
  return MessageBoxA(nullptr, text, caption, flags);
}

void osExit(int code) { std::exit(code); }
