// Benchmarks of the monitor program as its users meet it, run under Wine: how
// soon an alert is on screen, what an idle monitor costs, how long it takes
// to start, and whether a long job makes it grow. The bench plays the port
// monitor itself: it serves the status and request pipes, starts the real
// program with pipe=\\.\pipe\NAME, writes status records and watches the
// program's windows from outside. Nothing in the program is instrumented.
//
//   monitor_bench alert [SAMPLES]    record written -> alert painted on the
//                                    screen (p50, p95; the first alert of the
//                                    job left out), beside the same for a
//                                    bare dialog in a process of its own
//   monitor_bench first [ROUNDS]     the first alert of a job, each in a
//                                    fresh monitor (p50, p90), beside the
//                                    bare dialog's first in a fresh process
//   monitor_bench idle [SECONDS]     wake-ups and CPU of a monitor with an
//                                    alert on screen and nothing to do
//   monitor_bench startup [ROUNDS]   process start -> status stream opened,
//                                    against a hello-world program
//   monitor_bench growth [ALERTS]    private memory, GDI and USER objects
//                                    after many alerts, against the first
//
// What Wine 8 answers about another process, and what is read instead:
//   - GetProcessTimes: 0 under Wine 8 on some processes and 10 ms steps on
//     others; the CPU time is read from Linux, /proc/<pid>/task/*/schedstat
//     (nanoseconds on CPU per thread; Wine maps Z: to the Linux root), and
//     cross-checked with NtQuerySystemInformation(SystemProcessInformation);
//   - wake-ups: the Linux threads' voluntary context switches
//     (/proc/<pid>/task/*/status): every time a thread blocks it counts
//     one, so they bound the wake-ups from above (under Wine a call into
//     the wine server blocks too);
//   - GetGuiResources answers 0 for every process; the GDI objects are
//     counted in the process's own GDI handle table (the PEB's
//     GdiSharedHandleTable, read with ReadProcessMemory: entries whose type
//     byte is set, stock objects left out), the USER objects as the
//     process's windows, top-level and child (EnumWindows,
//     EnumChildWindows), which is all the program makes of them;
//   - GetProcessMemoryInfo answers PrivateUsage 0; the private memory is the
//     process's resident anonymous memory plus its swapped-out pages
//     (RssAnon + VmSwap of /proc/<pid>/status).
//   - painted: a window's flags (WS_VISIBLE) are set before anything of it
//     is drawn; an alert counts as on screen once the pixels of its client
//     area, read from the screen (GetDC(NULL), BitBlt), match those of the
//     same alert after it has settled.
// The Linux process is found by its command line (/proc/<pid>/cmdline
// holds the Windows command line, with this run's unique pipe name).
//
// Every figure is printed for people and as "BENCH <name> <value>" for
// tools/bench.sh.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "channel/status_record.h"
#include "i18n/string_mapper.h"
#include "tools/window_probe.h"

namespace {

constexpr int kMessageControl = 2037;
constexpr int kMoreLink = 1037;
constexpr DWORD kWaitMs = 20000;

// ---- time ----------------------------------------------------------------

double nowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5)];
}

void figure(const char* name, double value) {
  std::printf("BENCH %s %.4f\n", name, value);
  std::fflush(stdout);
}

// Polls `done` every millisecond until it holds; false after the time.
template <class Condition>
bool pollUntil(Condition done, DWORD timeoutMs) {
  const double end = nowMs() + timeoutMs;
  while (!done()) {
    if (nowMs() >= end) return false;
    Sleep(1);
  }
  return true;
}

// ---- files built beside the bench ------------------------------------------

std::wstring builtFile(const char* relative) {
  std::string path = std::string("Z:") + MONITOR_BUILD_DIR + "/" + relative;
  std::replace(path.begin(), path.end(), '/', '\\');
  return std::wstring(path.begin(), path.end());
}

