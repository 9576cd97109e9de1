// Port-monitor simulator: serves the status and request streams of the status
// monitor the way the printer's port monitor does, plays a job script on the
// status stream, logs every request the monitor writes, and reports the exit
// code of the program it started. See README.md, "Port-monitor simulator".
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bridge/port_side.h"
#include "channel/status_record.h"
#include "platform/text.h"
#include "platform/win32/scoped_win_handle.h"
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
    "  --message-mode  serve the status stream as a message pipe: each write is\n"
    "                  one message, and with --handles PROGRAM reads in message mode\n"
    "  --timeout MS    end PROGRAM (exit code 124) or stop waiting after MS\n"
    "                  milliseconds; 0 waits for ever (default 60000)\n"
    "  --log FILE      write the log to FILE as well as to standard output\n";

using portside::Log;
using portside::PendingIo;
using portside::RequestServer;
using portside::StatusServer;

struct Options {
  std::wstring name;
  bool handles = false;
  bool bare = false;
  bool messageMode = false;
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
    } else if (arg == L"--message-mode") {
      options->messageMode = true;
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

bool readWholeFile(const std::wstring& path, std::string* text) {
  const platform::ScopedWinHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) {
    text->append(buffer, got);
  }
  return ok;
}

// Plays the script on the status stream. Returns when the script has ended,
// the stream broke, or `stop` was set.
class Player {
 public:
  Player(StatusServer* status, RequestServer* requests,
         const std::vector<jobscript::Action>& actions, HANDLE stop, Log* log)
      : status_(status), requests_(requests), actions_(actions), stop_(stop), log_(log) {}

  void play() {
    playScript();
    done_.store(true);
  }
  bool done() const { return done_.load(); }

 private:
  void playScript();
  // Writes all bytes (a zero-length write when there are none); false when
  // the stream broke or the simulator stops.
  bool write(const std::uint8_t* bytes, std::size_t size);
  // Waits for a named event or a file; false when the simulator stops.
  bool waitForEvent(const jobscript::Action& action, const std::string& where);
  bool waitForFile(const jobscript::Action& action, const std::string& where);
  bool stopping() const { return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }

  StatusServer* status_;
  RequestServer* requests_;
  const std::vector<jobscript::Action>& actions_;
  HANDLE stop_;
  Log* log_;
  PendingIo io_;
  std::atomic<bool> done_{false};
};

bool Player::write(const std::uint8_t* bytes, std::size_t size) {
  return io_.writeAll(status_->get(), bytes, size, {stop_});
}

// How long since `start`, for the log.
std::string millisecondsSince(ULONGLONG start) {
  return std::to_string(GetTickCount64() - start) + " ms";
}

bool Player::waitForEvent(const jobscript::Action& action, const std::string& where) {
  // Opens the event when the test created it already; otherwise creates it
  // (auto-reset, so that each SetEvent releases one wait).
  const platform::ScopedWinHandle event(
      CreateEventW(nullptr, FALSE, FALSE, platform::utf8ToWide(action.target).c_str()));
  if (!event) {
    log_->line(where + ": cannot be opened (error " + std::to_string(GetLastError()) + ")");
    return true;
  }
  const ULONGLONG start = GetTickCount64();
  const HANDLE handles[] = {event.get(), stop_};
  const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, action.milliseconds);
  if (woken == WAIT_OBJECT_0 + 1) return false;
  log_->line(where + (woken == WAIT_OBJECT_0 ? ": set after " : ": timed out after ") +
             millisecondsSince(start));
  return true;
}

bool Player::waitForFile(const jobscript::Action& action, const std::string& where) {
  const std::wstring path = platform::utf8ToWide(action.target);
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      log_->line(where + ": set after " + millisecondsSince(start));
      return true;
    }
    const ULONGLONG waited = GetTickCount64() - start;
    if (waited >= action.milliseconds) {
      log_->line(where + ": timed out after " + millisecondsSince(start));
      return true;
    }
    const ULONGLONG left = action.milliseconds - waited;
    if (WaitForSingleObject(stop_, left < 10 ? static_cast<DWORD>(left) : 10) == WAIT_OBJECT_0)
      return false;
  }
}

