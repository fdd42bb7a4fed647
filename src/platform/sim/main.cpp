// notalumen-sim: the whole program on the sim platform, driven by a scenario
// file that describes the machine (MIDI devices, serial ports, language) and
// what happens to it over virtual time (MIDI arriving, pointer and keys,
// message-box answers, pictures to save). It prints what every output
// received and how the program ended.
//
//   notalumen-sim SCENARIO [OUTPUT]
//
// The program directory (sonrack.ini, progrmNN.ini) is the scenario's own
// directory unless a `dir` line names another. Scenario lines:
//   dir PATH                  program directory (host path)
//   args TEXT                 command-line arguments after the program path
//   language ID / codepage N  user language (1041 Japanese) / code page (0, 932)
//   in "NAME" [maker N]       a MIDI input device; out "NAME" [maker N] an output
//   serial N                  serial port COMn exists
//   answer ok|cancel          the answer to the next message box
//   at MS                     run the program until virtual time MS
//   midi "NAME" HH HH ...     bytes arriving on that input device (F0 ... F7: one
//                             system-exclusive message), delivered on a device thread;
//                             data bytes without a status go as a running-status message
//   press X Y / move X Y / release X Y / moveout   the left button (client pixels)
//   click X Y                 a press and its release read in the same pass
//   plug in|out "NAME"        a device appears (after the others: a replug may
//                             get another index); unplug in|out "NAME" takes it away
//   keydown VK / keyup VK     a computer key (virtual-key code, 0x.. or decimal)
//   char C                    a character message (e.g. char =)
//   snapshot FILE.png         saves the window's client area
//   close                     the user closes the window
// Output lines: `out "NAME": HH HH ...` per message and device, `serial COMn:
// HH ...` per port, `box "TEXT"` per message box, and `exit N`.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/exit.h"
#include "app/main_loop.h"
#include "support/os_system.h"
#include "app/startup.h"
#include "display/os_window.h"
#include "midi/os_midi.h"
#include "platform/sim/sim.h"

namespace {

struct Device {
  std::string name;  // device name as the machine reports it
  int index;         // device index
};

std::vector<Device> inputs;   // input devices in index order
std::vector<Device> outputs;  // output devices in index order
std::vector<int> serialPorts;  // COM numbers that exist
std::vector<int> answers;      // message-box answers in order
std::string baseDir;           // directory of the scenario, ends with '/'
bool leftDown = false;         // the scripted left button is held

int parseNumber(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 0)); }

// A double-quoted name at the start of rest; rest keeps what follows it.
bool takeQuoted(std::istringstream& in, std::string* out) {
  in >> std::ws;
  if (in.peek() != '"') return false;
  in.get();
  std::getline(in, *out, '"');
  return true;
}

int inputIndex(const std::string& name) {
  for (const Device& d : inputs) {
    if (d.name == name) return d.index;
  }
  return -1;
}

void deliverMidi(int index, const std::vector<uint8_t>& bytes) {
  // The MIDI system calls back on a thread of its own.
  std::thread device([&] {
    if (!bytes.empty() && bytes[0] == 0xF0) {
      simMidiInLong(index, bytes.data(), static_cast<int>(bytes.size()), 0);
      return;
    }
    auto lengthOf = [](uint8_t status) {
      if (status >= 0xC0 && status <= 0xDF) return 2;
      if (status >= 0xF0) return status == 0xF2 ? 3 : (status == 0xF1 || status == 0xF3) ? 2 : 1;
      return 3;
    };
    size_t i = 0;
    uint8_t running = 0x90;  // what data bytes without a status are taken to follow
    while (i < bytes.size()) {
      uint32_t word = 0;
      uint8_t status = bytes[i];
      int length = lengthOf(status);
      if (status < 0x80) length = lengthOf(running) - 1;  // data bytes only, as a driver passes them
      if (status >= 0x80 && status < 0xF8) running = status;
      for (int k = 0; k < length && i < bytes.size(); k++, i++) word |= static_cast<uint32_t>(bytes[i]) << (8 * k);
      simMidiInShort(index, word, static_cast<uint32_t>(simNow()));
    }
  });
  device.join();
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
  std::string out;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, " %02X", v);
    out += b;
  }
  return out;
}