std::string readText(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// ---- the port monitor's side of one job ------------------------------------

// Serves the pipe pair of one job and runs one program against it.
class Job {
 public:
  explicit Job(const std::wstring& program, const char* tag = "job") {
    static int counter = 0;
    name_ = L"monitor-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::wstring(tag, tag + std::strlen(tag)) + L"-" + std::to_wstring(++counter);
    const std::wstring base = L"\\\\.\\pipe\\" + name_;
    status_ = CreateNamedPipeW((base + L".status").c_str(),
                               PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0,
                               nullptr);
    // Nobody posts requests in this program; the pipe only has to exist.
    requests_ = CreateNamedPipeW((base + L".requests").c_str(), PIPE_ACCESS_INBOUND,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536,
                                 0, nullptr);
    connected_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    written_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (status_ == INVALID_HANDLE_VALUE || requests_ == INVALID_HANDLE_VALUE) return;
    connect_.hEvent = connected_;
    if (!ConnectNamedPipe(status_, &connect_)) {
      const DWORD error = GetLastError();
      if (error == ERROR_PIPE_CONNECTED) SetEvent(connected_);
    }
    std::wstring line = L"\"" + program + L"\" pipe=" + base;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    startedAt_ = nowMs();
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 2 && !started; ++attempt) {
      started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process);
      // Wine once answered a start with an internal error that never came
      // back.
      if (!started && GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    if (!started) {
      std::fprintf(stderr, "cannot start %ls (error %lu)\n", program.c_str(), GetLastError());
      return;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    processId_ = process.dwProcessId;
  }

  ~Job() {
    if (status_ != INVALID_HANDLE_VALUE) CloseHandle(status_);
    if (requests_ != INVALID_HANDLE_VALUE) CloseHandle(requests_);
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 10000);
      }
      CloseHandle(process_);
    }
    CloseHandle(connected_);
    CloseHandle(written_);
  }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  bool started() const { return process_ != nullptr; }
  DWORD processId() const { return processId_; }
  HANDLE process() const { return process_; }
  const std::wstring& name() const { return name_; }

  // Milliseconds from just before CreateProcess to the program opening the
  // status stream; negative when it did not within the time.
  double connectedAfterMs(DWORD timeoutMs = kWaitMs) {
    if (connectedAt_ < 0) {
      if (WaitForSingleObject(connected_, timeoutMs) != WAIT_OBJECT_0) return -1;
      connectedAt_ = nowMs();
    }
    return connectedAt_ - startedAt_;
  }

  // Writes one record; the time it was handed to the pipe is `sentAt`.
  bool send(const std::vector<std::uint8_t>& record, double* sentAt = nullptr) {
    if (connectedAfterMs() < 0) return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = written_;
    ResetEvent(written_);
    if (sentAt != nullptr) *sentAt = nowMs();
    DWORD done = 0;
    if (!WriteFile(status_, record.data(), static_cast<DWORD>(record.size()), &done, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    return GetOverlappedResult(status_, &overlapped, &done, TRUE) && done == record.size();
  }

  bool waitForExit(DWORD timeoutMs) {
    return process_ != nullptr && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
  }

 private:
  std::wstring name_;
  HANDLE status_ = INVALID_HANDLE_VALUE;
  HANDLE requests_ = INVALID_HANDLE_VALUE;
  HANDLE connected_ = nullptr;
  HANDLE written_ = nullptr;
  OVERLAPPED connect_ = {};
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
  double startedAt_ = 0;
  double connectedAt_ = -1;
};

std::wstring monitorProgram() {
  return builtFile("app/qmxMeadowMonitor.exe");
}

// Starts the monitor and plays the start of a job.
bool startJob(Job& job) {
  if (!job.started() || job.connectedAfterMs() < 0) {
    std::fprintf(stderr, "the monitor did not open its status stream\n");
    return false;
  }
  return job.send(tarn::encodePortNames("LPT1:", "Kestrel 100")) &&
         job.send(tarn::encodeJobStart(7, "report.pdf"));
}

// The visible dialog of the process that says `message` (any, for null), or
// null.
HWND visibleAlert(DWORD processId, const wchar_t* message) {
  for (const probe::Dialog& dialog : probe::visibleDialogsOf(processId)) {
    if (message == nullptr || dialog.text(kMessageControl) == message) return dialog.window;
  }
  return nullptr;
}

// The dialogs of the process, visible or not (or only the visible ones).
std::vector<HWND> dialogsOf(DWORD processId, bool visibleOnly) {
  std::vector<HWND> found;
  for (const probe::Dialog& dialog :
       visibleOnly ? probe::visibleDialogsOf(processId) : probe::dialogsOf(processId)) {
    found.push_back(dialog.window);
  }
  return found;
}

std::set<HWND> dialogWindows(DWORD processId) {
  const std::vector<HWND> all = dialogsOf(processId, false);
  return std::set<HWND>(all.begin(), all.end());
}

// Waits until the process has a visible dialog that is not among `before`
// and exactly `visible` visible dialogs; answers the new one.
HWND waitForNewDialog(DWORD processId, const std::set<HWND>& before, std::size_t visible) {
  HWND found = nullptr;
  pollUntil(
      [&] {
        const std::vector<HWND> dialogs = dialogsOf(processId, true);
        if (dialogs.size() != visible) return false;
        for (HWND dialog : dialogs) {
          if (before.count(dialog) == 0) {
            found = dialog;
            return true;
          }
        }
        return false;
      },
      kWaitMs);
  return found;
}

bool waitForNoDialog(DWORD processId) {
  return pollUntil([&] { return dialogsOf(processId, false).empty(); }, kWaitMs);
}

// ---- pixels on the screen ----------------------------------------------------

// The client area of a window as the screen shows it now, read from the
// screen as any other program would see it.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

bool capture(HWND window, Picture* out) {
  RECT client;
  POINT origin = {0, 0};
  if (!GetClientRect(window, &client) || !ClientToScreen(window, &origin)) return false;
  const int width = client.right, height = client.bottom;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY) != FALSE;
    GdiFlush();
    if (ok) {
      const auto* first = static_cast<const std::uint32_t*>(bits);
      out->width = width;
      out->height = height;
      out->pixels.assign(first, first + static_cast<std::size_t>(width) * height);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

// Whether the picture shows what the reference shows: all but a few pixels
// (a focus rectangle, a caret) the same.
bool looksLike(const Picture& now, const Picture& reference) {
  if (now.width != reference.width || now.height != reference.height) return false;
  std::size_t same = 0;
  for (std::size_t i = 0; i < now.pixels.size(); ++i) {
    if ((now.pixels[i] & 0xFFFFFF) == (reference.pixels[i] & 0xFFFFFF)) ++same;
  }
  return same * 100 >= now.pixels.size() * 98;
}

// The dialog of the process that is not among `before`, hidden or not; null
// when there is none yet.
HWND newDialog(DWORD processId, const std::set<HWND>& before) {
  for (const probe::Dialog& dialog : probe::dialogsOf(processId)) {
    if (before.count(dialog.window) == 0) return dialog.window;
  }
  return nullptr;
}

// Times from `since` until a new dialog of the process was visible (its
// flag) and until its client area on the screen looked like `reference`;
// false when that did not happen within the time.
bool timeNewDialog(DWORD processId, const std::set<HWND>& before, const Picture& reference,
                   double since, double* visibleMs, double* paintedMs) {
  HWND window = nullptr;
  *visibleMs = -1;
  Picture now;
  return pollUntil(
      [&] {
        if (window == nullptr) window = newDialog(processId, before);
        if (window == nullptr || !IsWindowVisible(window)) return false;
        if (*visibleMs < 0) *visibleMs = nowMs() - since;
        if (!capture(window, &now) || !looksLike(now, reference)) return false;
        *paintedMs = nowMs() - since;
        return true;
      },
      kWaitMs);
}

// The settled look of a dialog: captured after it has been on screen a while.
bool settledPicture(HWND window, Picture* out) {
  Sleep(500);
  return capture(window, out);
}

// ---- the bare dialog: the floor -----------------------------------------------

// A bench_dialog process and its events.
class BareDialog {
 public:
  BareDialog() {
    static int counter = 0;
    name_ = "monitor-bench-bare-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
    ready_ = CreateEventA(nullptr, TRUE, FALSE, (name_ + "-ready").c_str());
    show_ = CreateEventA(nullptr, FALSE, FALSE, (name_ + "-show").c_str());
    hide_ = CreateEventA(nullptr, FALSE, FALSE, (name_ + "-hide").c_str());
    quit_ = CreateEventA(nullptr, TRUE, FALSE, (name_ + "-quit").c_str());
    std::wstring line = L"\"" + builtFile("tools/bench/bench_dialog.exe") + L"\" " +
                        std::wstring(name_.begin(), name_.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      CloseHandle(process.hThread);
      process_ = process.hProcess;
      processId_ = process.dwProcessId;
    }
  }
  ~BareDialog() {
    SetEvent(quit_);
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
      CloseHandle(process_);
    }
    for (HANDLE event : {ready_, show_, hide_, quit_}) CloseHandle(event);
  }
  BareDialog(const BareDialog&) = delete;
  BareDialog& operator=(const BareDialog&) = delete;

  bool waitReady() { return process_ != nullptr && WaitForSingleObject(ready_, kWaitMs) == 0; }
  DWORD processId() const { return processId_; }
  // Sets the event that makes the dialog; `at` is when.
  void show(double* at) {
    *at = nowMs();
    SetEvent(show_);
  }
  bool hide() {
    SetEvent(hide_);
    return waitForNoDialog(processId_);
  }

 private:
  std::string name_;
  HANDLE ready_ = nullptr, show_ = nullptr, hide_ = nullptr, quit_ = nullptr;
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
};

// ---- the Linux side of a Wine process ---------------------------------------

// A function of ntdll that the import libraries do not offer.
template <class Function>
Function ntdllFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), name)));
}