void Player::playScript() {
  if (io_.connect(status_->get(), {stop_}) != PendingIo::Result::kDone) return;
  log_->line("status stream connected");
  using Kind = jobscript::Action::Kind;
  for (const jobscript::Action& action : actions_) {
    const std::string where = "line " + std::to_string(action.line) + ": " + action.keyword;
    switch (action.kind) {
      case Kind::kSend:
      case Kind::kEmptyWrite:
        if (!write(action.bytes.data(), action.bytes.size())) {
          if (!stopping()) log_->line(where + ": status stream broken, script ends");
          return;
        }
        log_->line(where + " (" + std::to_string(action.bytes.size()) + " bytes)");
        break;
      case Kind::kPause:
        log_->line(where + " " + std::to_string(action.milliseconds) + " ms");
        if (WaitForSingleObject(stop_, action.milliseconds) == WAIT_OBJECT_0) return;
        break;
      case Kind::kWaitEvent:
        if (!waitForEvent(action, where + " " + action.target)) return;
        break;
      case Kind::kWaitFile:
        if (!waitForFile(action, where + " " + action.target)) return;
        break;
      case Kind::kFlush:
        // Returns once the monitor has read everything written so far (or
        // the simulator stops and disconnects the stream).
        if (!FlushFileBuffers(status_->get())) {
          if (!stopping()) log_->line(where + ": status stream broken, script ends");
          return;
        }
        if (stopping()) return;
        log_->line(where + ": read by the monitor");
        break;
      case Kind::kClose:
        // Returns once the monitor has read everything (or the simulator
        // stops and disconnects the stream).
        FlushFileBuffers(status_->get());
        status_->closeHandle();
        if (!stopping()) log_->line(where + ": status stream closed");
        return;
      case Kind::kCut:
        status_->disconnect();
        status_->closeHandle();
        log_->line(where + ": status stream cut");
        return;
      case Kind::kCloseRequests:
        requests_->close();
        if (stopping()) return;
        log_->line(where + ": request stream closed");
        break;
      case Kind::kIgnoreRequests:
        requests_->ignore();
        if (stopping()) return;
        log_->line(where + ": requests no longer read");
        break;
    }
  }
  log_->line("script played");
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

  const portside::PipeNames names(options.name);
  // Overlapped server ends, so that the simulator can give up any wait.
  portside::PipePair pipes;
  std::string pipeError;
  if (!portside::createPipePair(names, options.messageMode, &pipes, &pipeError)) {
    std::fprintf(stderr, "port_monitor_sim: %s\n", pipeError.c_str());
    log->line(pipeError);
    return kSetupError;
  }
  log->line("pipes " + platform::wideToUtf8(names.status) + " " +
            platform::wideToUtf8(names.requests));

  // Handles the started program inherits: client ends opened here.
  platform::ScopedWinHandle inheritedStatus, inheritedRequests;
  if (options.handles) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    inheritedStatus.reset(CreateFileW(names.status.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                                      0, &inherit, OPEN_EXISTING, 0, nullptr));
    inheritedRequests.reset(CreateFileW(names.requests.c_str(), GENERIC_WRITE, 0, &inherit,
                                        OPEN_EXISTING, 0, nullptr));
    if (!inheritedStatus || !inheritedRequests) {
      std::fprintf(stderr, "port_monitor_sim: cannot open the client ends (error %lu)\n",
                   GetLastError());
      return kSetupError;
    }
    // The program's reads then end at each record written, with
    // ERROR_MORE_DATA when it asked for less than the record.
    DWORD readMode = PIPE_READMODE_MESSAGE;
    if (options.messageMode &&
        !SetNamedPipeHandleState(inheritedStatus.get(), &readMode, nullptr, nullptr)) {
      std::fprintf(stderr, "port_monitor_sim: cannot set the message read mode (error %lu)\n",
                   GetLastError());
      return kSetupError;
    }
  }

  const platform::ScopedWinHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  StatusServer statusServer(std::move(pipes.status));
  RequestServer requestServer(std::move(pipes.requests), stop.get(), log);
  Player player(&statusServer, &requestServer, actions, stop.get(), log);
  std::thread playerThread(&Player::play, &player);
  std::thread requestThread(&RequestServer::serve, &requestServer);

  int result = 0;
  if (!options.program.empty()) {
    std::wstring commandLine = portside::commandLineOf(options.program);
    if (!options.bare) {
      if (options.handles) {
        commandLine +=
            L" input=" + std::to_wstring(reinterpret_cast<std::intptr_t>(inheritedStatus.get())) +
            L" output=" +
            std::to_wstring(reinterpret_cast<std::intptr_t>(inheritedRequests.get()));
      } else {
        commandLine += L" pipe=" + names.base;
      }
    }
    log->line("start " + platform::wideToUtf8(commandLine));
    portside::Program program;
    std::string startError;
    const bool started = program.start(commandLine, options.handles, &startError);
    // The program holds its own copies now; without closing these the
    // simulator would never see the program's ends close.
    inheritedStatus.close();
    inheritedRequests.close();
    if (!started) {
      log->line("cannot start the program (" + startError + ")");
      result = kSetupError;
    } else {
      if (!program.wait(options.timeout)) {
        log->line("timeout after " + std::to_string(options.timeout) + " ms: program ended");
        program.terminate(kTimedOutExitCode);
      }
      const DWORD code = program.exitCode();
      log->line("exit code " + std::to_string(static_cast<long>(code)));
      result = static_cast<int>(code);
    }
  } else {
    // No program: the tester starts the monitor by hand. Wait until it
    // closes its end of the request stream, which it does when it exits;
    // once the script has closed that stream itself, until the script ends.
    log->line("waiting for a monitor on pipe=" + platform::wideToUtf8(names.base));
    const ULONGLONG start = GetTickCount64();
    while (!requestServer.ended() && !(requestServer.closed() && player.done())) {
      if (options.timeout != INFINITE && GetTickCount64() - start >= options.timeout) {
        log->line("timeout after " + std::to_string(options.timeout) + " ms");
        break;
      }
      Sleep(20);
    }
  }

  // Whatever still waits is released and joined: pauses, waits, pending
  // connects, reads and writes end at the stop event, and a flush of a
  // closing script ends when the status stream is disconnected (the monitor
  // started by hand may still be there and reading no more).
  SetEvent(stop.get());
  statusServer.disconnect();
  playerThread.join();
  requestThread.join();
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
