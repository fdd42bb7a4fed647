// The flood harness's figures as text: grouped numbers, frames with their
// milliseconds, percentages, and what the machine was.
#include "flood_text.h"

#include <cstdio>
#include <fstream>

std::string grouped(int64_t v) {
  std::string digits = std::to_string(v < 0 ? -v : v);
  std::string out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return (v < 0 ? "-" : "") + out;
}

std::string frames(int64_t v, double sampleRate) {
  char text[96];
  std::snprintf(text, sizeof text, "%s frames (%.2f ms)", grouped(v).c_str(), 1000.0 * static_cast<double>(v) / sampleRate);
  return text;
}

std::string added(int64_t v, double sampleRate) {
  char text[96];
  std::snprintf(text, sizeof text, "%s%s frames (%s%.2f ms)", v >= 0 ? "+" : "", grouped(v).c_str(), v >= 0 ? "+" : "",
                1000.0 * static_cast<double>(v) / sampleRate);
  return text;
}

std::string percent(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", v);
  return text;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

std::string cpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      const size_t colon = line.find(": ");
      return colon == std::string::npos ? line : line.substr(colon + 2);
    }
  }
  return "unknown CPU";
}