// The Linux process whose command line holds `needle`; 0 when none does.
unsigned linuxProcessWith(const std::wstring& needle) {
  const std::string narrow(needle.begin(), needle.end());
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  unsigned found = 0;
  do {
    const std::wstring name = entry.cFileName;
    if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    std::string line = readText(L"Z:\\proc\\" + name + L"\\cmdline");
    std::replace(line.begin(), line.end(), '\0', ' ');
    if (line.find(narrow) != std::string::npos) found = static_cast<unsigned>(std::wcstoul(name.c_str(), nullptr, 10));
  } while (found == 0 && FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}

std::uint64_t fieldOf(const std::string& status, const char* key) {
  const std::size_t at = status.find(key);
  if (at == std::string::npos) return 0;
  return std::strtoull(status.c_str() + at + std::strlen(key), nullptr, 10);
}

struct TaskCounters {
  std::string name;
  std::uint64_t voluntary = 0;
  std::uint64_t involuntary = 0;
  std::uint64_t cpuNs = 0;
};

std::map<unsigned, TaskCounters> taskCounters(unsigned pid) {
  std::map<unsigned, TaskCounters> tasks;
  const std::wstring folder = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\task\\";
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return tasks;
  do {
    const std::wstring name = entry.cFileName;
    if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    const unsigned tid = static_cast<unsigned>(std::wcstoul(name.c_str(), nullptr, 10));
    const std::string status = readText(folder + name + L"\\status");
    TaskCounters counters;
    const std::size_t nameAt = status.find("Name:\t");
    if (nameAt != std::string::npos) {
      counters.name = status.substr(nameAt + 6, status.find('\n', nameAt) - nameAt - 6);
    }
    counters.voluntary = fieldOf(status, "voluntary_ctxt_switches:\t");
    counters.involuntary = fieldOf(status, "nonvoluntary_ctxt_switches:\t");
    counters.cpuNs = std::strtoull(readText(folder + name + L"\\schedstat").c_str(), nullptr, 10);
    tasks[tid] = counters;
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return tasks;
}

// Private memory of a Linux process: resident anonymous pages and swap.
std::uint64_t privateBytes(unsigned pid) {
  const std::string status = readText(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\status");
  return (fieldOf(status, "RssAnon:") + fieldOf(status, "VmSwap:")) * 1024;
}

// Kernel plus user time of a Windows process in 100 ns units, as
// NtQuerySystemInformation(SystemProcessInformation) reports it.
std::uint64_t systemProcessTimes(DWORD processId) {
  using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  static const auto query = ntdllFunction<Query>("NtQuerySystemInformation");
  if (query == nullptr) return 0;
  std::vector<std::uint8_t> buffer(1 << 20);
  ULONG length = 0;
  if (query(5 /* SystemProcessInformation */, buffer.data(), static_cast<ULONG>(buffer.size()),
            &length) != 0) {
    return 0;
  }
  for (std::size_t at = 0;;) {
    const auto* info = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + at);
    if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info->UniqueProcessId)) == processId) {
      return static_cast<std::uint64_t>(info->UserTime.QuadPart + info->KernelTime.QuadPart);
    }
    if (info->NextEntryOffset == 0) return 0;
    at += info->NextEntryOffset;
  }
}

