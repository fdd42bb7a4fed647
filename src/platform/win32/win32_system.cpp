// Windows system services: Sleep, the process's command lines, the current
// directory, the user's language, GetVersion and MessageBoxA (owned by the
// keyboard window).
#include <windows.h>

#include <cstdlib>

#include "support/os_system.h"

void osSleep(int ms) { Sleep(static_cast<DWORD>(ms)); }

uint32_t osMilliseconds(void) { return GetTickCount(); }

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

// The files lie beside the program, and help goes only to the diagnostics.
int osUserFilesDirectory(char* narrow, char16_t* wide, int size) { return 0; }
void osShowUsage(void) {}
void osTellUser(const char*) {}

namespace {

// Finds the keyboard window (class "gint") among the calling thread's windows.
BOOL CALLBACK findKeyboardWindow(HWND hwnd, LPARAM found) {
  char name[8];
  if (GetClassNameA(hwnd, name, sizeof name) == 4 && lstrcmpA(name, "gint") == 0) {
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

// The box is owned by the keyboard window, which start-up creates on this
// thread before any message is shown: the window is disabled while the box is
// up and the box stays above it (under X, Wine marks it WM_TRANSIENT_FOR the
// keyboard window). Without an owner the box is an independent top-level
// window and the keyboard window stays enabled beside it.
int osMessageBox(const char* text, const char* caption, unsigned flags) {
  HWND owner = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), findKeyboardWindow, reinterpret_cast<LPARAM>(&owner));
  return MessageBoxA(owner, text, caption, flags);
}

void osExit(int code) { std::exit(code); }
