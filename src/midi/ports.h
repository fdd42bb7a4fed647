// The sixteen logical inputs and outputs: what the settings configure and,
// once opened, the handles, buffers and running status of each.
#pragma once

#include <cstdint>

typedef intptr_t MidiHandle;  // opaque device handle of the platform; 0 = none
typedef intptr_t SerialHandle;  // opaque serial channel; 0 = none

// Long-message header: a buffer that the device owns while a message is queued.
struct MidiHeader {
  uint8_t* data;           // port-owned buffer, 8192 bytes once the port is open
  uint32_t bufferLength;   // bytes of the buffer in use for this message
  uint32_t bytesRecorded;  // bytes the device filled in (input)
  uint32_t flags;          // done bit and the like, as the device reports them
};

enum { kPortCount = 16, kPortNameSize = 128, kMidiBufferSize = 8192 };

struct InPort {
  char name[kPortNameSize];  // configured device name
  uint8_t configured;        // 255 when the settings configure this input
  int32_t deviceId;          // device index; -1 = virtual input
  int8_t channel;            // channel assignment 0..15
  uint8_t failed;            // 255 until opened (or virtual)
  MidiHandle handle;         // open device, 0 = none
  MidiHeader header;         // receive header with its buffer
  MidiHeader spareHeader;    // second receive header, queued beside header
  int32_t prepared;          // preparations not yet undone (0 or 1)
  int32_t runningStatus;     // last status byte received
  uint8_t closing;           // 255 once closing began: buffers are not queued again
  uint8_t follow;            // 255: a device input, opened again when its device comes back
  char openName[32];         // name of the device it is open on; "" = not open on a device
};

struct OutPort {
  char name[kPortNameSize];  // configured device name
  uint8_t configured;        // 255 when the settings configure this output
  int32_t comPort;           // serial port number 1..99; 0 = not serial
  int32_t deviceId;          // device index; -1 = the MIDI mapper
  uint8_t noOutput;          // 255: opened, but routing sends nothing
  uint8_t failed;            // 255 until opened
  uint8_t disabled;          // 255 while not open: sends do nothing
  int32_t openComPort;       // serial port it was opened on, 0 = device
  int32_t openDeviceId;      // device index it was opened with
  uint8_t follow;            // 255: a device output, opened again when its device comes back
  char openName[32];         // name of the device it is open on; "" = not open on a device
  MidiHandle handle;         // open device, 0 = none
  SerialHandle serialHandle; // open serial channel, 0 = none
  uint8_t serialOpen;        // 255 while serialHandle is open
  int32_t lastStatus;        // running status sent; -1 = none
  MidiHeader header;         // long-message header with its buffer
  int32_t prepared;          // preparations not yet undone (0 or 1)
  MidiHeader spareHeader;    // second long-message header, for sends that may not wait
  int32_t sparePrepared;     // preparations of spareHeader not yet undone (0 or 1)
};

extern InPort inPorts[kPortCount];
extern OutPort outPorts[kPortCount];
extern int outPortCount;  // OUT1..OUTn are handled
extern int inPortCount;   // IN1..INm are handled

// Start values of both tables and the counts. Any buffer still held is
// released first.
void resetPortTables(void);

// The input entry 0..m-1 whose handle is handle; -1 when none is.
int findInputByHandle(MidiHandle handle);

// Input k (0..15) is being closed: from now on a receive buffer that comes
// back is not queued again. The closing code calls it before resetting the
// input, so the reset can hand every buffer back for good.
void markInputClosing(int k);
// True once markInputClosing(k) ran (read on the MIDI callback thread).
bool inputClosing(int k);
