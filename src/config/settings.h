// Reader of the settings file sonrack.ini: port definitions, display options,
// channel columns and the run-time switches.
#pragma once

// Reads the settings file, applying each option in file order. Opens wideName
// (rfwopen) when useWide is set, else narrowName (rfopen). actionPass 0 is the
// first reading; 1, the second, also sends -# bytes, sets -VOL and reports
// file names. Returns 0 once read (also when -LIST ends it early), or -1 with
// no setting changed when the file does not open.
int readSettingsFile(const char* narrowName, const char16_t* wideName, int useWide, int actionPass);
