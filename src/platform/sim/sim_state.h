// The sim machine's state, shared by the sim backend's files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SimState {
  int codePage = 0;                 // 0 or 932
  int language = 1033;              // user's default language identifier
  unsigned version = 6;             // platform version word
  std::string commandLine;          // narrow command line
  std::u16string commandLineW;      // wide command line
  bool wideSetSeparately = false;   // commandLineW not derived from the narrow one
  std::string currentDirectory;     // "" = the query fails
  int64_t clock = 0;                // virtual milliseconds
  std::vector<int> pauses;          // every osSleep, in order
  int failOpens = 0;                // file faults still to inject
  int failReads = 0;
  int failWrites = 0;
  int shortWrites = 0;
  int fileCalls = 0;                // file-layer calls since the reset
  std::vector<int> boxAnswers;      // scripted message-box answers, oldest first
  struct Box {
    std::string text;               // text as shown (ANSI code page bytes)
    std::string caption;
    unsigned flags;
  };
  std::vector<Box> boxes;           // message boxes shown
  std::string userDir;              // per-user directory for the files; "" = none
  int usageShown = 0;               // osShowUsage calls
  std::vector<std::string> told;    // lines osTellUser gave the user
};

extern SimState simState;

// Back to a machine without MIDI devices or serial ports.
void simResetMidi(void);
// Back to a screen without a window, surfaces, messages or drops.
void simResetWindow(void);

// Writes width x height 0xRRGGBB pixels, row after row, to a host file as an
// 8-bit RGB PNG; false for an empty image or when the file cannot be written.
bool simWritePng(const char* hostPath, const uint32_t* pixels, int width, int height);
