// The main loop: pauses, pumps the window's messages, plays the keys the mouse
// presses, and acts on Escape (end) and "=" (reload the program tables).
#pragma once

// One pass of the loop. Ends the program through the exit path when the
// window is gone or Escape was pressed.
void mainLoopPass(void);

// Ends the note the mouse still sounds, if any: an exit handler registered
// after the port closers, so the note-off goes out before the ports close.
void releaseMouseNoteAtExit(void);

// Runs passes until the program ends.
[[noreturn]] void runMainLoop(void);
