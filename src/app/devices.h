// Ports that follow their devices: while the program runs, a configured port
// whose device is missing opens when the device comes, and one whose device
// goes is closed, an input's notes ended on the outputs and its keys put out.
#pragma once

// One look at the MIDI system's devices, on the window thread (the main loop
// calls it every pass): it acts when the system says its devices changed,
// and about once a second while a followed port is closed.
void followDevices(void);

// Start values: no look taken yet.
void resetDeviceFollowing(void);
