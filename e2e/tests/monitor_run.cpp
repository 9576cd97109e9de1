#include "e2e/tests/monitor_run.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/resources/resource_ids.h"
#include "platform/test_support/process.h"
#include "platform/text.h"
#include "tools/job_script.h"
#include "tools/window_probe.h"

namespace e2e {
namespace {

std::wstring tempFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, folder);
  return folder;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

std::string readFile(const std::wstring& path) {
  std::stringstream text;
  text << std::ifstream(platform::wideToUtf8(path), std::ios::binary).rdbuf();
  return text.str();
}

// The process environment with `changes` ("NAME=value") applied, as a block
// for CreateProcessW; empty when there is nothing to change.
std::wstring environmentBlock(const std::vector<std::string>& changes) {
  if (changes.empty()) return std::wstring();
  std::vector<std::wstring> entries;
  wchar_t* current = GetEnvironmentStringsW();
  for (const wchar_t* entry = current; *entry != L'\0'; entry += wcslen(entry) + 1) {
    entries.emplace_back(entry);
  }
  FreeEnvironmentStringsW(current);
  for (const std::string& change : changes) {
    const std::wstring wide = platform::utf8ToWide(change);
    const std::wstring name = wide.substr(0, wide.find(L'=') + 1);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::wstring& entry) {
                                   return _wcsnicmp(entry.c_str(), name.c_str(), name.size()) == 0;
                                 }),
                  entries.end());
    entries.push_back(wide);
  }
  std::wstring block;
  for (const std::wstring& entry : entries) block += entry + L'\0';
  block += L'\0';
  return block;
}

using testsupport::startProcess;

void endProcess(HANDLE& process) {
  if (process == nullptr) return;
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process, 0xDEAD);
    WaitForSingleObject(process, 10000);
  }
  CloseHandle(process);
  process = nullptr;
}

std::atomic<int> runCounter{0};

}  // namespace

