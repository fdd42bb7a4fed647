// Buffered byte channels: one reader with a one-byte look-ahead and
// one writer, each with one file open at most. Both open a file by its narrow
// name (the C-library back-end) or its wide name (the Windows back-end) through
// the platform file services; both back-ends move the bytes through the
// channel's own 4096-byte buffer, so they give and take the same bytes.
#include "support/file_io.h"

#include "support/exit.h"
#include "support/log.h"
#include "support/os_files.h"

namespace {

constexpr int kBlockSize = 4096;

// Which open made the channel's file: the narrow name (C-library stream) or
// the wide name (Windows file handle). Only the diagnostics depend on it.
enum Backend : unsigned char { BACKEND_NONE = 0, BACKEND_STREAM = 1, BACKEND_HANDLE = 2 };

struct WriterState {
  Backend backend;                   // chosen by the last successful open
  OsFile file;                       // 0 = none
  unsigned char buffer[kBlockSize];  // bytes not yet written
  int fill;                          // number of bytes in buffer
  unsigned char closed;              // 255: every write fails at once
};

struct ReaderState {
  Backend backend;                  // chosen by the last successful open
  OsFile file;                      // 0 = none
  unsigned char open;               // 255 while a file is open
  unsigned char block[kBlockSize];  // the block being handed out
  int position;                     // next byte of block to become the look-ahead
  int count;                        // valid bytes in block
  int lookahead;                    // next byte 0..255, or -1 at the end
};

WriterState writer = {BACKEND_NONE, 0, {}, 0, 255};
ReaderState reader = {BACKEND_NONE, 0, 0, {}, 0, 0, -1};
unsigned char exitHandlerRegistered = 0;  // rfclose is on the exit-handler list

// ---------------------------------------------------------------------------
// Reader

// The byte after the look-ahead: from the block, or from the next block read
// when this one is used up. A failing read is the end, as is a read that gives
// no bytes.
int nextByte() {
  if (reader.position < reader.count) return reader.block[reader.position++];
  int got = osFileRead(reader.file, reader.block, kBlockSize);
  if (got <= 0) {
    reader.position = 0;
    reader.count = 0;
    return -1;
  }
  reader.count = got > kBlockSize ? kBlockSize : got;
  reader.position = 1;
  return reader.block[0];
}

// Takes over a freshly opened file: the first block and its first byte.
int startReading(OsFile file, Backend backend) {
  reader.backend = backend;
  reader.file = file;
  reader.open = 255;
  reader.position = 0;
  reader.count = 0;
  reader.lookahead = nextByte();
  // Editors that save UTF-8 may put a byte-order mark first; it is no part
  // of the text, and left in it would spoil the first option.
  if (reader.lookahead == 0xEF && reader.count >= 3 && reader.block[1] == 0xBB && reader.block[2] == 0xBF) {
    reader.position = 3;
    reader.lookahead = nextByte();
  }
  if (!exitHandlerRegistered) {
    registerExitHandler(rfclose);
    exitHandlerRegistered = 255;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Writer

// Closes the writer's file after a failure: the buffered bytes are lost.
int failWriter() {
  if (writer.file != 0) osFileClose(writer.file);
  writer.file = 0;
  writer.fill = 0;
  writer.closed = 255;
  return -1;
}

// Writes the buffered bytes with one call and empties the buffer.
int writeBuffer() {
  if (writer.fill == 0) return 0;
  int put = osFileWrite(writer.file, writer.buffer, writer.fill);
  if (put < 0) {
    log("File writing error.(or Disk full)");
    return failWriter();
  }
  if (put != writer.fill) return failWriter();  // short write: no diagnostic
  writer.fill = 0;
  return 0;
}

// Takes over a freshly opened file with an empty buffer.
int startWriting(OsFile file, Backend backend) {
  writer.backend = backend;
  writer.file = file;
  writer.fill = 0;
  writer.closed = 0;
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Reader interface

int rfopen(const char* name) {
  rfclose();  // one file at most: a file still open is closed first
  OsFile file = osFileOpen(name, OS_FILE_READ);
  if (file == 0) return -1;
  return startReading(file, BACKEND_STREAM);
}

int rfwopen(const char16_t* name) {
  rfclose();
  OsFile file = osFileOpenW(name, OS_FILE_READ);
  if (file == 0) return -1;
  return startReading(file, BACKEND_HANDLE);
}

int rfpeek(void) { return reader.lookahead; }

int rfgetc(void) {
  int c = reader.lookahead;
  if (c < 0) return -1;  // the end is sticky: nothing is read any more
  reader.lookahead = nextByte();
  return c;
}

void rfclose(void) {
  if (!reader.open) return;
  osFileClose(reader.file);
  reader.file = 0;  // also when the system refused: the handle is of no further use
  reader.open = 0;
  reader.position = 0;
  reader.count = 0;
  reader.lookahead = -1;
}

// ---------------------------------------------------------------------------
// Writer interface

int wfopen(const char* name) {
  wfclose();  // one file at most: a file still open is flushed and closed first
  OsFile file = osFileOpen(name, OS_FILE_WRITE);
  if (file == 0) {
    log("Cannot open WR file : %s", name);
    return -1;
  }
  return startWriting(file, BACKEND_STREAM);
}

int wfwopen(const char16_t* name) {
  wfclose();
  OsFile file = osFileOpenW(name, OS_FILE_WRITE);
  if (file == 0) {
    log("Could not open (WR)(code=%d).", osLastError());
    return -1;
  }
  return startWriting(file, BACKEND_HANDLE);
}

int wfputc(int byte) {
  if (writer.closed) return -1;
  writer.buffer[writer.fill++] = static_cast<unsigned char>(byte);
  if (writer.fill == kBlockSize) return writeBuffer();
  return 0;
}

int wfputs(const char* text) {
  if (text == nullptr) return writer.closed ? -1 : 0;
  for (int i = 0; i < 513; i++) {
    if (text[i] == 0) return 0;
    if (writer.closed) return -1;
    if (wfputc(static_cast<unsigned char>(text[i])) != 0) return -1;
  }
  return 1;  // cut after the 513th byte
}

int wfflush(void) {
  if (writer.closed) return 0;
  return writeBuffer();
}

int wfclose(void) {
  if (writer.closed) return 0;
  if (writeBuffer() != 0) return -1;  // the failure has closed the file already
  int rc = osFileClose(writer.file);
  writer.file = 0;  // also when the system refused: the handle is of no further use
  writer.fill = 0;
  writer.closed = 255;
  return rc == 0 ? 0 : -1;
}

// ---------------------------------------------------------------------------

void resetFileChannels(void) {
  rfclose();
  // The writer's file is closed without writing what is buffered.
  if (writer.file != 0) osFileClose(writer.file);
  writer.backend = BACKEND_NONE;
  writer.file = 0;
  writer.fill = 0;
  writer.closed = 255;
  reader.backend = BACKEND_NONE;
  reader.file = 0;
  reader.open = 0;
  reader.position = 0;
  reader.count = 0;
  reader.lookahead = -1;
  exitHandlerRegistered = 0;
}