int messageLength(uint8_t status) {
  if (status < 0x80) return 2;  // running status: two data bytes
  if (status >= 0xC0 && status <= 0xDF) return 2;
  if (status >= 0xF0) return (status == 0xF2) ? 3 : (status == 0xF1 || status == 0xF3) ? 2 : 1;
  return 3;
}

// What the output device with that index and name received, as report lines.
std::string deviceLines(int index, const std::string& name) {
  std::string lines;
  for (const SimMidiOutEvent& e : simMidiOutEvents(index)) {
    std::vector<uint8_t> bytes = e.bytes;
    if (!e.isLong) {
      int n = messageLength(static_cast<uint8_t>(e.word & 0xFF));
      for (int k = 0; k < n; k++) bytes.push_back(static_cast<uint8_t>(e.word >> (8 * k)));
    }
    lines += "out \"" + name + "\":" + hexBytes(bytes) + "\n";
  }
  return lines;
}

std::string unpluggedLines;  // what outputs received before they were unplugged

void report(std::ostream& out, int code) {
  out << unpluggedLines;
  for (const Device& d : outputs) out << deviceLines(d.index, d.name);
  out << deviceLines(kMidiMapper, "MIDI Mapper");
  for (int port : serialPorts) {
    std::vector<uint8_t> bytes = simSerialBytes(port);
    if (!bytes.empty()) out << "serial COM" << port << ":" << hexBytes(bytes) << "\n";
  }
  for (int i = 0; i < simBoxCount(); i++) out << "box \"" << simBoxText(i) << "\"\n";
  if (code >= 0) {
    out << "exit " << code << "\n";
  } else {
    out << "running\n";
  }
}

// Runs main-loop passes until the virtual clock reaches ms.
void runUntil(int64_t ms) {
  while (simNow() < ms) mainLoopPass();
}