std::wstring builtFile(const char* relativePath) {
  std::wstring path = L"Z:" + platform::utf8ToWide(MONITOR_BUILD_DIR) + L"/" +
                      platform::utf8ToWide(relativePath);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

MonitorRun::MonitorRun(const std::string& script, RunOptions options) {
  // The files are named without the suffix: the streams that write and read
  // them take narrow paths in the ANSI code page.
  const std::string fileId =
      "e2e-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runCounter);
  id_ = fileId + options.nameSuffix;
  const std::wstring wideId = platform::utf8ToWide(id_);
  scriptPath_ = tempFolder() + platform::utf8ToWide(fileId) + L".job";
  logPath_ = tempFolder() + platform::utf8ToWide(fileId) + L".log";
  std::ofstream(platform::wideToUtf8(scriptPath_), std::ios::binary)
      << replaceAll(script, "{ID}", id_);
  DeleteFileW(logPath_.c_str());

  const std::wstring program =
      options.program.empty() ? builtFile("app/qmxMeadowMonitor.exe") : options.program;
  const std::wstring environment = environmentBlock(options.environment);
  std::wstring simulatorLine = L"\"" + builtFile("tools/port_monitor_sim.exe") + L"\" --name " +
                               wideId + L" --timeout " +
                               std::to_wstring(options.simulatorTimeoutMs) + L" --log \"" +
                               logPath_ + L"\" \"" +
                               scriptPath_ + L"\"";
  if (options.throughSimulatorWithHandles) {
    simulatorLine += L" --handles -- \"" + program + L"\"";
    DWORD simulatorId = 0;
    simulator_ = startProcess(simulatorLine, environment, &simulatorId);
    if (simulator_ == nullptr) return;
    probe::waitUntil([&] { return (monitorId_ = probe::findChildProcess(simulatorId)) != 0; }, 20000);
    monitor_ = OpenProcess(
        SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE, FALSE,
        monitorId_);
    if (monitor_ == nullptr) ADD_FAILURE() << "the simulator's monitor was not found";
    return;
  }

  simulator_ = startProcess(simulatorLine, std::wstring(), nullptr);
  if (simulator_ == nullptr) return;
  // The monitor gives up at once when the pipes are not there yet.
  if (!waitForLog("waiting for a monitor", 20000)) {
    ADD_FAILURE() << "the simulator did not create its pipes:\n" << logSoFar();
    return;
  }
  std::wstring monitorLine = L"\"" + program + L"\"";
  if (options.monitorArguments == "pipe") {
    monitorLine += L" pipe=\\\\.\\pipe\\" + wideId;
  } else if (options.monitorArguments != "none") {
    monitorLine += L" " + platform::utf8ToWide(replaceAll(options.monitorArguments, "{ID}", id_));
  }
  monitor_ = startProcess(monitorLine, environment, &monitorId_);
}

MonitorRun::~MonitorRun() {
  endProcess(monitor_);
  endProcess(simulator_);
  for (HANDLE event : events_) CloseHandle(event);
  DeleteFileW(scriptPath_.c_str());
  DeleteFileW(logPath_.c_str());
}

void MonitorRun::signal(const std::string& suffix) {
  const std::wstring name = platform::utf8ToWide(id_ + "-" + suffix);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (event == nullptr) {
    ADD_FAILURE() << "cannot create the event " << id_ << "-" << suffix;
    return;
  }
  SetEvent(event);
  // Kept open until the run ends, so that a wait that starts later still
  // finds it set.
  events_.push_back(event);
}

bool MonitorRun::waitForExit(std::uint32_t timeoutMs, DWORD* exitCode) {
  if (monitor_ == nullptr) return false;
  if (WaitForSingleObject(monitor_, timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(monitor_, 0xDEAD);
    WaitForSingleObject(monitor_, 10000);
    if (exitCode != nullptr) *exitCode = 0xDEAD;
    return false;
  }
  DWORD code = 0;
  GetExitCodeProcess(monitor_, &code);
  if (exitCode != nullptr) *exitCode = code;
  return true;
}

std::string MonitorRun::simulatorLog(std::uint32_t timeoutMs) {
  if (simulator_ != nullptr && WaitForSingleObject(simulator_, timeoutMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the simulator did not end in time";
    endProcess(simulator_);
  }
  return logSoFar();
}

std::string MonitorRun::logSoFar() const {
  return readFile(logPath_);
}

bool MonitorRun::waitForLog(const std::string& text, std::uint32_t timeoutMs) {
  return probe::waitUntil([&] { return logSoFar().find(text) != std::string::npos; }, timeoutMs);
}

ProcessFigures MonitorRun::figures() const {
  ProcessFigures figures;
  if (monitor_ == nullptr) return figures;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(monitor_, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof memory)) {
    figures.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    figures.workingSet = memory.WorkingSetSize;
  }
  // 0 is an answer only when the call did not fail: a process always holds
  // some objects once it has a window.
  SetLastError(ERROR_SUCCESS);
  const DWORD gdi = GetGuiResources(monitor_, GR_GDIOBJECTS);
  if (gdi != 0 || GetLastError() == ERROR_SUCCESS) figures.gdiObjects = static_cast<long>(gdi);
  SetLastError(ERROR_SUCCESS);
  const DWORD user = GetGuiResources(monitor_, GR_USEROBJECTS);
  if (user != 0 || GetLastError() == ERROR_SUCCESS) figures.userObjects = static_cast<long>(user);
  figures.topLevelWindows = probe::topLevelWindowCount(monitorId_);
  figures.windows = probe::windowCountWithChildren(monitorId_);
  return figures;
}

std::string describe(const ProcessFigures& figures) {
  const auto megabytes = [](std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return std::string(text);
  };
  const auto count = [](long value, const char* what) {
    return value < 0 ? std::string(what) + " not counted by the system"
                     : std::to_string(value) + " " + what;
  };
  return "private " + megabytes(figures.privateBytes) + ", working set " +
         megabytes(figures.workingSet) + ", " + std::to_string(figures.topLevelWindows) +
         " top-level windows, " + std::to_string(figures.windows) + " windows in all, " +
         count(figures.gdiObjects, "GDI objects") + ", " + count(figures.userObjects, "user objects");
}

std::vector<std::uint8_t> streamBytesOf(const std::string& script) {
  std::vector<jobscript::Action> actions;
  std::string error;
  if (!jobscript::parse(script, &actions, &error)) {
    ADD_FAILURE() << "the job does not parse: " << error;
    return {};
  }
  std::vector<std::uint8_t> bytes;
  for (const jobscript::Action& action : actions) {
    bytes.insert(bytes.end(), action.bytes.begin(), action.bytes.end());
  }
  return bytes;
}

std::string rawLine(const std::uint8_t* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string line = "raw";
  line.reserve(3 + 3 * size + 1);
  for (std::size_t i = 0; i < size; ++i) {
    line += ' ';
    line += kDigits[bytes[i] >> 4];
    line += kDigits[bytes[i] & 15];
  }
  return line + "\n";
}

probe::Dialog waitForAlert(const MonitorRun& run, const std::wstring& message) {
  probe::Dialog found;
  const bool seen = probe::waitUntil(
      [&] {
        for (const probe::Dialog& dialog : probe::visibleDialogsOf(run.monitorId())) {
          if (dialog.text(IDC_MESSAGE) == message) {
            found = dialog;
            return true;
          }
        }
        return false;
      },
      kShowMs);
  EXPECT_TRUE(seen) << "no alert saying \"" << probe::utf8(message) << "\"";
  return found;
}

DWORD exitCodeWatching(MonitorRun& run, const std::function<void()>& watch) {
  probe::waitUntil(
      [&] {
        watch();
        return run.ended();
      },
      kExitMs);
  DWORD code = 0xDEAD;
  run.waitForExit(1000, &code);
  return code;
}

}  // namespace e2e