// ---- objects of another process ---------------------------------------------

// One entry of the GDI handle table as Wine 8 lays it out: the object, the
// owner, the object's type with the stock flag (bit 7), the generation, the
// type (0: a free entry), flags, and the user pointer.
struct GdiHandleEntry {
  std::uint64_t object;
  std::uint32_t owner;
  std::uint8_t extType;
  std::uint8_t generation;
  std::uint8_t type;
  std::uint8_t flags;
  std::uint64_t userPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24, "the entry of Wine's GDI handle table");
constexpr std::size_t kGdiHandleCount = 0x10000;

// The GDI objects of the process that are not stock objects; -1 when the
// table cannot be read. `byType`, when given, gets their number per type.
long gdiObjects(HANDLE process, std::map<int, long>* byType = nullptr) {
  const DWORD answered = GetGuiResources(process, GR_GDIOBJECTS);
  if (answered != 0) return static_cast<long>(answered);
  using Query = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  static const auto query = ntdllFunction<Query>("NtQueryInformationProcess");
  PROCESS_BASIC_INFORMATION basic = {};
  ULONG length = 0;
  if (query == nullptr || query(process, 0 /* ProcessBasicInformation */, &basic, sizeof basic,
                                &length) != 0) {
    return -1;
  }
  // PEB::GdiSharedHandleTable of a 64-bit process.
  std::uint64_t table = 0;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, reinterpret_cast<const std::uint8_t*>(basic.PebBaseAddress) + 0xF8,
                         &table, sizeof table, &got) ||
      table == 0) {
    return -1;
  }
  std::vector<GdiHandleEntry> entries(kGdiHandleCount);
  if (!ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(table)),
                         entries.data(), entries.size() * sizeof(GdiHandleEntry), &got)) {
    return -1;
  }
  long count = 0;
  for (const GdiHandleEntry& entry : entries) {
    if (entry.type == 0 || (entry.extType & 0x80) != 0) continue;
    ++count;
    if (byType != nullptr) ++(*byType)[entry.extType];
  }
  return count;
}

// The USER objects of the process: what GetGuiResources says, or, where it
// says 0 (Wine), its windows, top-level and child.
long userObjects(HANDLE process, DWORD processId) {
  const DWORD answered = GetGuiResources(process, GR_USEROBJECTS);
  if (answered != 0) return static_cast<long>(answered);
  return probe::windowCountWithChildren(processId);
}

// ---- the benchmarks ------------------------------------------------------------

// Shows the alert for `code` in the job's monitor and answers its settled
// picture; the alert is dismissed again.
bool alertPicture(Job& job, std::uint32_t code, Picture* out) {
  const std::set<HWND> before = dialogWindows(job.processId());
  HWND window = nullptr;
  const bool shown = job.send(tarn::encodeStatus(code)) &&
                     (window = waitForNewDialog(job.processId(), before, 1)) != nullptr &&
                     settledPicture(window, out);
  return job.send(tarn::encodeStatus(10001)) && waitForNoDialog(job.processId()) && shown;
}

bool barePicture(BareDialog& bare, Picture* out) {
  double at = 0;
  bare.show(&at);
  HWND window = waitForNewDialog(bare.processId(), {}, 1);
  const bool shown = window != nullptr && settledPicture(window, out);
  return bare.hide() && shown;
}

