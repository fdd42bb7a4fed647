// What the Windows backend's files share among themselves.
#pragma once

// The window saw WM_DEVICECHANGE: MIDI devices may have come or gone.
void win32MidiDevicesChanged(void);
