// POSIX file channels with emulated Windows share modes, directory search and
// the UTF-8 forms of wide names.
#include "platform/posix/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Windows error codes that the diagnostics name.
enum { kErrFileNotFound = 2, kErrPathNotFound = 3, kErrAccessDenied = 5, kErrSharingViolation = 32,
       kErrGeneral = 31 };

struct OpenFile {
  int fd;          // host descriptor; -1 = free slot
  dev_t device;    // identity of the file, to find other openers
  ino_t inode;
  OsFileMode mode; // read or write access
  int shareRead;   // other openers may read
};

constexpr int kMaxOpen = 64;
OpenFile openFiles[kMaxOpen] = {};
bool openFilesReady = false;
std::mutex openFilesLock;
thread_local int lastError = 0;

int errorFromErrno(int e) {
  switch (e) {
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrAccessDenied;
    default: return kErrGeneral;
  }
}

void prepareTable() {
  if (openFilesReady) return;
  for (OpenFile& f : openFiles) f.fd = -1;
  openFilesReady = true;
}

// Windows rule: a new opener must allow every existing access, and every
// existing opener must allow the new access.
bool shareAllows(const OpenFile& held, OsFileMode mode, int shareRead) {
  bool heldAllowsNew = mode == OS_FILE_READ && held.shareRead;
  bool newAllowsHeld = held.mode == OS_FILE_READ && shareRead;
  return heldAllowsNew && newAllowsHeld;
}

}  // namespace

int posixLastError(void) { return lastError; }
void posixSetLastError(int code) { lastError = code; }

OsFile posixFileOpen(const char* hostPath, OsFileMode mode, int shareRead) {
  // Writes open without truncating first, so that a sharing conflict leaves
  // the file as it was; the truncation follows once the open is allowed.
  int flags = mode == OS_FILE_WRITE ? (O_WRONLY | O_CREAT) : O_RDONLY;
  int fd = ::open(hostPath, flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    lastError = errorFromErrno(errno);
    return 0;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    lastError = kErrAccessDenied;
    ::close(fd);
    return 0;
  }
  std::lock_guard<std::mutex> guard(openFilesLock);
  prepareTable();
  int freeSlot = -1;
  for (int i = 0; i < kMaxOpen; i++) {
    const OpenFile& f = openFiles[i];
    if (f.fd < 0) {
      if (freeSlot < 0) freeSlot = i;
      continue;
    }
    if (f.device == st.st_dev && f.inode == st.st_ino && !shareAllows(f, mode, shareRead)) {
      lastError = kErrSharingViolation;
      ::close(fd);
      return 0;
    }
  }
  if (freeSlot < 0 || (mode == OS_FILE_WRITE && ::ftruncate(fd, 0) != 0)) {
    lastError = kErrGeneral;
    ::close(fd);
    return 0;
  }
  openFiles[freeSlot] = OpenFile{fd, st.st_dev, st.st_ino, mode, shareRead};
  return freeSlot + 1;
}

static int descriptorOf(OsFile file) {
  if (file < 1 || file > kMaxOpen) return -1;
  std::lock_guard<std::mutex> guard(openFilesLock);
  return openFilesReady ? openFiles[file - 1].fd : -1;
}

int posixFileRead(OsFile file, void* buffer, int size) {
  int fd = descriptorOf(file);
  if (fd < 0) {
    lastError = 6;  // invalid handle
    return -1;
  }
  for (;;) {
    ssize_t got = ::read(fd, buffer, static_cast<size_t>(size));
    if (got >= 0) return static_cast<int>(got);
    if (errno != EINTR) {
      lastError = errorFromErrno(errno);
      return -1;
    }
  }
}

