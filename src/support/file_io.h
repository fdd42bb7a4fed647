// Buffered byte channels for the text files: one reader with a one-byte
// look-ahead, one writer with a 4096-byte buffer. Each opens a file by its
// narrow or by its wide name; both give the same bytes. Each channel has one
// file open at most: an open first closes the channel's file still open.
#pragma once

// Reader. Opens return 0, or -1 when the file cannot be opened (no diagnostic).
// The first successful open since the start (or resetFileChannels) registers
// rfclose as an exit handler. Files are read in blocks of 4096 bytes; a failing
// read is taken as the end of the file. A UTF-8 byte-order mark (EF BB BF) at
// the very start is skipped.
int rfopen(const char* name);
int rfwopen(const char16_t* name);
int rfpeek(void);   // the next byte 0..255 without consuming it; -1 at the end
int rfgetc(void);   // consumes and returns the next byte; -1 at the end (sticky)
void rfclose(void); // closes the open file; nothing open: does nothing

// Writer. All return 0 for success and -1 for failure unless said otherwise.
// Bytes are written in blocks of 4096. A failing or short write closes the
// file at once (the buffered bytes are lost); from then on, as before the first
// open, every write returns -1 and wfclose does nothing.
int wfopen(const char* name);
int wfwopen(const char16_t* name);
int wfputc(int byte);
int wfputs(const char* text);  // 1 when cut after its 513th byte
int wfflush(void);             // writes the buffered bytes (both back-ends)
int wfclose(void);             // flushes and closes; closed already: 0

// Start values: nothing open, the writer closed, the exit handler unregistered.
// A file still open is closed; the writer's buffered bytes are dropped.
void resetFileChannels(void);
