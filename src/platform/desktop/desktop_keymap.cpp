// Desktop window backend: the key map from SDL keys to Windows virtual-key
// codes (see desktopVirtualKey in desktop_window.h).
#include <SDL.h>

#include "platform/desktop/desktop_window.h"

namespace {

// Keys by SDL keycode. Letters and digits are handled before this table.
struct KeyCode {
  int sdl;  // SDL keycode
  int vk;   // Windows virtual-key code
};

const KeyCode kKeyTable[] = {
    {SDLK_BACKSPACE, 0x08}, {SDLK_TAB, 0x09}, {SDLK_CLEAR, 0x0C}, {SDLK_RETURN, 0x0D}, {SDLK_RETURN2, 0x0D},
    {SDLK_PAUSE, 0x13}, {SDLK_CAPSLOCK, 0x14}, {SDLK_ESCAPE, 0x1B}, {SDLK_SPACE, 0x20}, {SDLK_PAGEUP, 0x21},
    {SDLK_PAGEDOWN, 0x22}, {SDLK_END, 0x23}, {SDLK_HOME, 0x24}, {SDLK_LEFT, 0x25}, {SDLK_UP, 0x26},
    {SDLK_RIGHT, 0x27}, {SDLK_DOWN, 0x28}, {SDLK_SELECT, 0x29}, {SDLK_EXECUTE, 0x2B}, {SDLK_PRINTSCREEN, 0x2C},
    {SDLK_INSERT, 0x2D}, {SDLK_DELETE, 0x2E}, {SDLK_HELP, 0x2F}, {SDLK_LGUI, 0x5B}, {SDLK_RGUI, 0x5C},
    {SDLK_APPLICATION, 0x5D}, {SDLK_SLEEP, 0x5F}, {SDLK_KP_MULTIPLY, 0x6A}, {SDLK_KP_PLUS, 0x6B},
    {SDLK_KP_MINUS, 0x6D}, {SDLK_KP_DIVIDE, 0x6F}, {SDLK_KP_ENTER, 0x0D}, {SDLK_NUMLOCKCLEAR, 0x90},
    {SDLK_SCROLLLOCK, 0x91}, {SDLK_LSHIFT, 0x10}, {SDLK_RSHIFT, 0x10}, {SDLK_LCTRL, 0x11}, {SDLK_RCTRL, 0x11},
    {SDLK_LALT, 0x12}, {SDLK_RALT, 0x12}, {SDLK_MODE, 0x12}, {SDLK_MUTE, 0xAD}, {SDLK_VOLUMEDOWN, 0xAE},
    {SDLK_VOLUMEUP, 0xAF}, {SDLK_AUDIONEXT, 0xB0}, {SDLK_AUDIOPREV, 0xB1}, {SDLK_AUDIOSTOP, 0xB2},
    {SDLK_AUDIOPLAY, 0xB3},
    // Punctuation as the US layout has it unshifted (VK_OEM_1 .. VK_OEM_7),
    // and "+", which Windows names VK_OEM_PLUS on every layout.
    {';', 0xBA}, {'=', 0xBB}, {'+', 0xBB}, {',', 0xBC}, {'-', 0xBD}, {'.', 0xBE}, {'/', 0xBF}, {'`', 0xC0},
    {'[', 0xDB}, {'\\', 0xDC}, {']', 0xDD}, {'\'', 0xDE},
};

// Keys by scancode: the US position of a key whose keycode is not above
// (a letter of another script, a layout's own punctuation).
const KeyCode kScancodeTable[] = {
    {SDL_SCANCODE_SEMICOLON, 0xBA}, {SDL_SCANCODE_EQUALS, 0xBB}, {SDL_SCANCODE_COMMA, 0xBC},
    {SDL_SCANCODE_MINUS, 0xBD}, {SDL_SCANCODE_PERIOD, 0xBE}, {SDL_SCANCODE_SLASH, 0xBF},
    {SDL_SCANCODE_GRAVE, 0xC0}, {SDL_SCANCODE_LEFTBRACKET, 0xDB}, {SDL_SCANCODE_BACKSLASH, 0xDC},
    {SDL_SCANCODE_NONUSHASH, 0xDC}, {SDL_SCANCODE_RIGHTBRACKET, 0xDD}, {SDL_SCANCODE_APOSTROPHE, 0xDE},
    {SDL_SCANCODE_NONUSBACKSLASH, 0xE2}, {SDL_SCANCODE_INTERNATIONAL1, 0xE2}, {SDL_SCANCODE_INTERNATIONAL3, 0xDC},
};

// Keypad keys with NumLock off, as Windows reports them: the navigation keys.
const KeyCode kKeypadNavigation[] = {
    {SDLK_KP_0, 0x2D}, {SDLK_KP_1, 0x23}, {SDLK_KP_2, 0x28}, {SDLK_KP_3, 0x22}, {SDLK_KP_4, 0x25},
    {SDLK_KP_5, 0x0C}, {SDLK_KP_6, 0x27}, {SDLK_KP_7, 0x24}, {SDLK_KP_8, 0x26}, {SDLK_KP_9, 0x21},
    {SDLK_KP_PERIOD, 0x2E},
};

}  // namespace

int desktopVirtualKey(int keycode, int scancode, unsigned modifiers) {
  if (keycode >= 'a' && keycode <= 'z') return keycode - 'a' + 0x41;
  // The top row gives the digit codes on every Windows layout, whatever it
  // prints (AZERTY's "&", "\"", "-" ...).
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return scancode - SDL_SCANCODE_1 + 0x31;
  if (scancode == SDL_SCANCODE_0) return 0x30;
  if (keycode >= '0' && keycode <= '9') return keycode;
  if (keycode >= SDLK_F1 && keycode <= SDLK_F12) return keycode - SDLK_F1 + 0x70;
  if (keycode >= SDLK_F13 && keycode <= SDLK_F24) return keycode - SDLK_F13 + 0x7C;
  bool numLock = (modifiers & KMOD_NUM) != 0;
  if (keycode >= SDLK_KP_1 && keycode <= SDLK_KP_0) {
    // SDL numbers them 1..9, 0.
    for (const KeyCode& k : kKeypadNavigation) {
      if (!numLock && k.sdl == keycode) return k.vk;
    }
    return keycode == SDLK_KP_0 ? 0x60 : keycode - SDLK_KP_1 + 0x61;
  }
  if (keycode == SDLK_KP_PERIOD) return numLock ? 0x6E : 0x2E;
  for (const KeyCode& k : kKeyTable) {
    if (k.sdl == keycode) return k.vk;
  }
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) return scancode - SDL_SCANCODE_A + 0x41;
  for (const KeyCode& k : kScancodeTable) {
    if (k.sdl == scancode) return k.vk;
  }
  return 0;
}
