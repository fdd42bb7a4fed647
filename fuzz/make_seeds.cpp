// Writes the seeds that are made rather than kept in fuzz/corpus: the settings
// template as the program writes it for a machine with MIDI devices, and
// inputs too long to keep as files (command lines past every limit, full
// programs, long system-exclusive messages, long number texts).
//
//   fuzz_seeds DIRECTORY    (one subdirectory per fuzz target)
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "app/reset.h"
#include "state/globals.h"
#include "midi/template.h"
#include "platform/sim/sim.h"

namespace {

std::string root;

void put(const std::string& target, const std::string& name, const std::string& bytes) {
  const std::string dir = root + "/" + target;
  mkdir(root.c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr) {
    std::perror(name.c_str());
    std::exit(1);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string readBack(const std::string& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

// The template for two inputs and four outputs, one output named like an input.
void settingsTemplate() {
  simReset();
  resetGlobalState();
  simAddMidiIn("USB Keyboard", 37, 0x0102);
  simAddMidiIn("Keys B");
  simAddMidiOut("Microsoft GS Wavetable Synth", 1, 0x0100);
  simAddMidiOut("USB Keyboard", 37, 0x0102);
  simAddMidiOut("SC-88 Pro", 41, 0x0200);
  simAddMidiOut("XG Sound Module", 43, 0x0300);
  const std::string host = root + "/settings/template.ini";
  put("settings", "template.ini", "");
  std::string simPath = host;
  for (char& c : simPath) {
    if (c == '/') c = '\\';
  }
  const std::u16string simPathW(simPath.begin(), simPath.end());
  writeSettingsTemplate(simPath.c_str(), simPathW.c_str());
  if (readBack(host).empty()) {
    std::fprintf(stderr, "the settings template was not written\n");
    std::exit(1);
  }
  resetGlobalState();
}

void commandLines() {
  std::string many = std::string("\x00", 1) + "notalumen.exe";
  for (int i = 0; i < 600; i++) many += " /" + std::to_string(i % 10);
  put("cmdline", "many-arguments", many);
  std::string longQuoted = std::string("\x00", 1) + "\"C:\\Program Files\\Notalumen\\notalumen.exe\" \"";
  longQuoted += std::string(66000, 'x') + "\" /list";
  put("cmdline", "long-quoted", longQuoted);
  std::string blanks = std::string("\x01", 1) + "notalumen.exe";
  for (int i = 0; i < 700; i++) blanks += " \x95\x5C\"a b\"";
  put("cmdline", "double-byte-many", blanks);
}

void programs() {
  std::string full = "/HEX\r\n/PGM1FF\r\n";
  for (int i = 0; i < 260; i++) full += "9N 3C 7F ";
  full += "\r\n/SETKEY0-3FF:PGM1FF\r\n";
  put("programs", "full-program", full);
  std::string every = "/DEC\r\n";
  for (int p = 1; p < 512; p++) every += "/PGM" + std::to_string(p) + " 176 64 127\r\n";
  every += "/SETKEY0~1023=511\r\n";
  put("programs", "every-program", every);
}

void midiScripts() {
  // Op 6 (long message on IN1) of 8999 + 1 bytes: a system-exclusive message.
  std::string script = "\x06";
  script += static_cast<char>(8999 & 0xFF);
  script += static_cast<char>(8999 >> 8);
  script += '\xF0';
  for (int i = 0; i < 8998; i++) script += static_cast<char>(i & 0x7F);
  script += '\xF7';
  put("midi_in", "long-exclusive", script);
}

void numbers() {
  put("scan", "long-digits", "\x06" + std::string(130, '7') + "." + std::string(130, '1') + "e+38 -" +
                                 std::string(10, '9') + " 0x" + std::string(12, 'F'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIRECTORY\n");
    return 2;
  }
  root = argv[1];
  settingsTemplate();
  commandLines();
  programs();
  midiScripts();
  numbers();
  return 0;
}
