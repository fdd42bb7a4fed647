// Wide-string and path helpers for building file names.
//
// Every destination comes with its capacity; a result that does not fit is
// cut to capacity - 1 units at a character boundary (a double-byte character
// of the ANSI code page or a UTF-16 surrogate pair is never split) and is
// always terminated.
#include "support/paths.h"

#include <cstring>

#include "support/os_files.h"

namespace {

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Copies the first length units of source (which holds at least that many),
// cut to fit capacity; returns the units stored without the terminator.
int copyWide(char16_t* destination, int capacity, const char16_t* source, int length) {
  int count = length < capacity - 1 ? length : capacity - 1;
  if (count < length && count > 0 && isHighSurrogate(source[count - 1]) &&
      isLowSurrogate(source[count])) {
    --count;  // do not keep half a pair
  }
  for (int i = 0; i < count; ++i) destination[i] = source[i];
  destination[count] = 0;
  return count;
}

// The byte length of the character at text[0] (text not empty): 2 for a lead
// byte with a trail byte before the terminator, else 1.
int narrowCharLength(const char* text) {
  return osIsLeadByte(static_cast<unsigned char>(text[0])) && text[1] != 0 ? 2 : 1;
}

// Copies the first length bytes of source by whole characters while they fit
// in capacity; returns the bytes stored without the terminator.
int copyNarrow(char* destination, int capacity, const char* source, int length) {
  int count = 0;
  while (count < length) {
    int size = narrowCharLength(source + count);
    if (count + size > length) size = length - count;
    if (count + size > capacity - 1) break;
    for (int i = 0; i < size; ++i) destination[count + i] = source[count + i];
    count += size;
  }
  destination[count] = 0;
  return count;
}

}  // namespace

int wstrlength(const char16_t* text) {
  int length = 0;
  if (text != nullptr) {
    while (text[length] != 0) ++length;
  }
  return length;
}

int wstrcopy(char16_t* destination, int capacity, const char16_t* source) {
  if (destination == nullptr || capacity < 1) return 0;
  if (source == nullptr) {
    destination[0] = 0;
    return 0;
  }
  return copyWide(destination, capacity, source, wstrlength(source));
}

int wstrappend(char16_t* destination, int capacity, const char16_t* source) {
  if (destination == nullptr || capacity < 1) return 0;
  int end = 0;
  while (end < capacity && destination[end] != 0) ++end;
  if (end == capacity) {  // no terminator inside the capacity: make one, add nothing
    destination[capacity - 1] = 0;
    return 0;
  }
  if (source == nullptr) return 0;
  return copyWide(destination + end, capacity - end, source, wstrlength(source));
}

int dirPartW(char16_t* destination, int capacity, const char16_t* path) {
  if (destination == nullptr || capacity < 1) return 0;
  const char16_t separator = static_cast<unsigned char>(osPathSeparator());
  int end = 0;  // length up to and including the last separator
  if (path != nullptr) {
    for (int i = 0; path[i] != 0; ++i) {
      if (path[i] == separator) end = i + 1;
    }
  }
  return copyWide(destination, capacity, path, end);
}

int dirPart(char* destination, int capacity, const char* path) {
  if (destination == nullptr || capacity < 1) return 0;
  const char separator = osPathSeparator();
  int end = 0;
  if (path != nullptr) {
    for (int i = 0; path[i] != 0;) {
      const int size = narrowCharLength(path + i);
      if (size == 1 && path[i] == separator) end = i + 1;
      i += size;
    }
  }
  return copyNarrow(destination, capacity, path, end);
}

int extPart(char* destination, int capacity, const char* path) {
  if (destination == nullptr || capacity < 1) return 0;
  int dot = -1;
  int length = 0;
  if (path != nullptr) {
    while (path[length] != 0) {
      const int size = narrowCharLength(path + length);
      if (size == 1 && path[length] == '.') dot = length;
      length += size;
    }
  }
  if (dot < 0) {
    destination[0] = 0;
    return 0;
  }
  return copyNarrow(destination, capacity, path + dot, length - dot);
}

int findFileName(char* destination, int capacity, const char* pattern) {
  if (destination == nullptr || capacity < 1) return -1;
  destination[0] = 0;
  if (pattern == nullptr) return -1;
  char name[1024];  // any file name of the system fits
  int isDirectory = 0;
  const OsFind search = osFindFirst(pattern, name, sizeof name, &isDirectory);
  if (search == 0) return -1;
  int result = 0;
  if (isDirectory) {
    if (osFindNext(search, name, sizeof name, &isDirectory) != 0) {
      result = -1;  // the only match is a directory
    } else if (isDirectory) {
      result = -2;  // the first two matches are directories
    }
  }
  if (result == 0) copyNarrow(destination, capacity, name, static_cast<int>(std::strlen(name)));
  osFindClose(search);
  return result;
}
