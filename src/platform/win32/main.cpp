// Entry of the Windows program: a GUI entry that reads its command line from
// the system, not from its arguments.
#include <windows.h>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { notalumenMain(); }
