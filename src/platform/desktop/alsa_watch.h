// ALSA: the backend's watch on the sequencer's announce port, the ALSA side
// of what our JACK client's registration callbacks tell. Table lock held.
#pragma once

// Opens the watching sequencer client (nothing when the sequencer does not open).
void alsaWatchOpen(const char* clientName);
void alsaWatchClose(void);
// Whether clients or ports came, went or changed since the last call; never waits.
bool alsaWatchHeard(void);
