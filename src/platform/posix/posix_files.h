// POSIX file channels and directory search shared by the desktop and sim
// backends, with Windows-style share modes kept in a process-wide table so
// that a file held by the reader cannot be truncated by the writer.
#pragma once

#include "support/os_files.h"

// Opens a host path. shareRead: other openers may read (the narrow reader's
// mode); otherwise the channel shares nothing. Returns 0 on failure.
OsFile posixFileOpen(const char* hostPath, OsFileMode mode, int shareRead);
int posixFileRead(OsFile file, void* buffer, int size);
int posixFileWrite(OsFile file, const void* buffer, int size);
int posixFileClose(OsFile file);
int posixLastError(void);
void posixSetLastError(int code);

// Directory search over a host pattern whose last part may hold * and ?.
// Matches come in name order, "." and ".." included as Windows lists them.
OsFind posixFindFirst(const char* hostPattern, char* name, int size, int* isDirectory);
int posixFindNext(OsFind search, char* name, int size, int* isDirectory);
void posixFindClose(OsFind search);

// Creates a host directory and the missing ones above it; 0 when it exists
// afterwards.
int posixMakeDirectories(const char* hostPath);

// UTF-16 <-> UTF-8 for host names; the result is cut to capacity and always
// terminated. Unpaired surrogates become U+FFFD.
int utf16ToUtf8(char* destination, int capacity, const char16_t* source);
int utf8ToUtf16(char16_t* destination, int capacity, const char* source);
