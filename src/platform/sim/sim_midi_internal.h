// Inner parts of the sim MIDI machine shared by its files: the scripted
// devices and serial ports under one lock, the short-send slots read without
// it, and the helpers the scripting calls and the services share. Not for the
// core.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "midi/os_midi.h"

namespace sim_midi {

// System error codes of the serial services (values of the Windows API).
enum {
  kErrFileNotFound = 2,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrWriteFault = 29,
  kErrInvalidName = 123,
  kErrCounterTimeout = 1121
};

struct SimOutDevice {
  std::string name;                     // reported name (cut to 31 bytes when queried)
  int manufacturer = 0;                 // wMid
  uint32_t driverVersion = 0;           // major high byte, minor low byte
  int capsFailure = 0;                  // result of every capability query, 0 = answers
  int openFailure = 0;                  // result of every open, 0 = opens
  std::vector<SimMidiOutEvent> events;  // what it received, in order
};

struct SimOutOpen {
  MidiHandle handle;  // handle given out
  int device;         // device index, kMidiMapper for the mapper
};

// What a device took from a header when it was prepared (outputs) or queued
// (inputs): later changes of its length do not reach the device.
struct SimHeaderUse {
  MidiHeader* header;  // the caller's header
  uint32_t length;     // its buffer length at that moment
};

struct SimHeldLong {
  MidiHeader* header;  // header the device owns until finished
  MidiHandle handle;   // output it was sent to
};

struct SimInDevice {
  std::string name;                // reported name
  int manufacturer = 0;            // wMid
  uint32_t driverVersion = 0;      // major high byte, minor low byte
  int capsFailure = 0;             // result of every capability query, 0 = answers
  int openFailure = 0;             // result of every open, 0 = opens
  MidiHandle handle = 0;           // open handle, 0 = closed
  MidiInCallback callback = nullptr;  // callback given at open
  uintptr_t instance = 0;          // instance value given at open
  bool started = false;            // between start and reset or close
  std::deque<SimHeaderUse> queue;  // buffers added and not yet returned, oldest first
  int delivering = 0;              // callbacks of this input now running
};

struct SimSerialPort {
  int number = 0;                  // n of COMn
  bool busy = false;               // held by another program
  SerialHandle handle = 0;         // open channel, 0 = closed
  int configureStep = 0;           // step at which configuring fails, 0 = never
  int configureCode = 0;           // system error of that failure
  int failWrites = 0;              // writes still to fail
  int partialWrites = 0;           // writes still to cut to half
  bool stalled = false;            // takes no bytes (a device that stopped reading)
  std::vector<uint8_t> bytes;      // everything written, in order
};

struct SimMidiMachine {
  std::vector<SimInDevice> ins;       // input devices in index order
  std::vector<SimOutDevice> outs;     // output devices in index order
  SimOutDevice mapper;                // the MIDI mapper (exists while outs is not empty)
  std::vector<SimOutOpen> openOuts;   // open output handles
  std::vector<SimHeaderUse> prepared; // output headers prepared, with their lengths
  std::vector<SimHeldLong> held;      // long messages still playing
  bool holdLongs = false;             // sent long messages stay playing
  int failShort = 0, failShortCode = 0;      // scripted short-send faults
  int failPrepare = 0, failPrepareCode = 0;  // scripted output-prepare faults
  int failLong = 0, failLongCode = 0;        // scripted long-send faults
  std::vector<std::string> calls;     // every service call, in order
  std::vector<SimSerialPort> serials; // serial ports of the machine
  intptr_t nextHandle = 0x1000;       // next handle value to give out
  bool recordOutput = true;           // outputs record what they receive (simRecordMidiOutput)
};

// A callback to run once the lock is released.
struct Delivery {
  MidiInCallback callback;  // 0: the input was opened without one
  MidiHandle handle;        // input's handle
  uintptr_t instance;       // instance value given at open
  int device;               // input device index
};

extern std::mutex machineLock;              // guards machine; never held while a callback runs
extern std::condition_variable inputIdle;   // signalled when a delivery ends
extern std::atomic<uint32_t> deviceGeneration;  // changes as devices are added and removed
extern std::condition_variable serialUnstalled;  // signalled when a stalled serial port takes bytes again
extern SimMidiMachine machine;
// Short sends while nothing is recorded and no fault is scripted do not take
// machineLock: an output's handle found in its slot is answered at once, as a
// device driver takes a short message without a machine-wide lock. Anything
// else (recording on, a fault scripted, a handle not in its slot) takes the
// locked way. The slots and the switch are written under machineLock.
constexpr int kQuickSlots = 64;
extern std::atomic<MidiHandle> quickOutSlots[kQuickSlots];
extern std::atomic<bool> quickSends;
extern thread_local int deliveryDepth;  // callbacks running on this thread
extern thread_local int serialError;    // error of this thread's last failed serial write

std::atomic<MidiHandle>& quickSlot(MidiHandle handle);
void updateQuickSends();
MidiHandle newHandle();
void note(const char* call, const std::string& argument);
void note(const char* call, int index);
std::string comName(int number);
SimOutDevice* outDevice(int index);
SimOutOpen* openOut(MidiHandle handle);
SimOutOpen* findOut(const char* call, MidiHandle handle);
int inIndexOf(MidiHandle handle);
int findIn(const char* call, MidiHandle handle);
SimSerialPort* serialPort(int number);
SimSerialPort* serialByHandle(SerialHandle handle);
bool takeFault(int& counter);
Delivery beginDelivery(int i);
void deliver(const Delivery& d, unsigned message, uintptr_t param1, uintptr_t param2);
void endDelivery(const Delivery& d);
int waitInputIdle(std::unique_lock<std::mutex>& lock, MidiHandle handle);
int messageLength(uint8_t status);
MidiHeader* fillFirstBuffer(int i, const uint8_t* bytes, int count, int* used);
void forgetPrepared(const MidiHeader* header);
uint32_t preparedLength(const MidiHeader* header);
bool inputLive(int index);

}  // namespace sim_midi
