// Knowing, rather than guessing with a sleep, that a thread is blocked in
// the system: the thread names itself (nameCallingThread) just before its
// blocking call, and another thread waits until the system shows it asleep
// (waitUntilBlocked).
//
// What the system shows is Linux's process table, in both builds. Natively
// that is /proc/self/task/<thread id>. Under Wine every Windows thread is a
// Linux thread, and a thread description (SetThreadDescription) becomes its
// Linux name; the table reads as Z:\proc, but Wine opens files in its
// server, so "self" there is the server: the thread is found by its name
// among the tasks of the processes that run this program. (Wine's own
// answer, NtQuerySystemInformation, gives every thread the state 0.)
//
// A thread counts as blocked when two looks, 20 ms apart, both find it
// sleeping ("S") and it has not woken in between: its counts of context
// switches are unchanged. Header-only so that the tests of every folder can
// share it.
#ifndef PLATFORM_TESTS_BLOCKED_THREAD_H_
#define PLATFORM_TESTS_BLOCKED_THREAD_H_

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace platform::testing {

inline std::string readWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Names the calling thread so that waitUntilBlocked can find it; answers
// the name.
inline std::string nameCallingThread() {
#ifdef _WIN32
  // Linux keeps 15 characters of a thread's name.
  const std::wstring name = L"blk" + std::to_wstring(GetCurrentThreadId());
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (set == nullptr || FAILED(set(GetCurrentThread(), name.c_str()))) return std::string();
  return std::string(name.begin(), name.end());
#else
  return std::to_string(::syscall(SYS_gettid));
#endif
}

#ifdef _WIN32
inline std::vector<std::string> procEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (found.cFileName[0] >= '0' && found.cFileName[0] <= '9') names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}
#endif

// The folder of the named thread in the process table; empty when not found.
inline std::string taskFolder(const std::string& name) {
  if (name.empty()) return std::string();
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string program = path;
  program = program.substr(program.find_last_of("\\/") + 1);
  for (const std::string& process : procEntries("Z:\\proc")) {
    const std::string folder = "Z:\\proc\\" + process;
    if (readWholeFile(folder + "\\cmdline").find(program) == std::string::npos) continue;
    for (const std::string& task : procEntries(folder + "\\task")) {
      const std::string taskPath = folder + "\\task\\" + task;
      if (readWholeFile(taskPath + "\\comm") == name + "\n") return taskPath;
    }
  }
  return std::string();
#else
  return "/proc/self/task/" + name;
#endif
}

// "S 1234 56": the thread's state and its voluntary and involuntary context
// switches; empty when the thread is not found.
inline std::string taskLook(const std::string& folder) {
#ifdef _WIN32
  const std::string status = readWholeFile(folder + "\\status");
#else
  const std::string status = readWholeFile(folder + "/status");
#endif
  std::string state;
  std::string voluntary;
  std::string involuntary;
  std::istringstream lines(status);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::size_t at = line.find_first_not_of(" \t", colon + 1);
    const std::string value = at == std::string::npos ? std::string() : line.substr(at);
    const std::string key = line.substr(0, colon);
    if (key == "State") state = value.substr(0, 1);
    if (key == "voluntary_ctxt_switches") voluntary = value;
    if (key == "nonvoluntary_ctxt_switches") involuntary = value;
  }
  if (state.empty()) return std::string();
  return state + " " + voluntary + " " + involuntary;
}

// Waits until the named thread is blocked (see above); false when it was not
// within the deadline, or the system does not show it.
inline bool waitUntilBlocked(const std::string& name,
                             std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  std::string folder;
  while (folder.empty() && std::chrono::steady_clock::now() < end) {
    folder = taskFolder(name);
    if (folder.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (folder.empty()) return false;
  std::string previous;
  while (std::chrono::steady_clock::now() < end) {
    const std::string look = taskLook(folder);
    if (look.empty()) return false;
    if (look[0] == 'S' && look == previous) return true;
    previous = look;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace platform::testing

#endif  // PLATFORM_TESTS_BLOCKED_THREAD_H_
