// Settings template writer.
#include "midi/template.h"

#include <cstdio>

#include "app/log.h"
#include "support/file_io.h"
#include "support/sjis.h"

static const char* const templateTail[] = {
    "-mX=1 -mY=1.0        // (multiplying sizes for X/Y) - display sizes \r\n",
    "-nMin=21 -nMax=108   // (noteMin-noteMax) - display note range 0-127 \r\n",
    "-soc                 // (stay on console) - for detailed info. display \r\n",
    "// -AllChMix   // fix 1st-row to display all MIDI channels 1-16 \r\n",
    "// -Ch1   // fix 1st-row display MIDI channel to Ch=1 \r\n",
    "// -Ch2   // fix 2nd-row display MIDI channel to Ch=2 \r\n",
    "// -Ch3   // fix 3rd-row display MIDI channel to Ch=3 \r\n",
};

int writeSettingsTemplate(const char* path, const char16_t* pathW) {
  bool opened = wfopen(path) == 0;
  if (!opened) {
    log("Cannot open %s (WR). \n", path);
    log("Retrying opening %s (WR) ... \n", path);
    opened = wfwopen(pathW) == 0;
    if (opened) {
      log(" -- Opened. \n");
    } else {
      char narrow[600];
      wideToSjis(narrow, sizeof narrow, pathW);
      log("Cannot open %s (WR). \n", narrow);
    }
  }
  // Device enumeration joins when the MIDI services exist; until then the
  // machine has no device.
  int inCount = 0;
  int outCount = 0;
  char line[256];
  std::snprintf(line, sizeof line, "// --- MIDI IN: %d device(s).\r\n", inCount);
  wfputs(line);
  wfputs("\r\n");
  std::snprintf(line, sizeof line, "// --- MIDI OUT: %d device(s).\r\n", outCount);
  wfputs(line);
  wfputs("\r\n");
  for (const char* tail : templateTail) wfputs(tail);
  if (opened) wfclose();
  return outCount;
}
