// Entry of the Linux desktop program.
#include "app/startup.h"
#include "platform/desktop/desktop.h"

int main(int argc, char** argv) {
  desktopSetArguments(argc, argv);
  notalumenMain();
}
