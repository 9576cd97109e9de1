// Port-monitor simulator: serves the status and request streams of the status
// monitor the way the printer's port monitor does, plays a job script on the
// status stream, logs every request the monitor writes, and reports the exit
// code of the program it started. See README.md, "Port-monitor simulator".
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channel/status_record.h"
#include "platform/byte_stream.h"
#include "platform/text.h"
#include "tools/job_script.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kSetupError = 3;
// The exit code a program gets when the simulator ends it after --timeout.
constexpr UINT kTimedOutExitCode = 124;

const char kUsage[] =
    "usage: port_monitor_sim [options] SCRIPT [-- PROGRAM [ARGUMENT...]]\n"
    "  --name NAME     base name of the pipes \\\\.\\pipe\\NAME.status and .requests\n"
    "                  (default: monitor-sim-PID)\n"
    "  --handles       pass inherited handle numbers input=N output=M instead of\n"
    "                  pipe=\\\\.\\pipe\\NAME (needs PROGRAM)\n"
    "  --bare          start PROGRAM with its own arguments only (needs PROGRAM)\n"
    "  --timeout MS    end PROGRAM (exit code 124) or stop waiting after MS\n"
    "                  milliseconds; 0 waits for ever (default 60000)\n"
    "  --log FILE      write the log to FILE as well as to standard output\n";

// Log lines go to standard output and, when asked, to a file; whole lines,
// from any thread.
class Log {
 public:
  bool openFile(const std::string& path) {
    file_.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    return file_.is_open();
  }

  void line(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (file_.is_open()) {
      file_ << text << '\n';
      file_.flush();
    }
  }

 private:
  std::mutex lock_;
  std::ofstream file_;
};

struct Options {
  std::wstring name;
  bool handles = false;
  bool bare = false;
  DWORD timeout = 60000;
  std::string logPath;
  std::wstring scriptPath;
  std::vector<std::wstring> program;  // path and arguments
};

bool parseOptions(int argc, wchar_t** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--") {
      ++i;
      break;
    }
    if (arg == L"--handles") {
      options->handles = true;
    } else if (arg == L"--bare") {
      options->bare = true;
    } else if ((arg == L"--name" || arg == L"--timeout" || arg == L"--log") && i + 1 < argc) {
      const std::wstring value = argv[++i];
      if (arg == L"--name") {
        options->name = value;
      } else if (arg == L"--log") {
        options->logPath = platform::wideToUtf8(value);
      } else {
        wchar_t* end = nullptr;
        options->timeout = static_cast<DWORD>(wcstoul(value.c_str(), &end, 10));
        if (end == value.c_str() || *end != L'\0') return false;
        if (options->timeout == 0) options->timeout = INFINITE;
      }
    } else if (!arg.empty() && arg[0] == L'-') {
      return false;
    } else if (options->scriptPath.empty()) {
      options->scriptPath = arg;
    } else {
      return false;
    }
  }
  for (; i < argc; ++i) options->program.push_back(argv[i]);
  if (options->name.empty())
    options->name = L"monitor-sim-" + std::to_wstring(GetCurrentProcessId());
  // Handle numbers and bare arguments only mean something to a started program.
  if ((options->handles || options->bare) && options->program.empty()) return false;
  return !options->scriptPath.empty();
}

// Quotes one argument for CreateProcessW the way the C runtime splits it:
// backslashes before a quote and at the end are doubled, quotes escaped.
std::wstring quoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      if (c == L'"') out.append(backslashes + 1, L'\\');
      backslashes = 0;
    }
    out.push_back(c);
  }
  out.append(backslashes, L'\\');
  out.push_back(L'"');
  return out;
}

bool readWholeFile(const std::wstring& path, std::string* text) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) {
    text->append(buffer, got);
  }
  CloseHandle(file);
  return ok;
}

std::string hexOf(const std::uint8_t* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    if (i) out.push_back(' ');
    out.push_back(digits[bytes[i] >> 4]);
    out.push_back(digits[bytes[i] & 15]);
  }
  return out;
}

