// Reasons that the port diagnostics give for the MIDI services' result codes,
// and the diagnostic of a failed capability query.
#pragma once

// Writes to log the reason for code when code is one of the listed codes
// (the codes that the calling site names), else the bare code.
void logMidiReason(int code, const int* named, int namedCount);

// "MIDI Mapper In/Out Device Listing Error :" with the reason for the code.
void logCapsError(bool input, int code);
