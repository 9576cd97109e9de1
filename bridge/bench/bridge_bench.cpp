// bridge_bench: the IPP status bridge as its users meet it, under Wine,
// against the fake printer of bridge/tests/printer_peer.py (which runs it):
//
//   printer_peer.py -- wine bridge_bench.exe [CHANGES] [IDLE_SECONDS]
//
// latency: the printer's state changes (a door opens, then closes) at times
//   that fall anywhere within the bridge's 1 s poll; each change is timed from
//   the moment the printer holds it until the monitor's alert is visible (or,
//   for a closing, gone), polled every millisecond. CHANGES (default 20) of
//   them; p50, p95 and the largest.
// idle: then, with nothing changing, the bridge's CPU over IDLE_SECONDS
//   (default 20) as a share of one core, read from Linux
//   (/proc/<pid>/task/*/schedstat, nanoseconds on a CPU per thread; the
//   bridge's Linux process is found by its unique pipe name on its command
//   line).
// Prints "BENCH name value" lines for tools/bench.sh.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bridge/port_side.h"
#include "platform/text.h"
#include "platform/win32/scoped_win_handle.h"
#include "tools/window_probe.h"

namespace {

constexpr int kMessageControl = 2037;
constexpr DWORD kIntervalMs = 1000;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool peer(const std::string& path) {
  const std::string base = environment("BRIDGE_PEER_URL");
  const INTERNET_PORT port =
      static_cast<INTERNET_PORT>(std::atoi(base.substr(base.rfind(':') + 1).c_str()));
  HINTERNET session = WinHttpOpen(L"bridge-bench", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", port, 0);
  HINTERNET request = WinHttpOpenRequest(connection, L"GET", platform::utf8ToWide(path).c_str(),
                                         nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
  DWORD status = 0, size = sizeof status;
  const bool ok =
      WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) &&
      WinHttpReceiveResponse(request, nullptr) &&
      WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) &&
      status == 200;
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  return ok;
}

double nowMs() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring besideThisProgram(const wchar_t* relative) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + relative;
}

std::string readText(const std::wstring& path) {
  const platform::ScopedWinHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
  if (!file) return std::string();
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  return text;
}

// The Linux process whose command line holds `needle`; 0 when none does.
unsigned linuxProcessWith(const std::string& needle) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  unsigned found = 0;
  do {
    const std::wstring name = entry.cFileName;
    if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    std::string line = readText(L"Z:\\proc\\" + name + L"\\cmdline");
    std::replace(line.begin(), line.end(), '\0', ' ');
    if (line.find(needle) != std::string::npos)
      found = static_cast<unsigned>(std::wcstoul(name.c_str(), nullptr, 10));
  } while (found == 0 && FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}

// Nanoseconds on a CPU of every thread of a Linux process.
std::uint64_t cpuNanoseconds(unsigned pid) {
  const std::wstring folder = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\task\\";
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  std::uint64_t total = 0;
  do {
    const std::wstring name = entry.cFileName;
    if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    total += std::strtoull(readText(folder + name + L"\\schedstat").c_str(), nullptr, 10);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return total;
}

bool doorAlertVisible(DWORD monitor) {
  for (const probe::Dialog& dialog : probe::visibleDialogsOf(monitor))
    if (dialog.text(kMessageControl) == L"Rear Access Door Open") return true;
  return false;
}

double percentile(std::vector<double> samples, double fraction) {
  std::sort(samples.begin(), samples.end());
  const std::size_t index = static_cast<std::size_t>(fraction * (samples.size() - 1) + 0.5);
  return samples[index];
}

}  // namespace

