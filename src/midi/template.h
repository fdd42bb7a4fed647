// Device listings and the settings template: the machine's MIDI devices
// written to the diagnostics and as a settings file.
#pragma once

// Writes the template over the settings file (narrow name first, then wide):
// every input device as an input, every output device named like an input as
// an "open only" output, every other output commented out with XG, GS or GM.
// Returns the number of MIDI output devices.
int writeSettingsTemplate(const char* path, const char16_t* pathW);

// The start-up listings to log: number, name, maker and driver version of
// every device. Each returns its device count.
int listMidiInDevices(void);
int listMidiOutDevices(void);
