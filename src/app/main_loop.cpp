// The main loop on the window thread. MIDI input never passes through here:
// the callback thread runs the engine directly.
#include "app/main_loop.h"

#include <cassert>

#include "app/devices.h"
#include "support/exit.h"
#include "state/globals.h"
#include "support/log.h"
#include "support/os_system.h"
#include "display/pump.h"
#include "config/program_reader.h"
#include "display/drawing.h"
#include "display/geometry.h"
#include "display/window.h"

namespace {

void playNote(int channel, int note) {
  if (windowInput.noteOn != nullptr) windowInput.noteOn(channel, note);
  mouseNote = note;
  mouseChannel = channel;
}

void releaseNote(int action) {
  log(" %d(keyoff %d) \n", action, mouseNote);
  if (windowInput.noteOff != nullptr) windowInput.noteOff(mouseChannel, mouseNote);
  mouseNote = -1;
  mouseChannel = -1;
}

// The key under a button event, with its two diagnostics.
KeyHit loggedHit(const char* what, const MouseEvent& e) {
  log(what, e.x, e.y);
  const KeyHit hit = hitTest(e.x, e.y);
  log(" ch=%d note=%d \n", hit.channel, hit.note);
  return hit;
}

// One button event, in the order the window procedure recorded it.
void mouseEvent(const MouseEvent& e) {
  switch (e.kind) {
    case kMouseDragOut:
      log("Mdragout (%d %d) \n", e.x, e.y);
      if (mouseNote != -1) releaseNote(4);
      break;
    case kMouseRelease:
      loggedHit("Mbuttonuped (%d %d) - ", e);  // for the diagnostics only
      if (mouseNote != -1) releaseNote(3);
      break;
    case kMouseDrag: {
      const KeyHit hit = loggedHit(" - Mdragged (%d %d) - ", e);
      if (mouseNote != -1 && (hit.channel != mouseChannel || hit.note != mouseNote)) releaseNote(2);
      if (mouseNote == -1 && hit.note >= 0 && hit.note <= 127) {
        log(" 2(keyON %d) \n", hit.note);
        playNote(hit.channel, hit.note);
      }
      break;
    }
    case kMousePress: {
      const KeyHit hit = loggedHit("Mpressed (%d %d) - ", e);
      if (mouseNote != -1) releaseNote(1);
      if (hit.note >= 0 && hit.note <= 127) {
        log(" 1(keyON %d) \n", hit.note);
        playNote(hit.channel, hit.note);
      }
      break;
    }
    default:
      assert(false && "unknown mouse event");
  }
}

}  // namespace

void releaseMouseNoteAtExit(void) {
  if (mouseNote != -1) releaseNote(5);
}

void mainLoopPass(void) {
  osSleep(oldWindows ? 8 : 4);
  if (windowState == 0) exitProgram(windowEverOpened ? 0 : 1);

  // Button events in the order they happened: a press and its release read in
  // the same pass play the note and end it, so a quick click never leaves a
  // note sounding.
  MouseEvent e;
  while (takeMouseEvent(&e)) mouseEvent(e);

  followDevices();
  paintPendingKeys();  // the keys input drew since the last pass

  pumpMessages();
  if (peekKeyCode() != 0) {
    pumpMessages();
    int key = takeKeyCode();
    if (key == 27) exitProgram(0);
    if (key == 61) reloadProgramTables();
  }
}

void runMainLoop(void) {
  for (;;) mainLoopPass();
}
