// The main loop on the window thread. MIDI input never passes through here:
// the callback thread runs the engine directly.
#include "app/main_loop.h"

#include "app/exit.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/os_system.h"
#include "app/pump.h"
#include "config/program_reader.h"
#include "display/geometry.h"
#include "display/window.h"
#include "engine/engine.h"

namespace {

void playNote(int channel, int note) {
  playMouseNote(channel, note);
  mouseNote = note;
  mouseChannel = channel;
}

void releaseNote(int action) {
  log(" %d(keyoff %d) \n", action, mouseNote);
  releaseMouseNote(mouseChannel, mouseNote);
  mouseNote = -1;
  mouseChannel = -1;
}

}  // namespace

void mainLoopPass(void) {
  osSleep(oldWindows ? 8 : 4);
  if (windowState == 0) exitProgram(0);

  if (takeDragLeft()) {
    log("Mdragout (%d %d) \n", windowEvents.dragX, windowEvents.dragY);
    if (mouseNote != -1) releaseNote(4);
  }

  int x = 0;
  int y = 0;
  if (takeLeftReleased(&x, &y)) {
    log("Mbuttonuped (%d %d) - ", x, y);
    KeyHit hit = hitTest(x, y);
    log(" ch=%d note=%d \n", hit.channel, hit.note);
    if (mouseNote != -1) {
      releaseNote(3);
      takeDragMoved(nullptr, nullptr);
    }
  }

  if (takeDragMoved(&x, &y)) {
    log(" - Mdragged (%d %d) - ", x, y);
    KeyHit hit = hitTest(x, y);
    log(" ch=%d note=%d \n", hit.channel, hit.note);
    if (mouseNote != -1 && (hit.channel != mouseChannel || hit.note != mouseNote)) releaseNote(2);
    if (mouseNote == -1 && hit.note >= 0 && hit.note <= 127) {
      log(" 2(keyON %d) \n", hit.note);
      playNote(hit.channel, hit.note);
    }
  }

  if (takeLeftPressed(&x, &y)) {
    log("Mpressed (%d %d) - ", x, y);
    KeyHit hit = hitTest(x, y);
    log(" ch=%d note=%d \n", hit.channel, hit.note);
    if (mouseNote != -1) releaseNote(1);
    if (hit.note >= 0 && hit.note <= 127) {
      log(" 1(keyON %d) \n", hit.note);
      playNote(hit.channel, hit.note);
      takeDragLeft();
    }
  }

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
