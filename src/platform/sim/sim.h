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
// A per-user directory for the program's files (a narrow path ending with
// "\\"), as the Linux program has; "" (the start) for none, as on Windows.
void simSetUserDirectory(const char* narrow);
// How often the program showed its usage text.
int simUsageShown(void);

// Virtual clock: osSleep advances it and records each pause.
int64_t simNow(void);
std::vector<int> simPauses(void);
void simClearPauses(void);

// Message boxes: the answers to give, oldest first (OK once they run out),
// and what was shown.
void simAnswerBoxes(std::initializer_list<int> answers);
void simQueueBoxAnswer(int answer);  // appends one answer
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

// ---- MIDI machine. Devices are added in index order; the MIDI mapper exists
// whenever at least one output device does. Safe to call from any thread.
void simAddMidiIn(const char* name, int manufacturer = 0, uint32_t driverVersion = 0x0100);
void simAddMidiOut(const char* name, int manufacturer = 0, uint32_t driverVersion = 0x0100);
// Unplugs the first device of that name: the devices after it move up one
// index, a handle open on it dies (calls on it fail, nothing more arrives),
// and the device generation changes, as it does when a device is added.
bool simRemoveMidiIn(const char* name);
bool simRemoveMidiOut(const char* name);
void simFailMidiInCaps(int index, int code);   // every capability query of that device fails
void simFailMidiOutCaps(int index, int code);
void simFailMidiInOpen(int index, int code);   // opens of that device fail with code (4: allocated)
void simFailMidiOutOpen(int index, int code);  // index kMidiMapper (-1) for the mapper
// The next count calls of that kind on any output fail with code.
void simFailMidiOutShort(int count, int code);
void simFailMidiOutPrepare(int count, int code);
void simFailMidiOutLong(int count, int code);

// What the outputs received, in order: short words and long messages.
struct SimMidiOutEvent {
  bool isLong;                 // a long message (bytes) or a short word
  uint32_t word;               // short word, first byte lowest
  std::vector<uint8_t> bytes;  // long message
};
std::vector<SimMidiOutEvent> simMidiOutEvents(int index);  // index kMidiMapper for the mapper
// Recording switch (on after simReset): while off, the MIDI output devices and
// the mapper (not the serial ports) keep no record of what they receive, and
// simMidiCalls leaves out the calls made on output handles (sends, prepares,
// unprepares, closes), so that benchmarks and allocation counts see the
// program's own costs only. Handles are still checked, faults still injected;
// while no short-send fault is scripted, a short send to an open handle is
// answered without the machine's lock, as a driver takes it.
void simRecordMidiOutput(bool record);
// The bytes an output received, short words cut to their message length by
// status (running-status words as two bytes), long messages whole.
std::vector<uint8_t> simMidiOutBytes(int index);

// Long messages: while held, a sent long message stays playing (the device
// owns the header, unprepare answers 65) until simFinishLongMessages.
void simHoldLongMessages(bool hold);
void simFinishLongMessages(void);

// Every MIDI and serial service call in order, e.g. "midiOutOpen -1",
// "midiInReset 0", "midiInClose 0", "serialClose COM3" (device indexes).
std::vector<std::string> simMidiCalls(void);

// Input delivery to the open input of a device, on the calling thread, as the
// system's callback thread would: short data; long data (fills the queued
// buffer and returns it done; dropped when none is queued); errors.
void simMidiInShort(int index, uint32_t message, uint32_t time);
bool simMidiInLong(int index, const uint8_t* bytes, int count, uint32_t time);
void simMidiInError(int index, uint32_t message, uint32_t time);
bool simMidiInLongError(int index, const uint8_t* bytes, int count, uint32_t time);
bool simMidiInIsOpen(int index);
int simMidiInQueuedBuffers(int index);  // buffers queued and not yet returned

// Serial ports COMn of the machine: missing unless added; busy ports refuse
// to open (error 5); configuration can fail at step 1 or 2; writes can fail or
// write only part of the bytes.
void simAddSerialPort(int number);
void simSetSerialBusy(int number, bool busy);
void simFailSerialConfigure(int number, int step, int code);
void simFailSerialWrites(int number, int count);
void simPartialSerialWrites(int number, int count);
// A stalled port takes no bytes: a write that cannot wait writes nothing, a
// write that may wait waits (real time) until the port takes bytes again,
// at most a second, and then fails.
void simStallSerialPort(int number, bool stalled);
std::vector<uint8_t> simSerialBytes(int number);
bool simSerialIsOpen(int number);

// How the sim machine answers, where Windows leaves a choice:
// - Unknown indexes give 2; inputs have no mapper (index -1 gives 2), and the
//   mapper without any output device gives 2 too. Outputs may be opened more
//   than once; an input once at a time (4 while open).
// - MIM_OPEN reaches the callback inside the open, before the caller's handle
//   variable is written (as on Windows); MIM_CLOSE inside the close.
// - Input flows only between start and reset or close; reset stops the input.
//   Reset and close wait for callbacks of that input running on other threads.
//   An input with queued buffers refuses to close (65), and so does an output
//   that still plays a held long message.
// - A long message longer than the first queued buffer fills it, returns it
//   full and goes on in the next one; what finds no buffer is lost (false).
// - A header's length is taken when it is prepared (outputs) or queued
//   (inputs); preparing a prepared header and unpreparing an unprepared one
//   change nothing and give 0.
// - simMidiCalls names the calls after the services: "midiInCount",
//   "midiOutCaps 1", "midiOutShort -1", "midiInAddBuffer 0", "serialWrite COM3",
//   ... with "?" for a handle that is not open; "serialOpen" logs the name as
//   given ("serialOpen \\.\COM12"), later serial calls "COMn".
// - Serial: "COM1".."COM9" and "\\.\COMn" name port n (COM10 and above only with
//   the prefix); an unknown port gives 2, an empty name 123, a busy or already
//   open port 5. A failed write sets the last error 29; a partial write 1121
//   (the time-out of a write that took only part of the bytes).