void printSeries(const char* what, const std::vector<double>& values) {
  std::printf("  %-34s p50 %6.1f ms, p95 %6.1f ms, max %6.1f ms\n", what,
              percentile(values, 0.50), percentile(values, 0.95), percentile(values, 1.0));
}

// Record -> alert painted, from the second alert of a job on: each record is
// written when the monitor is idle (after a quiet 150 ms), and the screen is
// read every millisecond until the alert's client area shows what it shows
// once settled. Between two alerts the same is timed for the bare dialog in a
// process of its own (bench_dialog), from the event that makes it: the
// floor that Wine sets for any program. The first alert of the job is shown
// before the series and not timed here (see benchFirst).
int benchAlert(int samples) {
  Job job(monitorProgram(), "alert");
  BareDialog bare;
  if (!startJob(job) || !bare.waitReady()) return 1;
  const std::uint32_t codes[] = {40020, 40021};
  Picture references[2], bareReference;
  if (!alertPicture(job, codes[0], &references[0]) ||
      !alertPicture(job, codes[1], &references[1]) || !barePicture(bare, &bareReference)) {
    std::fprintf(stderr, "the first alerts or the bare dialog did not show\n");
    return 1;
  }
  std::vector<double> visible, painted, bareVisible, barePainted;
  for (int i = 0; i < samples; ++i) {
    Sleep(150);  // the monitor's loop is waiting again
    std::set<HWND> before = dialogWindows(job.processId());
    double sentAt = 0, visibleMs = 0, paintedMs = 0;
    if (!job.send(tarn::encodeStatus(codes[i % 2]), &sentAt) ||
        !timeNewDialog(job.processId(), before, references[i % 2], sentAt, &visibleMs,
                       &paintedMs)) {
      std::fprintf(stderr, "alert %d was not painted\n", i);
      return 1;
    }
    visible.push_back(visibleMs);
    painted.push_back(paintedMs);
    if (!job.send(tarn::encodeStatus(10001)) || !waitForNoDialog(job.processId())) {
      std::fprintf(stderr, "alert %d was not dismissed\n", i);
      return 1;
    }
    Sleep(150);
    double shownAt = 0;
    bare.show(&shownAt);
    if (!timeNewDialog(bare.processId(), {}, bareReference, shownAt, &visibleMs, &paintedMs)) {
      std::fprintf(stderr, "bare dialog %d was not painted\n", i);
      return 1;
    }
    bareVisible.push_back(visibleMs);
    barePainted.push_back(paintedMs);
    if (!bare.hide()) return 1;
  }
  job.send(tarn::encodeJobEnd(7));
  const double p50 = percentile(painted, 0.50), p95 = percentile(painted, 0.95);
  const double floor50 = percentile(barePainted, 0.50), floor95 = percentile(barePainted, 0.95);
  std::printf("%d alerts after the first of a job, each against a bare dialog:\n", samples);
  printSeries("record -> alert painted", painted);
  printSeries("record -> alert flagged visible", visible);
  printSeries("event -> bare dialog painted", barePainted);
  printSeries("event -> bare dialog flagged visible", bareVisible);
  std::printf("  alert / bare dialog, painted:      p50 %.2f x, p95 %.2f x\n", p50 / floor50,
              p95 / floor95);
  std::printf("each alert painted, in ms:");
  for (double ms : painted) std::printf(" %.1f", ms);
  std::printf("\n");
  figure("alert_painted_p50_ms", p50);
  figure("alert_painted_p95_ms", p95);
  figure("alert_visible_p50_ms", percentile(visible, 0.50));
  figure("bare_painted_p50_ms", floor50);
  figure("bare_painted_p95_ms", floor95);
  figure("alert_to_bare_p50", p50 / floor50);
  figure("alert_to_bare_p95", p95 / floor95);
  return 0;
}