int main(int argc, char** argv) {
  const int changes = argc > 1 ? std::atoi(argv[1]) : 20;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 20;
  if (environment("BRIDGE_FAKE_URI").empty() || changes < 2 || idleSeconds < 1) {
    std::fprintf(stderr, "usage: printer_peer.py -- wine bridge_bench.exe [CHANGES] [IDLE_SECONDS]\n");
    return 2;
  }
  if (!peer("/fake?reset=1")) {
    std::fprintf(stderr, "the printer peer does not answer\n");
    return 1;
  }
  const std::string name = "bridge-bench-" + std::to_string(GetCurrentProcessId());
  const std::vector<std::wstring> command{
      besideThisProgram(L"ipp_status_bridge.exe"), L"--interval", std::to_wstring(kIntervalMs),
      L"--name", platform::utf8ToWide(name), platform::utf8ToWide(environment("BRIDGE_FAKE_URI")),
      L"--", besideThisProgram(L"..\\app\\qmxMeadowMonitor.exe")};
  portside::Program bridge;
  std::string error;
  if (!bridge.start(portside::commandLineOf(command), false, &error)) {
    std::fprintf(stderr, "cannot start the bridge: %s\n", error.c_str());
    return 1;
  }
  DWORD monitor = 0;
  probe::waitUntil([&] { return (monitor = probe::findChildProcess(GetProcessId(bridge.process()))) != 0; },
                   20000);
  int status = 0;
  std::vector<double> latencies;
  if (monitor == 0) {
    std::fprintf(stderr, "the bridge started no monitor\n");
    status = 1;
  }
  // The changes fall at spread phases of the poll: a varying pause before each.
  for (int i = 0; status == 0 && i < changes; ++i) {
    Sleep(250 + static_cast<DWORD>((i * 379) % 700));
    const bool open = i % 2 == 0;
    if (!peer(open ? "/fake?reasons=door-open-error" : "/fake?reasons=none")) {
      status = 1;
      break;
    }
    const double changed = nowMs();
    double seen = 0;
    const bool shown = probe::waitUntil(
        [&] {
          if (doorAlertVisible(monitor) != open) return false;
          seen = nowMs();
          return true;
        },
        10000);
    if (!shown) {
      std::fprintf(stderr, "change %d never reached the screen\n", i);
      status = 1;
      break;
    }
    latencies.push_back(seen - changed);
  }
  if (status == 0) {
    std::printf("printer change -> screen, %zu changes at a %lu ms interval: p50 %.1f ms, p95 "
                "%.1f ms, largest %.1f ms\n",
                latencies.size(), kIntervalMs, percentile(latencies, 0.5),
                percentile(latencies, 0.95), percentile(latencies, 1.0));
    std::printf("BENCH bridge_change_p50_ms %.3f\n", percentile(latencies, 0.5));
    std::printf("BENCH bridge_change_p95_ms %.3f\n", percentile(latencies, 0.95));
    std::printf("BENCH bridge_change_budget_ms %.3f\n", kIntervalMs + 100.0);

    const unsigned pid = linuxProcessWith("ipp_status_bridge.exe --interval 1000 --name " + name);
    if (pid == 0) {
      std::fprintf(stderr, "the bridge's Linux process was not found\n");
      status = 1;
    } else {
      const std::uint64_t before = cpuNanoseconds(pid);
      const double start = nowMs();
      Sleep(static_cast<DWORD>(idleSeconds) * 1000);
      const double elapsed = nowMs() - start;
      const std::uint64_t after = cpuNanoseconds(pid);
      const double percent = 100.0 * static_cast<double>(after - before) / 1e6 / elapsed;
      std::printf("bridge between changes, %d s at a %lu ms interval: %.3f ms of CPU, %.4f %% of "
                  "one core\n",
                  idleSeconds, kIntervalMs, static_cast<double>(after - before) / 1e6, percent);
      std::printf("BENCH bridge_idle_cpu_percent %.6f\n", percent);
    }
  }
  // The job ends: the bridge and the monitor exit.
  peer("/fake?reasons=none&job=forgotten");
  if (!bridge.wait(30000)) {
    std::fprintf(stderr, "the bridge did not end\n");
    bridge.terminate(1);
    status = 1;
  }
  return status;
}
