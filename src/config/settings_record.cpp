// The settings record: the tables the settings file changes, taken into a
// record before a reading and written back after it.
#include "config/settings.h"

#include <cassert>
#include <cstring>

#include "state/display_settings.h"
#include "state/globals.h"

void captureSettings(SettingsFile* into) {
  assert(into != nullptr);
  *into = SettingsFile{};
  for (int i = 0; i < kPortCount; i++) {
    const InPort& in = inPorts[i];
    std::memcpy(into->in[i].name, in.name, kPortNameSize);
    into->in[i].configured = in.configured;
    into->in[i].deviceId = in.deviceId;
    into->in[i].channel = in.channel;
    const OutPort& out = outPorts[i];
    std::memcpy(into->out[i].name, out.name, kPortNameSize);
    into->out[i].configured = out.configured;
    into->out[i].deviceId = out.deviceId;
    into->out[i].comPort = out.comPort;
    into->out[i].noOutput = out.noOutput;
  }
  into->magX = MagX;
  into->magY = MagY;
  into->noteMin = NoteMin;
  into->noteMax = NoteMax;
  into->maxcolumns = maxcolumns;
  into->allChMix = allChMix;
  into->fixedColumns = fixedColumns;
  for (int c = 0; c < kChannelCount; c++) {
    into->channelShown[c] = channelShown[c];
    into->columnChannel[c] = columnChannel[c];
    into->channelColumn[c] = channelColumn[c];
  }
  into->consoleMode = consoleMode;
}

void applySettings(const SettingsFile& from) {
  for (int i = 0; i < kPortCount; i++) {
    InPort& in = inPorts[i];
    std::memcpy(in.name, from.in[i].name, kPortNameSize);
    in.configured = from.in[i].configured;
    in.deviceId = from.in[i].deviceId;
    in.channel = from.in[i].channel;
    OutPort& out = outPorts[i];
    std::memcpy(out.name, from.out[i].name, kPortNameSize);
    out.configured = from.out[i].configured;
    out.deviceId = from.out[i].deviceId;
    out.comPort = from.out[i].comPort;
    out.noOutput = from.out[i].noOutput;
  }
  MagX = from.magX;
  MagY = from.magY;
  NoteMin = from.noteMin;
  NoteMax = from.noteMax;
  maxcolumns = from.maxcolumns;
  allChMix = from.allChMix;
  fixedColumns = from.fixedColumns;
  for (int c = 0; c < kChannelCount; c++) {
    channelShown[c] = from.channelShown[c];
    columnChannel[c] = from.columnChannel[c];
    channelColumn[c] = from.channelColumn[c];
  }
  consoleMode = from.consoleMode;
}