// The first alert of a job, as the user meets it: a fresh monitor each
// round, the printer and job records, a quiet 300 ms, then a status; timed
// until the alert is painted. The bare dialog's first, in a fresh process
// each round (ready, a quiet 300 ms, then its event), is the floor.
int benchFirst(int rounds) {
  Picture reference, bareReference;
  {
    Job job(monitorProgram(), "first-look");
    if (!startJob(job) || !alertPicture(job, 40020, &reference)) return 1;
    job.send(tarn::encodeJobEnd(7));
    BareDialog bare;
    if (!bare.waitReady() || !barePicture(bare, &bareReference)) return 1;
  }
  std::vector<double> painted, visible, barePainted;
  for (int i = 0; i < rounds; ++i) {
    double sentAt = 0, visibleMs = 0, paintedMs = 0;
    {
      Job job(monitorProgram(), "first");
      if (!startJob(job)) return 1;
      Sleep(300);
      if (!job.send(tarn::encodeStatus(40020), &sentAt) ||
          !timeNewDialog(job.processId(), {}, reference, sentAt, &visibleMs, &paintedMs)) {
        std::fprintf(stderr, "the first alert of round %d was not painted\n", i);
        return 1;
      }
      painted.push_back(paintedMs);
      visible.push_back(visibleMs);
      job.send(tarn::encodeJobEnd(7));
      if (!job.waitForExit(kWaitMs)) std::fprintf(stderr, "a monitor did not end\n");
    }
    BareDialog bare;
    if (!bare.waitReady()) return 1;
    Sleep(300);
    bare.show(&sentAt);
    if (!timeNewDialog(bare.processId(), {}, bareReference, sentAt, &visibleMs, &paintedMs)) {
      std::fprintf(stderr, "the bare dialog of round %d was not painted\n", i);
      return 1;
    }
    barePainted.push_back(paintedMs);
  }
  std::printf("the first alert of a job, %d fresh monitors:\n", rounds);
  std::printf("  record -> alert painted            p50 %6.1f ms, p90 %6.1f ms, max %6.1f ms\n",
              percentile(painted, 0.5), percentile(painted, 0.9), percentile(painted, 1.0));
  std::printf("  record -> alert flagged visible    p50 %6.1f ms, p90 %6.1f ms\n",
              percentile(visible, 0.5), percentile(visible, 0.9));
  std::printf("  event -> bare dialog painted       p50 %6.1f ms, p90 %6.1f ms (fresh process)\n",
              percentile(barePainted, 0.5), percentile(barePainted, 0.9));
  std::printf("each first alert painted, in ms:");
  for (double ms : painted) std::printf(" %.1f", ms);
  std::printf("\n");
  figure("first_painted_p50_ms", percentile(painted, 0.5));
  figure("first_painted_p90_ms", percentile(painted, 0.9));
  figure("first_bare_painted_p50_ms", percentile(barePainted, 0.5));
  figure("first_bare_painted_p90_ms", percentile(barePainted, 0.9));
  return 0;
}

// An alert on screen and no records: wake-ups of the main thread and CPU of
// the whole process over `seconds`.
int benchIdle(int seconds) {
  Job job(monitorProgram(), "idle");
  if (!startJob(job)) return 1;
  if (!job.send(tarn::encodeStatus(40020)) ||
      !pollUntil([&] { return visibleAlert(job.processId(), nullptr) != nullptr; }, kWaitMs)) {
    std::fprintf(stderr, "no alert on screen\n");
    return 1;
  }
  Sleep(2000);  // painted and settled
  const unsigned pid = linuxProcessWith(job.name() + L" ");
  if (pid == 0) {
    std::fprintf(stderr, "the monitor's Linux process was not found\n");
    return 1;
  }
  const auto before = taskCounters(pid);
  const std::uint64_t timesBefore = systemProcessTimes(job.processId());
  const double begun = nowMs();
  Sleep(static_cast<DWORD>(seconds) * 1000);
  const auto after = taskCounters(pid);
  const std::uint64_t timesAfter = systemProcessTimes(job.processId());
  const double spanS = (nowMs() - begun) / 1000.0;
  std::uint64_t cpuNs = 0;
  double mainWakeups = -1;
  std::printf("idle %.1f s with an alert on screen (Linux pid %u):\n", spanS, pid);
  for (const auto& [tid, end] : after) {
    const auto start = before.find(tid);
    if (start == before.end()) continue;
    const std::uint64_t voluntary = end.voluntary - start->second.voluntary;
    const std::uint64_t involuntary = end.involuntary - start->second.involuntary;
    const std::uint64_t ns = end.cpuNs - start->second.cpuNs;
    cpuNs += ns;
    // The main Windows thread of a Wine process is the Linux process's
    // first thread.
    if (tid == pid) mainWakeups = static_cast<double>(voluntary) / spanS;
    std::printf("  thread %u%s %-16s %6llu blocking waits, %4llu preemptions, %8.3f ms CPU\n", tid,
                tid == pid ? " (main)" : "       ", end.name.c_str(),
                static_cast<unsigned long long>(voluntary),
                static_cast<unsigned long long>(involuntary), static_cast<double>(ns) / 1e6);
  }
  const double share = static_cast<double>(cpuNs) / 1e9 / spanS * 100.0;
  std::printf("main thread: %.2f wake-ups/s; process: %.4f %% of one core (%.3f ms); "
              "NtQuerySystemInformation: %.1f ms\n",
              mainWakeups, share, static_cast<double>(cpuNs) / 1e6,
              static_cast<double>(timesAfter - timesBefore) / 1e4);
  job.send(tarn::encodeJobEnd(7));
  figure("idle_wakeups_per_s", mainWakeups);
  figure("idle_cpu_percent", share);
  return 0;
}

// A copy of the program in a folder of its own, without its language data.
std::wstring programWithoutLanguageData() {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"monitor-bench-bare";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring copy = folder + L"\\qmxMeadowMonitor.exe";
  CopyFileW(monitorProgram().c_str(), copy.c_str(), FALSE);
  return copy;
}

