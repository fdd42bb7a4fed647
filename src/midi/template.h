// Settings template: the machine's MIDI devices written as a settings file.
#pragma once

// Writes the template over the settings file (narrow name first, then wide);
// returns the number of MIDI output devices.
int writeSettingsTemplate(const char* path, const char16_t* pathW);
