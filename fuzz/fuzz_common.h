// Shared pieces of the fuzz targets: a scratch directory on a memory file
// system that the sim platform names in its Windows form, the writing of one
// input as a file there, a stable hash of an input for the choices a target
// makes from it, and the check that stops a run on a broken promise.
#pragma once

#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// Stops the run with a report when a promise of the code under test is broken.
// The report goes where the sanitizers report (standard error is closed while
// the fuzzer runs); the abort gives the fuzzer its reproducer and stack.
#define FUZZ_CHECK(condition)                                                                    \
  do {                                                                                           \
    if (!(condition)) {                                                                          \
      __sanitizer_report_error_summary(__FILE__ ":" FUZZ_LINE_TEXT(__LINE__) ": check failed: " #condition); \
      std::abort();                                                                              \
    }                                                                                            \
  } while (0)
#define FUZZ_LINE_TEXT(line) FUZZ_LINE_TEXT2(line)
#define FUZZ_LINE_TEXT2(line) #line

// The program's diagnostics go to standard error in the fuzz build, one
// write each while it is unbuffered: buffer it (the runs close it anyway).
inline const bool diagnosticsBuffered = std::setvbuf(stderr, nullptr, _IOFBF, 1 << 16) == 0;

// The scratch directory, host form ("/dev/shm/notalumen-fuzz-xxxxxx"), made on
// first use (under NOTALUMEN_FUZZ_TMP when set) and removed when the process
// ends normally. The process works in it, so a relative name found in an
// input stays inside it.
inline const std::string& hostDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("NOTALUMEN_FUZZ_TMP");
    if (base == nullptr) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/notalumen-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    static std::string removal = "rm -rf '" + pattern + "'";
    std::atexit([] {
      if (std::system(removal.c_str()) != 0) std::fprintf(stderr, "could not remove the scratch directory\n");
    });
    if (chdir(pattern.c_str()) != 0) std::abort();
    return pattern;
  }();
  return dir;
}

// The scratch directory as the program names it, ending with a separator:
// "\dev\shm\notalumen-fuzz-xxxxxx\".
inline std::string simDir() {
  std::string d = hostDir() + "/";
  for (char& c : d) {
    if (c == '/') c = '\\';
  }
  return d;
}

inline std::u16string simDirW() {
  const std::string d = simDir();
  return std::u16string(d.begin(), d.end());
}

// Writes the bytes as the file name in the scratch directory (replacing it).
inline void writeFile(const char* name, const uint8_t* data, size_t size) {
  const std::string path = hostDir() + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::abort();
  }
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

// Code units before the terminating 0 of a wide string.
inline int unitLength(const char16_t* text) { return static_cast<int>(std::char_traits<char16_t>::length(text)); }

inline void removeFile(const char* name) { std::remove((hostDir() + "/" + name).c_str()); }

// FNV-1a over the input: the same input always makes the same choices.
inline uint32_t hashOf(const uint8_t* data, size_t size) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < size; i++) h = (h ^ data[i]) * 16777619u;
  return h;
}

// Reads the input from the front, byte by byte; zeros once it is used up.
struct Bytes {
  const uint8_t* data;  // the input
  size_t size;          // its length
  size_t at;            // next byte to hand out

  bool empty() const { return at >= size; }
  int byte() { return at < size ? data[at++] : 0; }
  int word16() { return byte() | byte() << 8; }
  size_t left() const { return at < size ? size - at : 0; }
};

}  // namespace fuzz
