// Entry of the Linux desktop program.
#include "app/startup.h"
#include "platform/desktop/desktop.h"

int main(int argc, char** argv) {
  if (desktopEarlyOptions(argc, argv)) return 0;
  desktopSetArguments(argc, argv);
  notalumenMain();
}