// The time until the program opened its status stream; the monitor is then
// told the job has ended, the hello-world program ends by itself.
double timeToOpen(const std::wstring& program, bool isMonitor) {
  Job job(program, isMonitor ? "start" : "hello");
  const double ms = job.connectedAfterMs();
  if (ms < 0) return -1;
  if (isMonitor) job.send(tarn::encodeJobEnd(7));
  if (!job.waitForExit(kWaitMs)) std::fprintf(stderr, "a started program did not end\n");
  return ms;
}

// How long the string mappers of the program take to read their language
// data, here, from the program's folder: the first (the XML DOM's first use
// in a process) and the second. The program itself reads them when its first
// dialog asks for a text.
void languageMapTimes(double* first, double* second) {
  const std::wstring program = monitorProgram();
  std::string folder(program.begin(), program.end());
  folder.resize(folder.find_last_of('\\') + 1);
  double begun = nowMs();
  {
    StringMapper mapper;
    mapper.load(folder, "qmx_Kestrel_DialogLangMap.xml");
    mapper.getText(7198);
  }
  *first = nowMs() - begun;
  begun = nowMs();
  {
    StringMapper mapper;
    mapper.load(folder, "qmx_Kestrel_ErrorLangMap.xml");
    mapper.getText(7198);
  }
  *second = nowMs() - begun;
}

int benchStartup(int rounds) {
  const std::wstring monitor = monitorProgram();
  const std::wstring bare = programWithoutLanguageData();
  const std::wstring hello = builtFile("tools/bench/bench_hello.exe");
  const std::wstring helloGui = builtFile("tools/bench/bench_hello_gui.exe");
  // One start of each first: the first start of a program under Wine reads
  // its file and the DLLs it needs from disk.
  timeToOpen(hello, false);
  timeToOpen(helloGui, false);
  timeToOpen(monitor, true);
  timeToOpen(bare, true);
  std::vector<double> hellos, helloGuis, monitors, bares;
  for (int i = 0; i < rounds; ++i) {
    hellos.push_back(timeToOpen(hello, false));
    helloGuis.push_back(timeToOpen(helloGui, false));
    monitors.push_back(timeToOpen(monitor, true));
    bares.push_back(timeToOpen(bare, true));
  }
  for (const auto* list : {&hellos, &helloGuis, &monitors, &bares}) {
    if (std::any_of(list->begin(), list->end(), [](double ms) { return ms < 0; })) {
      std::fprintf(stderr, "a program did not open its status stream\n");
      return 1;
    }
  }
  double firstMap = 0, secondMap = 0;
  languageMapTimes(&firstMap, &secondMap);
  const double h = percentile(hellos, 0.5), g = percentile(helloGuis, 0.5),
               m = percentile(monitors, 0.5), b = percentile(bares, 0.5);
  std::printf("process start -> status stream opened, median of %d:\n", rounds);
  std::printf("  hello world, kernel32 only    %8.1f ms\n", h);
  std::printf("  hello world, GUI (user32)     %8.1f ms\n", g);
  std::printf("  monitor                       %8.1f ms  (%.2f x GUI, %.2f x kernel32 only)\n", m,
              m / g, m / h);
  std::printf("  monitor without language data %8.1f ms  (%.2f x GUI, %.2f x kernel32 only)\n", b,
              b / g, b / h);
  std::printf("  language data read here: first map %.1f ms, second %.1f ms\n", firstMap,
              secondMap);
  figure("startup_hello_ms", h);
  figure("startup_hello_gui_ms", g);
  figure("startup_monitor_ms", m);
  figure("startup_bare_ms", b);
  figure("startup_ratio", m / g);
  figure("startup_ratio_kernel32", m / h);
  return 0;
}

struct Resources {
  std::uint64_t privateBytes = 0;
  long gdi = 0;
  std::map<int, long> gdiByType;
  long user = 0;
  PROCESS_MEMORY_COUNTERS_EX wineCounters = {};
};

Resources resourcesOf(const Job& job, unsigned pid) {
  Resources r;
  // The GDI table first: reading it makes its 1.5 MiB resident in the
  // program, which the memory read after it then always includes.
  r.gdi = gdiObjects(job.process(), &r.gdiByType);
  r.user = userObjects(job.process(), job.processId());
  r.privateBytes = privateBytes(pid);
  r.wineCounters.cb = sizeof r.wineCounters;
  GetProcessMemoryInfo(job.process(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&r.wineCounters),
                       sizeof r.wineCounters);
  return r;
}

void printResources(const char* when, const Resources& r) {
  std::printf("  %-24s private %8.1f KiB, GDI objects %4ld, USER objects %4ld "
              "(GetProcessMemoryInfo: PrivateUsage %zu, PagefileUsage %.1f KiB)\n",
              when, static_cast<double>(r.privateBytes) / 1024.0, r.gdi, r.user,
              static_cast<std::size_t>(r.wineCounters.PrivateUsage),
              static_cast<double>(r.wineCounters.PagefileUsage) / 1024.0);
  std::printf("  %-24s GDI objects by type:", "");
  for (const auto& [type, count] : r.gdiByType) std::printf(" 0x%02x:%ld", type, count);
  std::printf("\n");
}

