// Desktop backend entry points that the program's main hands its arguments to.
#pragma once

void desktopSetArguments(int argc, char** argv);
