// The desktop backend without a display: the key-code mapping, message
// boxes whose text goes to standard error, and the console flush.
#include <gtest/gtest.h>
#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/os_system.h"
#include "display/os_window.h"
#include "platform/desktop/desktop_window.h"
#include "child_process.h"

namespace {

TEST(DesktopKeys, MapToWindowsVirtualKeys) {
  struct Case {
    SDL_Keycode sym;
    SDL_Scancode code;
    Uint16 mods;
    int vk;
  };
  const Case cases[] = {
      {SDLK_a, SDL_SCANCODE_A, 0, 0x41},
      {SDLK_z, SDL_SCANCODE_Z, KMOD_SHIFT, 0x5A},
      {SDLK_a, SDL_SCANCODE_Q, 0, 0x41},  // AZERTY: the layout's letter, as on Windows
      {SDLK_0, SDL_SCANCODE_0, 0, 0x30},
      {SDLK_9, SDL_SCANCODE_9, 0, 0x39},
      {SDLK_AMPERSAND, SDL_SCANCODE_1, 0, 0x31},  // AZERTY's top row still gives digits
      {SDLK_MINUS, SDL_SCANCODE_6, 0, 0x36},
      {SDLK_F1, SDL_SCANCODE_F1, 0, 0x70},
      {SDLK_F12, SDL_SCANCODE_F12, 0, 0x7B},
      {SDLK_F13, SDL_SCANCODE_F13, 0, 0x7C},
      {SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, 0, 27},
      {SDLK_RETURN, SDL_SCANCODE_RETURN, 0, 13},
      {SDLK_SPACE, SDL_SCANCODE_SPACE, 0, 32},
      {SDLK_TAB, SDL_SCANCODE_TAB, 0, 9},
      {SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE, 0, 8},
      {SDLK_LEFT, SDL_SCANCODE_LEFT, 0, 0x25},
      {SDLK_UP, SDL_SCANCODE_UP, 0, 0x26},
      {SDLK_RIGHT, SDL_SCANCODE_RIGHT, 0, 0x27},
      {SDLK_DOWN, SDL_SCANCODE_DOWN, 0, 0x28},
      {SDLK_HOME, SDL_SCANCODE_HOME, 0, 0x24},
      {SDLK_END, SDL_SCANCODE_END, 0, 0x23},
      {SDLK_PAGEUP, SDL_SCANCODE_PAGEUP, 0, 0x21},
      {SDLK_PAGEDOWN, SDL_SCANCODE_PAGEDOWN, 0, 0x22},
      {SDLK_INSERT, SDL_SCANCODE_INSERT, 0, 0x2D},
      {SDLK_DELETE, SDL_SCANCODE_DELETE, 0, 0x2E},
      {SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, 0, 0x10},
      {SDLK_RSHIFT, SDL_SCANCODE_RSHIFT, 0, 0x10},
      {SDLK_LCTRL, SDL_SCANCODE_LCTRL, 0, 0x11},
      {SDLK_RCTRL, SDL_SCANCODE_RCTRL, 0, 0x11},
      {SDLK_LALT, SDL_SCANCODE_LALT, 0, 0x12},
      {SDLK_KP_0, SDL_SCANCODE_KP_0, KMOD_NUM, 0x60},
      {SDLK_KP_1, SDL_SCANCODE_KP_1, KMOD_NUM, 0x61},
      {SDLK_KP_9, SDL_SCANCODE_KP_9, KMOD_NUM, 0x69},
      {SDLK_KP_7, SDL_SCANCODE_KP_7, 0, 0x24},  // NumLock off: the navigation key
      {SDLK_KP_0, SDL_SCANCODE_KP_0, 0, 0x2D},
      {SDLK_KP_PERIOD, SDL_SCANCODE_KP_PERIOD, KMOD_NUM, 0x6E},
      {SDLK_KP_PERIOD, SDL_SCANCODE_KP_PERIOD, 0, 0x2E},
      {SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, 0, 0x0D},
      {SDLK_KP_PLUS, SDL_SCANCODE_KP_PLUS, 0, 0x6B},
      {SDLK_KP_MULTIPLY, SDL_SCANCODE_KP_MULTIPLY, 0, 0x6A},
      {SDLK_EQUALS, SDL_SCANCODE_EQUALS, 0, 0xBB},
      {SDLK_MINUS, SDL_SCANCODE_MINUS, 0, 0xBD},
      {SDLK_COMMA, SDL_SCANCODE_COMMA, 0, 0xBC},
      {SDLK_PERIOD, SDL_SCANCODE_PERIOD, 0, 0xBE},
      {SDLK_SLASH, SDL_SCANCODE_SLASH, 0, 0xBF},
      {SDLK_SEMICOLON, SDL_SCANCODE_SEMICOLON, 0, 0xBA},
      {SDLK_BACKQUOTE, SDL_SCANCODE_GRAVE, 0, 0xC0},
      {SDLK_LEFTBRACKET, SDL_SCANCODE_LEFTBRACKET, 0, 0xDB},
      {SDLK_BACKSLASH, SDL_SCANCODE_BACKSLASH, 0, 0xDC},
      {SDLK_RIGHTBRACKET, SDL_SCANCODE_RIGHTBRACKET, 0, 0xDD},
      {SDLK_QUOTE, SDL_SCANCODE_APOSTROPHE, 0, 0xDE},
      {SDLK_PLUS, SDL_SCANCODE_RIGHTBRACKET, 0, 0xBB},  // German "+": VK_OEM_PLUS everywhere
      {0x444, SDL_SCANCODE_A, 0, 0x41},                 // Cyrillic letter: its US position
      {0xDF, SDL_SCANCODE_MINUS, 0, 0xBD},              // German sharp s: its US position
      {SDLK_UNKNOWN, SDL_SCANCODE_UNKNOWN, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.vk, desktopVirtualKey(c.sym, c.code, c.mods)) << "keycode 0x" << std::hex << c.sym;
  }
}

// ---- Message boxes without a display.

class DesktopMessageBox : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved.push_back(value ? std::string(value) : std::string("\x01"));
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (size_t i = 0; i < saved.size(); i++) {
      if (saved[i] == "\x01") {
        unsetenv(kNames[i]);
      } else {
        setenv(kNames[i], saved[i].c_str(), 1);
      }
    }
  }
  static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::string> saved;
};

