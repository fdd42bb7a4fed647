// Serial MIDI outputs: raw MIDI bytes on a COM port at 38400 baud.
#pragma once

#include <cstdint>

// Opens COM<number> (1..99) for output entry k and configures it; 0 or -1.
// The first port opened registers closeAllSerialPorts as an exit handler.
int openSerialPort(int k, int number);
// Writes count bytes to the port of output k in one write; 0 when all bytes
// were written, -1 otherwise (also when the port is not open).
int writeSerial(int k, const uint8_t* bytes, int count);
// Closes the port of output k when it is open.
void closeSerialPort(int k);
// Exit handler: pauses 500 ms, then closes every open serial port.
void closeAllSerialPorts(void);

// Device name of COM<number>: "COM1".."COM9", "\\.\COM10".."\\.\COM99".
// size must hold 10 bytes. Returns 0, or -1 for a number outside 1..99.
int serialDeviceName(char* name, int size, int number);

// Start value: closeAllSerialPorts not registered.
void resetSerialState(void);