// Accepts the client of a server end; a client that opened it before is
// accepted too. False when the wait was given up (the end was closed).
bool acceptClient(HANDLE server) {
  return ConnectNamedPipe(server, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
}

// Releases a thread that waits in ConnectNamedPipe for a client that will
// never come: the simulator connects to its own pipe.
void releaseWaitingServer(const std::wstring& name, DWORD access) {
  HANDLE self = CreateFileW(name.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (self != INVALID_HANDLE_VALUE) CloseHandle(self);
}

// Logs the requests the monitor writes until its end of the stream is closed.
void serveRequestStream(HANDLE server, HANDLE stop, Log* log) {
  if (!acceptClient(server) || WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return;
  const auto stream = reinterpret_cast<platform::StreamHandle>(server);
  for (;;) {
    std::uint8_t header[tarn::kHeaderSize];
    if (!platform::readExactly(stream, header, sizeof header)) break;
    tarn::RecordHeader decoded;
    if (tarn::decodeHeader(header, sizeof header, &decoded) != tarn::HeaderResult::kOk) {
      log->line("request with a wrong magic: " + hexOf(header, sizeof header));
      break;
    }
    log->line("request class=" + std::to_string(decoded.recordClass) + " subcode=" +
              std::to_string(decoded.subcode) + " length=" + std::to_string(decoded.length));
    std::uint32_t left = decoded.length;
    std::uint8_t scratch[4096];
    while (left > 0) {
      const std::uint32_t chunk = left < sizeof scratch ? left : sizeof scratch;
      if (!platform::readExactly(stream, scratch, chunk)) return;
      left -= chunk;
    }
  }
  log->line("request stream ended");
}

void serveRequests(HANDLE server, HANDLE stop, std::atomic<bool>* ended, Log* log) {
  serveRequestStream(server, stop, log);
  ended->store(true);
}

// Plays the script on the status stream. Returns when the script has ended,
// the stream broke, or `stop` was signalled during a pause.
void playScript(HANDLE server, const std::vector<jobscript::Action>& actions, HANDLE stop,
                std::atomic<bool>* closed, Log* log) {
  // Woken by the simulator itself when no client came: nothing to play.
  if (!acceptClient(server) || WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return;
  log->line("status stream connected");
  const auto stream = reinterpret_cast<platform::StreamHandle>(server);
  for (const jobscript::Action& action : actions) {
    const std::string where = "line " + std::to_string(action.line) + ": " + action.keyword;
    switch (action.kind) {
      case jobscript::Action::Kind::kSend:
        if (!platform::writeAll(stream, action.bytes.data(), action.bytes.size())) {
          log->line(where + ": status stream broken, script ends");
          return;
        }
        log->line(where + " (" + std::to_string(action.bytes.size()) + " bytes)");
        break;
      case jobscript::Action::Kind::kPause:
        log->line(where + " " + std::to_string(action.milliseconds) + " ms");
        if (WaitForSingleObject(stop, action.milliseconds) == WAIT_OBJECT_0) return;
        break;
      case jobscript::Action::Kind::kClose:
        FlushFileBuffers(server);
        closed->store(true);
        CloseHandle(server);
        log->line(where + ": status stream closed");
        return;
    }
  }
  log->line("script played");
}

int run(const Options& options, Log* log) {
  std::string text;
  if (!readWholeFile(options.scriptPath, &text)) {
    std::fprintf(stderr, "port_monitor_sim: cannot read %s\n",
                 platform::wideToUtf8(options.scriptPath).c_str());
    return kUsageError;
  }
  std::vector<jobscript::Action> actions;
  std::string error;
  if (!jobscript::parse(text, &actions, &error)) {
    std::fprintf(stderr, "port_monitor_sim: %s: %s\n",
                 platform::wideToUtf8(options.scriptPath).c_str(), error.c_str());
    return kUsageError;
  }

  const std::wstring base = L"\\\\.\\pipe\\" + options.name;
  const std::wstring statusName = base + L".status";
  const std::wstring requestName = base + L".requests";
  HANDLE status = CreateNamedPipeW(statusName.c_str(), PIPE_ACCESS_OUTBOUND,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536,
                                   0, nullptr);
  HANDLE requests = CreateNamedPipeW(requestName.c_str(), PIPE_ACCESS_INBOUND,
                                     PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536,
                                     65536, 0, nullptr);
  if (status == INVALID_HANDLE_VALUE || requests == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "port_monitor_sim: cannot create %s (error %lu)\n",
                 platform::wideToUtf8(base).c_str(), GetLastError());
    return kSetupError;
  }
  log->line("pipes " + platform::wideToUtf8(statusName) + " " + platform::wideToUtf8(requestName));

  // Handles the started program inherits: client ends opened here.
  HANDLE inheritedStatus = nullptr, inheritedRequests = nullptr;
  if (options.handles) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    inheritedStatus =
        CreateFileW(statusName.c_str(), GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    inheritedRequests =
        CreateFileW(requestName.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    if (inheritedStatus == INVALID_HANDLE_VALUE || inheritedRequests == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "port_monitor_sim: cannot open the client ends (error %lu)\n",
                   GetLastError());
      return kSetupError;
    }
  }

  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> statusClosed{false};
  std::thread player(playScript, status, std::cref(actions), stop, &statusClosed, log);
  std::atomic<bool> requestsEnded{false};
  std::thread listener(serveRequests, requests, stop, &requestsEnded, log);
  bool timedOut = false;

  int result = 0;
  if (!options.program.empty()) {
    std::wstring commandLine;
    for (const std::wstring& arg : options.program) {
      if (!commandLine.empty()) commandLine += L' ';
      commandLine += quoteArgument(arg);
    }
    if (!options.bare) {
      if (options.handles) {
        commandLine +=
            L" input=" + std::to_wstring(reinterpret_cast<std::intptr_t>(inheritedStatus)) +
            L" output=" + std::to_wstring(reinterpret_cast<std::intptr_t>(inheritedRequests));
      } else {
        commandLine += L" pipe=" + base;
      }
    }
    log->line("start " + platform::wideToUtf8(commandLine));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    const BOOL started =
        CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr,
                       options.handles ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &process);
    // The program holds its own copies now; without closing these the
    // simulator would never see the program's ends close.
    if (inheritedStatus) CloseHandle(inheritedStatus);
    if (inheritedRequests) CloseHandle(inheritedRequests);
    if (!started) {
      log->line("cannot start the program (error " + std::to_string(GetLastError()) + ")");
      result = kSetupError;
    } else {
      CloseHandle(process.hThread);
      if (WaitForSingleObject(process.hProcess, options.timeout) == WAIT_TIMEOUT) {
        log->line("timeout after " + std::to_string(options.timeout) + " ms: program ended");
        TerminateProcess(process.hProcess, kTimedOutExitCode);
        WaitForSingleObject(process.hProcess, INFINITE);
      }
      DWORD code = 0;
      GetExitCodeProcess(process.hProcess, &code);
      CloseHandle(process.hProcess);
      log->line("exit code " + std::to_string(static_cast<long>(code)));
      result = static_cast<int>(code);
    }
  } else {
    // No program: the tester starts the monitor by hand. Wait until it
    // closes its end of the request stream, which it does when it exits.
    log->line("waiting for a monitor on pipe=" + platform::wideToUtf8(base));
    const ULONGLONG start = GetTickCount64();
    while (!requestsEnded.load()) {
      if (options.timeout != INFINITE && GetTickCount64() - start >= options.timeout) {
        log->line("timeout after " + std::to_string(options.timeout) + " ms");
        timedOut = true;
        break;
      }
      Sleep(20);
    }
  }

  if (timedOut) {
    // A monitor that is still there may keep a write or a read blocked:
    // leave the threads to the end of the process.
    player.detach();
    listener.detach();
    return result;
  }
  // Whatever still waits is released: the script's pauses and a server end
  // whose client never came. The program's ends are closed by now, so
  // reads and writes on the pipes fail.
  SetEvent(stop);
  releaseWaitingServer(statusName, GENERIC_READ);
  releaseWaitingServer(requestName, GENERIC_WRITE);
  player.join();
  if (!statusClosed.load()) CloseHandle(status);
  listener.join();
  CloseHandle(requests);
  CloseHandle(stop);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  Log log;
  if (!options.logPath.empty() && !log.openFile(options.logPath)) {
    std::fprintf(stderr, "port_monitor_sim: cannot write %s\n", options.logPath.c_str());
    return kUsageError;
  }
  return run(options, &log);
}