TEST_F(DesktopMessageBox, WithoutADisplayTheTextGoesToStandardError) {
  setenv("LANG", "C", 1);
  testing::internal::CaptureStderr();
  int answer = osMessageBox("Cannot find: SONRACK.INI \r\n\r\nline", "Notalumen", OS_MB_OK | OS_MB_ICONINFORMATION);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(OS_IDOK, answer);
  EXPECT_NE(std::string::npos, out.find("Notalumen: Cannot find: SONRACK.INI \n\nline\n")) << out;
  testing::internal::CaptureStderr();
  answer = osMessageBox("Port failed", "Notalumen", OS_MB_OKCANCEL | OS_MB_ICONINFORMATION);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(OS_IDCANCEL, answer) << "OK/Cancel answers Cancel";
}

TEST_F(DesktopMessageBox, JapaneseTextIsShiftJisMadeUtf8) {
  setenv("LANG", "ja_JP.UTF-8", 1);
  testing::internal::CaptureStderr();
  // "sonrack.ini", HIRAGANA A (0x82A0), HALFWIDTH KATAKANA A (0xB1) and a
  // byte that is no character (0xFD).
  osMessageBox("sonrack.ini \x82\xA0\xB1\xFD", "Notalumen", OS_MB_OK);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, out.find("sonrack.ini \xE3\x81\x82\xEF\xBD\xB1?\n")) << out;
  setenv("LANG", "en_US.UTF-8", 1);  // not Japanese: the bytes pass as they are
  testing::internal::CaptureStderr();
  osMessageBox("caf\xC3\xA9", "Notalumen", OS_MB_OK);
  out = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, out.find("caf\xC3\xA9\n")) << out;
}

// ---- The console flush.

// Standard input replaced for one test, and put back.
class DesktopConsole : public ::testing::Test {
 protected:
  void SetUp() override { savedIn = dup(STDIN_FILENO); }
  void TearDown() override {
    dup2(savedIn, STDIN_FILENO);
    close(savedIn);
    if (other >= 0) close(other);
  }
  static bool readable(int fd, int waitMs) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, waitMs) == 1;
  }
  int savedIn = -1;
  int other = -1;  // the far side: the terminal's master or the pipe's write end
};

TEST_F(DesktopConsole, PendingTerminalInputIsDiscarded) {
  other = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(0, grantpt(other));
  ASSERT_EQ(0, unlockpt(other));
  int slave = open(ptsname(other), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios raw;
  ASSERT_EQ(0, tcgetattr(slave, &raw));
  cfmakeraw(&raw);  // keys readable at once, no line to wait for
  ASSERT_EQ(0, tcsetattr(slave, TCSANOW, &raw));
  ASSERT_EQ(3, write(other, "abc", 3));
  ASSERT_TRUE(readable(slave, 5000));  // the keys have reached the terminal
  dup2(slave, STDIN_FILENO);
  close(slave);
  osFlushConsoleInput();
  EXPECT_FALSE(readable(STDIN_FILENO, 0));
}

TEST_F(DesktopConsole, OtherInputIsLeftAlone) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  other = fds[1];
  ASSERT_EQ(3, write(other, "abc", 3));
  dup2(fds[0], STDIN_FILENO);
  close(fds[0]);
  osFlushConsoleInput();
  EXPECT_TRUE(readable(STDIN_FILENO, 0));
}

}  // namespace
