// Storage and start values of the engine's shared tables.
#include "state/tables.h"

#include <cstring>

int maxcolumns;
int8_t columnChannel[kChannelCount];
int channelColumn[kChannelCount];
uint8_t channelShown[kChannelCount];
uint8_t allChMix;
uint8_t fixedColumns;
uint8_t damperDown[kChannelCount];
int8_t heldNotes[kChannelCount][kHeldNotesSize];
int heldCount[kChannelCount];
int8_t drawnLook[kChannelCount][128];
uint32_t noteSentBy[16][kChannelCount][4];
uint32_t keyLitBy[16][kChannelCount][4];
uint16_t damperBy[16];

void resetEngineTables(void) {
  std::memset(noteSentBy, 0, sizeof noteSentBy);
  std::memset(keyLitBy, 0, sizeof keyLitBy);
  std::memset(damperBy, 0, sizeof damperBy);
  maxcolumns = 0;
  allChMix = 0;
  fixedColumns = 0;
  for (int c = 0; c < kChannelCount; c++) {
    columnChannel[c] = c == 0 ? 0 : -1;
    channelColumn[c] = -1;
    channelShown[c] = 0;
    damperDown[c] = 0;
    heldCount[c] = 0;
    for (int i = 0; i < kHeldNotesSize; i++) heldNotes[c][i] = -1;
    for (int8_t& look : drawnLook[c]) look = 0;
  }
}
