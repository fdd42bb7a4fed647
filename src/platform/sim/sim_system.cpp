// Sim system services: a virtual clock, scripted command lines, current
// directory, language, version and message boxes; the end of the process is
// an exception that the test or the scenario runner catches.
#include <cstring>
#include <mutex>

#include "support/os_system.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"
#include "support/sjis.h"

SimState simState;

static void deriveWideCommandLine() {
  if (simState.wideSetSeparately) return;
  std::u16string wide(simState.commandLine.size() + 1, u'\0');
  int n = sjisToWide(wide.data(), static_cast<int>(wide.size()), simState.commandLine.c_str());
  (void)n;
  wide.resize(std::char_traits<char16_t>::length(wide.c_str()));
  simState.commandLineW = wide;
}

void simReset(void) {
  simState = SimState();
  simState.commandLine = "notalumen.exe";
  simState.currentDirectory = "C:";
  deriveWideCommandLine();
  simResetMidi();
  simResetWindow();
}

void simSetCommandLine(const char* narrow) {
  simState.commandLine = narrow;
  simState.wideSetSeparately = false;
  deriveWideCommandLine();
}

void simSetCommandLineW(const char16_t* wide) {
  simState.commandLineW = wide;
  simState.wideSetSeparately = true;
}

void simSetCurrentDirectory(const char* narrow) { simState.currentDirectory = narrow; }
void simSetCodePage(int codePage) {
  simState.codePage = codePage;
  deriveWideCommandLine();
}
void simSetLanguage(int languageId) { simState.language = languageId; }
void simSetVersion(unsigned version) { simState.version = version; }

// The clock is read and advanced from the window thread and the MIDI thread.
static std::mutex clockLock;

int64_t simNow(void) {
  std::lock_guard<std::mutex> hold(clockLock);
  return simState.clock;
}

uint32_t osMilliseconds(void) { return static_cast<uint32_t>(simNow()); }

std::vector<int> simPauses(void) {
  std::lock_guard<std::mutex> hold(clockLock);
  return simState.pauses;
}

void simClearPauses(void) {
  std::lock_guard<std::mutex> hold(clockLock);
  simState.pauses.clear();
}

void osSleep(int ms) {
  std::lock_guard<std::mutex> hold(clockLock);
  simState.pauses.push_back(ms);
  simState.clock += ms;
}

const char* osCommandLine(void) { return simState.commandLine.c_str(); }
const char16_t* osCommandLineW(void) { return simState.commandLineW.c_str(); }

int osCurrentDirectory(char* buffer, int size) {
  int n = static_cast<int>(simState.currentDirectory.size());
  if (n == 0 || n >= size) return 0;
  std::memcpy(buffer, simState.currentDirectory.c_str(), n + 1);
  return n;
}

int osCurrentDirectoryW(char16_t* buffer, int size) {
  if (simState.currentDirectory.empty()) return 0;
  char16_t wide[1024];
  sjisToWide(wide, 1024, simState.currentDirectory.c_str());
  int n = static_cast<int>(std::char_traits<char16_t>::length(wide));
  if (n >= size) return 0;
  std::memcpy(buffer, wide, (n + 1) * sizeof(char16_t));
  return n;
}

int osUserLanguage(void) { return simState.language; }
unsigned osVersion(void) { return simState.version; }

void simSetUserDirectory(const char* narrow) { simState.userDir = narrow; }
int simUsageShown(void) { return simState.usageShown; }

int osUserFilesDirectory(char* narrow, char16_t* wide, int size) {
  int n = static_cast<int>(simState.userDir.size());
  if (n == 0 || n >= size) return 0;
  std::memcpy(narrow, simState.userDir.c_str(), n + 1);
  sjisToWide(wide, size, narrow);
  return n;
}

void osShowUsage(void) { simState.usageShown++; }

void osTellUser(const char* line) { simState.told.push_back(line); }

int osMessageBox(const char* text, const char* caption, unsigned flags) {
  simState.boxes.push_back({text, caption, flags});
  if (simState.boxAnswers.empty()) return OS_IDOK;
  int answer = simState.boxAnswers.front();
  simState.boxAnswers.erase(simState.boxAnswers.begin());
  return answer;
}

void simAnswerBoxes(std::initializer_list<int> answers) {
  simState.boxAnswers.assign(answers.begin(), answers.end());
}

void simQueueBoxAnswer(int answer) { simState.boxAnswers.push_back(answer); }

int simBoxCount(void) { return static_cast<int>(simState.boxes.size()); }
const std::string& simBoxText(int i) { return simState.boxes.at(i).text; }
const std::string& simBoxCaption(int i) { return simState.boxes.at(i).caption; }
unsigned simBoxFlags(int i) { return simState.boxes.at(i).flags; }

void osExit(int code) { throw SimExit{code}; }
