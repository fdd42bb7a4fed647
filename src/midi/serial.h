// Serial MIDI outputs: raw MIDI bytes on a COM port at 38400 baud.
#pragma once

#include <cstdint>

enum { kSerialQueueSize = 16384 };  // bytes a serial output keeps waiting for its port

// Opens COM<number> (1..99) for output entry k and configures it; 0 or -1.
// The first port opened registers closeAllSerialPorts as an exit handler.
int openSerialPort(int k, int number);
// Sends count bytes to the port of output k without waiting: what the port
// takes at once is written, the rest waits in the port's queue (kSerialQueueSize
// bytes), which the port's writer thread empties. 0 when every byte was
// written or queued; -1 when the port is not open, a write fails, or the
// queue has no room for the rest (nothing of the rest is queued then).
// The caller holds the output's lock.
int writeSerial(int k, const uint8_t* bytes, int count);
// True once when bytes queued for output k were lost since the last call (a
// write of the writer thread failed): the receiver's running status is
// unknown, and the next message must carry its status byte.
bool serialBytesLost(int k);
// Waits until the queue of output k is empty (at most about a second per
// write the writer thread has to make).
void drainSerial(int k);
// Closes the port of output k when it is open, after the writer thread has
// written what is queued (or given up on it).
void closeSerialPort(int k);
// Exit handler: pauses 500 ms, then closes every open serial port.
void closeAllSerialPorts(void);

// Device name of COM<number>: "COM1".."COM9", "\\.\COM10".."\\.\COM99".
// size must hold 10 bytes. Returns 0, or -1 for a number outside 1..99.
int serialDeviceName(char* name, int size, int number);

// Start value: closeAllSerialPorts not registered; writer threads of ports
// still open are stopped first.
void resetSerialState(void);