// Many alerts in one job: each cycle shows an alert, replaces it with
// another of its template, opens its details ("more..."), shows an alert with
// a picture, replaces that too, and dismisses them all; every alert is
// waited for until it is on screen. The resources are read with the first
// alert on screen, and with the same alert on screen again after a tenth of
// the alerts (every template has been shown many times by then) and after
// the last.
int benchGrowth(int alerts) {
  Job job(monitorProgram(), "growth");
  if (!startJob(job)) return 1;
  const DWORD id = job.processId();
  auto show = [&](std::uint32_t code, std::size_t visible) {
    const std::set<HWND> before = dialogWindows(id);
    return job.send(tarn::encodeStatus(code)) && waitForNewDialog(id, before, visible) != nullptr;
  };
  auto dismiss = [&] { return job.send(tarn::encodeStatus(10001)) && waitForNoDialog(id); };
  int shown = 0;
  auto cycle = [&] {
    bool ok = show(40020, 1) && show(40021, 1);
    HWND replaced = ok ? visibleAlert(id, L"Clamshell Open") : nullptr;
    if (replaced != nullptr) {
      const std::set<HWND> before = dialogWindows(id);
      ok = probe::clickControl(replaced, kMoreLink) && waitForNewDialog(id, before, 2) != nullptr;
    }
    ok = ok && show(41101, 3) && show(40122, 3) && dismiss();
    if (!ok) std::fprintf(stderr, "the cycle after %d alerts went wrong\n", shown);
    shown += 5;
    return ok;
  };
  unsigned pid = 0;
  // Reads the resources with the first alert on screen, then dismisses it.
  auto measure = [&](Resources* into) {
    if (!show(40020, 1)) return false;
    ++shown;
    Sleep(1000);  // painted and settled
    if (pid == 0) pid = linuxProcessWith(job.name() + L" ");
    if (pid == 0) {
      std::fprintf(stderr, "the monitor's Linux process was not found\n");
      return false;
    }
    *into = resourcesOf(job, pid);
    return dismiss();
  };
  Resources first, warm, last;
  if (!measure(&first)) return 1;
  const double begun = nowMs();
  int warmAt = 0;
  while (shown < alerts - 1) {
    if (!cycle()) return 1;
    if (warmAt == 0 && shown >= alerts / 10) {
      if (!measure(&warm)) return 1;
      warmAt = shown;
    }
  }
  const double took = (nowMs() - begun) / 1000.0;
  if (!measure(&last)) return 1;
  job.send(tarn::encodeJobEnd(7));
  std::printf("%d alerts shown, replaced and dismissed (%.1f s):\n", shown, took);
  printResources("after the first alert:", first);
  char warmLabel[40];
  std::snprintf(warmLabel, sizeof warmLabel, "after %d alerts:", warmAt);
  printResources(warmLabel, warm);
  printResources("after the last alert:", last);
  const auto kib = [](std::uint64_t from, std::uint64_t to) {
    return (static_cast<double>(to) - static_cast<double>(from)) / 1024.0;
  };
  std::printf("  since the first alert: private %+.1f KiB, GDI objects %+ld, USER objects %+ld\n",
              kib(first.privateBytes, last.privateBytes), last.gdi - first.gdi,
              last.user - first.user);
  std::printf("  since %d alerts: private %+.1f KiB, GDI objects %+ld, USER objects %+ld\n",
              warmAt, kib(warm.privateBytes, last.privateBytes), last.gdi - warm.gdi,
              last.user - warm.user);
  figure("growth_alerts", shown);
  figure("growth_warm_alerts", warmAt);
  figure("growth_private_kib", kib(first.privateBytes, last.privateBytes));
  figure("growth_gdi_objects", static_cast<double>(last.gdi - first.gdi));
  figure("growth_user_objects", static_cast<double>(last.user - first.user));
  figure("growth_warm_private_kib", kib(warm.privateBytes, last.privateBytes));
  figure("growth_warm_gdi_objects", static_cast<double>(last.gdi - warm.gdi));
  figure("growth_warm_user_objects", static_cast<double>(last.user - warm.user));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  // A window of the bench's own keeps Wine's desktop process running for as
  // long as the bench runs, as Windows' desktop always is; otherwise it
  // ends a little after the last program with a window, and the next
  // program's first window waits for it to start again.
  HWND keeper = CreateWindowExW(0, L"STATIC", L"monitor_bench", WS_POPUP, 0, 0, 1, 1, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  const int count = argc > 2 ? std::atoi(argv[2]) : 0;
  int result = 2;
  if (what == "alert") {
    result = benchAlert(count > 0 ? count : 100);
  } else if (what == "first") {
    result = benchFirst(count > 0 ? count : 10);
  } else if (what == "idle") {
    result = benchIdle(count > 0 ? count : 10);
  } else if (what == "startup") {
    result = benchStartup(count > 0 ? count : 10);
  } else if (what == "growth") {
    result = benchGrowth(count > 0 ? count : 10000);
  } else {
    std::fprintf(stderr, "usage: monitor_bench alert|first|idle|startup|growth [COUNT]\n");
  }
  if (keeper != nullptr) DestroyWindow(keeper);
  return result;
}
