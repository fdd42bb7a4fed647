// The flood harness's figures as text.
#pragma once

#include <cstdint>
#include <string>

std::string grouped(int64_t v);                      // 1,234,567
std::string frames(int64_t v, double sampleRate);    // "256 frames (5.33 ms)"
std::string added(int64_t v, double sampleRate);     // the same with its sign: "+3 frames (+0.06 ms)"
std::string percent(double v);                      // "12.3 %"
std::string loadAverage();                          // the three load averages of /proc/loadavg
std::string cpuModel();                             // the processor's model name
