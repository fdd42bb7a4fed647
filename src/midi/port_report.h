// The report of ports that failed to open, shown by start-up in a message box.
#pragma once

// Room for the longest report: 16 output and 16 input lines of 127-byte names.
enum { kPortReportSize = 6144 };

// Builds the report for OUT1..OUTn and IN1..INm whose failed flag is set, in
// Japanese (Shift-JIS) when languageId is 1041, else in English. Returns its
// length; -1 (and an empty text) when size cannot hold it: it is never cut.
// withDevices: one more line names the MIDI devices there are, when it fits.
int buildPortReport(char* text, int size, int languageId, bool withDevices = false);