// One scenario line that acts on the running program.
void play(const std::string& verb, std::istringstream& in) {
  if (verb == "at") {
    std::string t;
    in >> t;
    runUntil(parseNumber(t));
  } else if (verb == "midi") {
    std::string name;
    takeQuoted(in, &name);
    std::vector<uint8_t> bytes;
    std::string hex;
    while (in >> hex) bytes.push_back(static_cast<uint8_t>(std::strtol(hex.c_str(), nullptr, 16)));
    int index = inputIndex(name);
    if (index < 0) {
      std::cerr << "no input device \"" << name << "\"\n";
      return;
    }
    deliverMidi(index, bytes);
  } else if (verb == "press" || verb == "move" || verb == "release") {
    int x = 0;
    int y = 0;
    in >> x >> y;
    if (verb == "press") leftDown = true;
    if (verb == "release") leftDown = false;
    unsigned message = verb == "press" ? OS_WM_LBUTTONDOWN : verb == "move" ? OS_WM_MOUSEMOVE : OS_WM_LBUTTONUP;
    simPostPointer(message, x, y, leftDown ? OS_MK_LBUTTON : 0);
  } else if (verb == "click") {
    int x = 0;
    int y = 0;
    in >> x >> y;
    simPostPointer(OS_WM_LBUTTONDOWN, x, y, OS_MK_LBUTTON);
    simPostPointer(OS_WM_LBUTTONUP, x, y, 0);
    leftDown = false;
  } else if (verb == "plug" || verb == "unplug") {
    std::string kind;
    std::string name;
    in >> kind;
    takeQuoted(in, &name);
    std::vector<Device>& list = kind == "in" ? inputs : outputs;
    if (verb == "plug") {
      list.push_back({name, static_cast<int>(list.size())});
      if (kind == "in") simAddMidiIn(name.c_str());
      else simAddMidiOut(name.c_str());
    } else {
      for (size_t i = 0; i < list.size(); i++) {
        if (list[i].name != name) continue;
        if (kind == "out") unpluggedLines += deviceLines(list[i].index, name);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        for (size_t j = i; j < list.size(); j++) list[j].index--;
        break;
      }
      if (kind == "in") simRemoveMidiIn(name.c_str());
      else simRemoveMidiOut(name.c_str());
    }
  } else if (verb == "moveout") {
    simPostMessage(OS_WM_NCMOUSEMOVE, 0, 0);
  } else if (verb == "keydown" || verb == "keyup") {
    std::string vk;
    in >> vk;
    simPostKey(parseNumber(vk), verb == "keydown");
  } else if (verb == "char") {
    std::string c;
    in >> c;
    if (!c.empty()) simPostMessage(OS_WM_CHAR, static_cast<unsigned char>(c[0]), 0);
  } else if (verb == "snapshot") {
    std::string file;
    in >> file;
    mainLoopPass();  // let pending paints land first
    if (!simSavePng(0, (baseDir + file).c_str())) std::cerr << "cannot write " << file << "\n";
  } else if (verb == "close") {
    simPostMessage(OS_WM_CLOSE, 0, 0);
  } else {
    std::cerr << "unknown scenario line: " << verb << "\n";
  }
  // Every action gets at least one pass to be seen by the program.
  mainLoopPass();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: notalumen-sim SCENARIO [OUTPUT]\n";
    return 2;
  }
  std::ifstream scenario(argv[1]);
  if (!scenario) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 2;
  }
  std::string path = argv[1];
  size_t slash = path.rfind('/');
  baseDir = slash == std::string::npos ? "./" : path.substr(0, slash + 1);

  simReset();
  std::string programDirectory = baseDir;
  std::string arguments;
  std::vector<std::string> actions;  // lines after the machine's description
  std::string line;
  while (std::getline(scenario, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream in(line);
    std::string verb;
    if (!(in >> verb) || verb[0] == '#') continue;
    if (verb == "dir") {
      in >> std::ws;
      std::getline(in, programDirectory);
      if (programDirectory.back() != '/') programDirectory += '/';
    } else if (verb == "args") {
      in >> std::ws;
      std::getline(in, arguments);
    } else if (verb == "language" || verb == "codepage") {
      std::string v;
      in >> v;
      if (verb == "language") simSetLanguage(parseNumber(v));
      else simSetCodePage(parseNumber(v));
    } else if (verb == "in" || verb == "out") {
      std::string name;
      takeQuoted(in, &name);
      std::string word;
      int maker = 0;
      if (in >> word && word == "maker") {
        in >> word;
        maker = parseNumber(word);
      }
      std::vector<Device>& list = verb == "in" ? inputs : outputs;
      list.push_back({name, static_cast<int>(list.size())});
      if (verb == "in") simAddMidiIn(name.c_str(), maker);
      else simAddMidiOut(name.c_str(), maker);
    } else if (verb == "serial") {
      std::string n;
      in >> n;
      serialPorts.push_back(parseNumber(n));
      simAddSerialPort(parseNumber(n));
    } else if (verb == "answer") {
      std::string a;
      in >> a;
      answers.push_back(a == "ok" ? OS_IDOK : OS_IDCANCEL);
    } else {
      actions.push_back(line);
    }
  }
  for (int answer : answers) simQueueBoxAnswer(answer);

  // The program's path in its own (Windows-style) form, so that it finds its
  // files in the program directory.
  std::string windowsDir = programDirectory;
  for (char& c : windowsDir) {
    if (c == '/') c = '\\';
  }
  std::string commandLine = "\"" + windowsDir + "notalumen.exe\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  simSetCommandLine(commandLine.c_str());
  simSetCurrentDirectory("C:\\");

  int code = -1;
  try {
    startupAll();
    for (const std::string& action : actions) {
      std::istringstream in(action);
      std::string verb;
      in >> verb;
      play(verb, in);
    }
  } catch (const SimExit& e) {
    code = e.code;
  }
  if (argc >= 3) {
    std::ofstream out(argv[2]);
    report(out, code);
  } else {
    report(std::cout, code);
  }
  if (code < 0) {
    // Still running at the end of the scenario: end it the ordinary way.
    try {
      exitProgram(0);
    } catch (const SimExit&) {
    }
  }
  return 0;
}
