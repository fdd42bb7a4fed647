// Test fixture on the sim platform: a fresh machine, every table at its start
// value, and a scratch directory named both as a host path and in the
// program's own (Windows-style) form.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/reset.h"
#include "state/globals.h"
#include "platform/sim/sim.h"

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simReset();
    resetGlobalState();
    std::string pattern = (std::filesystem::temp_directory_path() / "notalumen-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    ASSERT_NE(made, nullptr);
    hostDir = made;
  }
  void TearDown() override {
    resetGlobalState();
    std::error_code ignored;
    std::filesystem::remove_all(hostDir, ignored);
  }

  // The scratch directory as the program names it: "\tmp\notalumen-x\".
  std::string simDir() const {
    std::string d = hostDir + "/";
    for (char& c : d) {
      if (c == '/') c = '\\';
    }
    return d;
  }
  std::string hostFile(const std::string& name) const { return hostDir + "/" + name; }
  std::string simFile(const std::string& name) const { return simDir() + name; }

  void writeHostFile(const std::string& name, const std::string& bytes) const;
  std::string readHostFile(const std::string& name) const;

  std::string hostDir;  // scratch directory, host form
};

inline void SimTest::writeHostFile(const std::string& name, const std::string& bytes) const {
  FILE* f = std::fopen(hostFile(name).c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

inline std::string SimTest::readHostFile(const std::string& name) const {
  std::string bytes;
  FILE* f = std::fopen(hostFile(name).c_str(), "rb");
  if (!f) return "<missing>";
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}
