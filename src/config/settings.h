// Reader of the settings file sonrack.ini: port definitions, display options,
// channel columns and the run-time switches. The reader only reads: it fills
// a SettingsFile record, and start-up applies the record to the tables and
// carries out what the file asks for (-# bytes, -VOL, -LIST).
#pragma once

#include <cstdint>

#include "midi/ports.h"
#include "state/tables.h"

enum { kSettingsSendLimit = 256 };  // -# bytes one reading keeps

// What the settings configure of one port.
struct PortSetting {
  char name[kPortNameSize];  // configured device name
  uint8_t configured;        // 255 when the settings configure this port
  int32_t deviceId;          // -1: virtual input or the MIDI mapper; 0 for a serial output
  int8_t channel;            // input: channel assignment 0..15
  int32_t comPort;           // output: serial port number; 0 = not serial
  uint8_t noOutput;          // output: 255 = opened, but routing sends nothing
};

// Everything one reading of the file gives: the tables as they stood when it
// began (captureSettings), with the file's options applied in file order.
struct SettingsFile {
  PortSetting in[kPortCount];                // IN1..IN16
  PortSetting out[kPortCount];               // OUT1..OUT16
  int magX;                                  // MagX
  int magY;                                  // MagY, tenths
  int noteMin;                               // NoteMin
  int noteMax;                               // NoteMax
  int maxcolumns;                            // column tables as in state/tables.h
  uint8_t allChMix;                          //   ...
  uint8_t fixedColumns;                      //   ...
  uint8_t channelShown[kChannelCount];       //   ...
  int8_t columnChannel[kChannelCount];       //   ...
  int channelColumn[kChannelCount];          //   ...
  uint8_t consoleMode;                       // 255 after -soc
  // What the second reading asks for, carried out by start-up:
  uint8_t sendBytes[kSettingsSendLimit];     // -# bytes for OUT1, in file order
  int sendCount;                             // entries of sendBytes in use
  uint8_t volumeSet;                         // 255: -VOL gave volume
  int volume;                                // its value
  // -LIST ended the reading (either reading). The file is then still open
  // for reading and shares no writing, so a template written now reaches
  // only the log and the file stays as it is; start-up writes it, then
  // closes the file.
  uint8_t listRequested;
};

// The tables the settings change, as they stand, into a record.
void captureSettings(SettingsFile* into);
// Reads the settings file into the record: opens wideName (rfwopen) when
// useWide is set, else narrowName (rfopen). actionPass 0 is the first
// reading; 1, the second, also records -# bytes and -VOL and reports file
// names. Returns 0 once read (also when -LIST ends it early), or -1 with the
// record unchanged when the file does not open.
int parseSettingsFile(const char* narrowName, const char16_t* wideName, int useWide, int actionPass,
                      SettingsFile* into);
// Writes the record's tables back (the caller holds the engine and display
// locks while inputs are open).
void applySettings(const SettingsFile& from);
