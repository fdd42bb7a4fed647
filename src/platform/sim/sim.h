// Control surface of the sim platform: what tests and the scenario runner use
// to script the machine (command lines, code page, language, clock) and to
// inject faults at the OS boundary.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Thrown by osExit on the sim platform: the program ended with this code.
struct SimExit {
  int code;  // exit code handed to the exit path
};

// Back to a fresh machine: no faults, clock at 0, code page none, language
// 1033, version 6, command line "notalumen.exe", current directory "C:".
void simReset(void);

// Command lines as the platform hands them out; the wide one is derived from
// the narrow one through the selected code page unless set separately.
void simSetCommandLine(const char* narrow);
void simSetCommandLineW(const char16_t* wide);
void simSetCurrentDirectory(const char* narrow);  // "" makes the query fail
void simSetCodePage(int codePage);                // 0 (no double-byte) or 932
void simSetLanguage(int languageId);
void simSetVersion(unsigned version);

// Virtual clock: osSleep advances it and records each pause.
int64_t simNow(void);
const std::vector<int>& simPauses(void);
void simClearPauses(void);

// Message boxes: the answers to give, oldest first (OK once they run out),
// and what was shown.
void simAnswerBoxes(std::initializer_list<int> answers);
int simBoxCount(void);
const std::string& simBoxText(int i);
const std::string& simBoxCaption(int i);
unsigned simBoxFlags(int i);

// File faults: each counter makes the next N calls of that kind fail (opens
// return 0 with error 5, reads and writes return -1); short writes write half.
void simFailFileOpens(int count);
void simFailFileReads(int count);
void simFailFileWrites(int count);
void simShortFileWrites(int count);
int simFileCallCount(void);  // file-layer calls made since the reset

// Sim paths use the Windows separator; they map to host files with "\" as "/"
// and, under code page 932, narrow names converted from Shift-JIS to UTF-8.
std::string simHostPath(const char* narrow);