// ---- Window machine: one screen with a work area, system metrics, a window
// with a client-area pixel surface, scroll bars and a message queue that the
// program's pump dispatches on the thread that calls it.
//
// The window belongs to the thread that created it: only that thread
// dispatches, and only it can destroy the window. Messages a call causes
// (WM_GETMINMAXINFO, WM_CREATE, WM_SIZE, WM_DESTROY, the user-resize ones)
// reach the procedure at once on that thread; a call made on another thread
// leaves them queued for the window thread's next dispatch, ahead of posted
// messages. Creation sends WM_GETMINMAXINFO, WM_CREATE and then WM_SIZE (the
// first showing), all before osCreateWindow returns: the procedure must use
// the window it is handed. Both scroll bars start shown with range 0..100, as
// a window with both scroll-bar styles does; a changed range shows a bar when
// it is not empty and hides it when it is (0..0). A shown bar takes its width
// or height from the client area, and every change of the client size sends
// WM_SIZE (lParam = width | height << 16). WM_PAINT comes from a dispatch that
// finds the queues empty while part of the client area is invalid (after
// creation, growing, restoring, osScrollWindow); it is sent once for each
// invalidation. osDefaultWindowProc: WM_CLOSE destroys the window, WM_PAINT
// validates, WM_SYSCOMMAND maximises (0xF030, using the ptMaxSize the
// procedure set), minimises, restores or closes (0xF060); others return 0.
// Outer sizes are held between the frame alone and a maximised window's size.
void simSetWorkArea(int left, int top, int right, int bottom);  // default 0,0-1920,1040
void simSetSystemMetric(int index, int value);  // defaults: scroll bars 17, caption 23
// Outer = client + 2*border wide, + caption + 2*border high (defaults 4, 23);
// set it before creating the window.
void simSetFrame(int border, int caption);
// What osWindowPrefersCopies answers: true (the default) lets a drawn key
// reach the client area as one block copy; false makes every fill go to both
// surfaces, as on Windows.
void simWindowCopies(bool copies);
// What osWindowDefersKeys answers: false (the default) paints a drawn key at
// once; true leaves it to paintPendingKeys, as the Linux window does.
void simWindowDefersKeys(bool defers);
// How often the drawing asked for a pass to paint noted keys (osWindowKeysNoted).
int simKeysNotedCount(void);
bool simWindowExists(void);
std::string simWindowTitle(void);
bool simWindowTopmost(void);
void simWindowRect(int* left, int* top, int* right, int* bottom);  // outer rectangle
void simClientSize(int* width, int* height);
// Pixels read 0xFFFFFFFF outside the surface or for an unknown one.
uint32_t simClientPixel(int x, int y);  // 0xRRGGBB of the window's client surface
uint32_t simSurfacePixel(intptr_t surface, int x, int y);  // any surface; 0: the client area
void simSurfaceSize(intptr_t surface, int* width, int* height);
bool simSavePng(intptr_t surface, const char* hostPath);   // surface 0: the client area
struct SimScrollBar {
  bool shown;    // visible
  int maximum;   // range 0..maximum
  int position;  // thumb
};
SimScrollBar simScrollBar(int bar);
// Queue a message as the platform would deliver it (positions in client
// pixels): pointer, keys, characters, sizing, scrolling, close.
void simPostMessage(unsigned message, uintptr_t wParam, intptr_t lParam);
// lParam = (x & 0xFFFF) | (y & 0xFFFF) << 16, wParam = flags (OS_MK_...).
void simPostPointer(unsigned message, int x, int y, unsigned flags);
// Key down, then WM_CHAR for printable keys is not implied. lParam as
// Windows: repeat count 1, bit 30 the previous key state, bit 31 on release.
void simPostKey(int virtualKey, bool down);
// The user drags the window's edge (code 1..8) to an outer size, then lets go:
// WM_ENTERSIZEMOVE (0x0231), WM_SIZING (wParam = edge, lParam = the proposed
// outer OsRect, which the procedure may change), WM_GETMINMAXINFO, WM_SIZE
// when the client changed, WM_EXITSIZEMOVE; synchronously, on the calling
// thread, which should be the window's. Left edges keep the right side where
// it is, top edges the bottom.
void simUserResize(int edge, int outerWidth, int outerHeight);
int simPendingMessages(void);  // sent and posted messages waiting (a pending paint not counted)
bool simWindowNeedsPaint(void);         // part of the client area is still invalid
void simMaximizedSize(int* width, int* height);  // ptMaxSize after the last WM_GETMINMAXINFO
// Files dropped on the window: posts WM_DROPFILES with the drop's handle, or
// does nothing and returns 0 when the window does not accept drops.
intptr_t simDropFiles(std::initializer_list<const char*> names);
int simOpenDrops(void);                 // drops not released yet
bool simWindowAcceptsDrops(void);
bool simWindowClassRegistered(void);
int simOffscreenCount(void);            // off-screen surfaces alive
int simConsoleFlushes(void);            // osFlushConsoleInput calls

// Sim paths use the Windows separator; they map to host files with "\" as "/"
// and, under code page 932, narrow names converted from Shift-JIS to UTF-8.
std::string simHostPath(const char* narrow);