int posixFileWrite(OsFile file, const void* buffer, int size) {
  int fd = descriptorOf(file);
  if (fd < 0) {
    lastError = 6;
    return -1;
  }
  const char* bytes = static_cast<const char*>(buffer);
  int done = 0;
  while (done < size) {
    ssize_t put = ::write(fd, bytes + done, static_cast<size_t>(size - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      lastError = errorFromErrno(errno);
      return done > 0 ? done : -1;
    }
    done += static_cast<int>(put);
  }
  return done;
}

int posixFileClose(OsFile file) {
  if (file < 1 || file > kMaxOpen) return -1;
  std::lock_guard<std::mutex> guard(openFilesLock);
  if (!openFilesReady || openFiles[file - 1].fd < 0) return -1;
  int rc = ::close(openFiles[file - 1].fd);
  openFiles[file - 1].fd = -1;
  return rc == 0 ? 0 : -1;
}

namespace {

struct Search {
  std::vector<std::string> names;  // matches in name order
  std::vector<bool> directories;   // whether each match is a directory
  size_t next = 0;                 // index of the match osFindNext hands out
};

int handOut(Search* s, char* name, int size, int* isDirectory) {
  if (s->next >= s->names.size()) return -1;
  if (size > 0) {
    size_t n = std::min(s->names[s->next].size(), static_cast<size_t>(size - 1));
    std::memcpy(name, s->names[s->next].data(), n);
    name[n] = 0;
  }
  if (isDirectory) *isDirectory = s->directories[s->next] ? 1 : 0;
  s->next++;
  return 0;
}

}  // namespace

OsFind posixFindFirst(const char* hostPattern, char* name, int size, int* isDirectory) {
  if (size > 0) name[0] = 0;
  std::string pattern(hostPattern);
  size_t slash = pattern.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : pattern.substr(0, slash));
  std::string leaf = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  if (leaf.empty()) {
    lastError = kErrFileNotFound;
    return 0;
  }
  DIR* d = ::opendir(dir.c_str());
  if (!d) {
    lastError = errorFromErrno(errno);
    return 0;
  }
  std::vector<std::string> found;
  while (struct dirent* e = ::readdir(d)) {
    if (::fnmatch(leaf.c_str(), e->d_name, 0) == 0) found.emplace_back(e->d_name);
  }
  ::closedir(d);
  if (found.empty()) {
    lastError = kErrFileNotFound;
    return 0;
  }
  std::sort(found.begin(), found.end());
  Search* s = new Search;
  for (const std::string& f : found) {
    struct stat st;
    std::string full = dir + "/" + f;
    s->names.push_back(f);
    s->directories.push_back(::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
  }
  handOut(s, name, size, isDirectory);
  return reinterpret_cast<OsFind>(s);
}

int posixFindNext(OsFind search, char* name, int size, int* isDirectory) {
  if (!search) return -1;
  int rc = handOut(reinterpret_cast<Search*>(search), name, size, isDirectory);
  if (rc != 0) lastError = 18;  // no more files
  return rc;
}

void posixFindClose(OsFind search) { delete reinterpret_cast<Search*>(search); }

int posixMakeDirectories(const char* hostPath) {
  std::string path = hostPath;
  for (size_t at = 1; at <= path.size(); at++) {
    if (at < path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      lastError = errorFromErrno(errno);
      return -1;
    }
  }
  struct stat st;
  return ::stat(hostPath, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

int utf16ToUtf8(char* destination, int capacity, const char16_t* source) {
  int out = 0;
  auto put = [&](unsigned char b) {
    if (out < capacity - 1) destination[out++] = static_cast<char>(b);
  };
  for (int i = 0; source[i]; i++) {
    uint32_t cp = source[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && source[i + 1] >= 0xDC00 && source[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (source[i + 1] - 0xDC00);
      i++;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    // A character that does not fit whole is left out, with all after it.
    int need = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    if (out + need > capacity - 1) break;
    if (need == 1) {
      put(static_cast<unsigned char>(cp));
    } else if (need == 2) {
      put(0xC0 | (cp >> 6));
      put(0x80 | (cp & 0x3F));
    } else if (need == 3) {
      put(0xE0 | (cp >> 12));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    } else {
      put(0xF0 | (cp >> 18));
      put(0x80 | ((cp >> 12) & 0x3F));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    }
  }
  if (capacity > 0) destination[out] = 0;
  return out;
}

int utf8ToUtf16(char16_t* destination, int capacity, const char* source) {
  int out = 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
  while (*s) {
    uint32_t cp;
    int extra;
    if (*s < 0x80) { cp = *s; extra = 0; }
    else if ((*s & 0xE0) == 0xC0) { cp = *s & 0x1F; extra = 1; }
    else if ((*s & 0xF0) == 0xE0) { cp = *s & 0x0F; extra = 2; }
    else if ((*s & 0xF8) == 0xF0) { cp = *s & 0x07; extra = 3; }
    else { cp = 0xFFFD; extra = 0; }
    s++;
    for (int k = 0; k < extra; k++) {
      if ((*s & 0xC0) != 0x80) { cp = 0xFFFD; break; }
      cp = (cp << 6) | (*s++ & 0x3F);
    }
    int need = cp >= 0x10000 ? 2 : 1;
    if (out + need > capacity - 1) break;
    if (need == 2) {
      cp -= 0x10000;
      destination[out++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      destination[out++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      destination[out++] = static_cast<char16_t>(cp);
    }
  }
  if (capacity > 0) destination[out] = 0;
  return out;
}
