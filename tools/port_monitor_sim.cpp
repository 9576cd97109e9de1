// Port-monitor simulator: serves the status and request streams of the status
// monitor the way the printer's port monitor does, plays a job script on the
// status stream, logs every request the monitor writes, and reports the exit
// code of the program it started. See README.md, "Port-monitor simulator".
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <initializer_list>
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
    "  --message-mode  serve the status stream as a message pipe: each write is\n"
    "                  one message, and with --handles PROGRAM reads in message mode\n"
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

// An overlapped operation on a pipe's server end that the simulator can give
// up: every wait of the simulator's threads also ends when `stop` is set, so
// that they can be joined whatever the monitor does.
class PendingIo {
 public:
  enum class Result { kDone, kFailed, kInterrupted };

  PendingIo() { overlapped_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  ~PendingIo() { CloseHandle(overlapped_.hEvent); }
  PendingIo(const PendingIo&) = delete;
  PendingIo& operator=(const PendingIo&) = delete;

  OVERLAPPED* get() {
    const HANDLE event = overlapped_.hEvent;
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event;
    return &overlapped_;
  }

  // Finishes the operation that get() was handed to; `started` is what the
  // call that started it returned. Waits until it completes or one of the
  // `interrupts` is set (then *which is its index and the operation is
  // cancelled). *transferred receives the bytes moved.
  Result finish(HANDLE pipe, BOOL started, std::initializer_list<HANDLE> interrupts,
                DWORD* transferred, std::size_t* which = nullptr) {
    *transferred = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING) return Result::kFailed;
    std::vector<HANDLE> handles{overlapped_.hEvent};
    handles.insert(handles.end(), interrupts.begin(), interrupts.end());
    const DWORD woken =
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0) {
      CancelIoEx(pipe, &overlapped_);
      GetOverlappedResult(pipe, &overlapped_, transferred, TRUE);
      if (which) *which = woken - WAIT_OBJECT_0 - 1;
      return Result::kInterrupted;
    }
    return GetOverlappedResult(pipe, &overlapped_, transferred, FALSE) ? Result::kDone
                                                                       : Result::kFailed;
  }

  // ConnectNamedPipe: a client that opened the pipe before counts as done.
  Result connect(HANDLE pipe, std::initializer_list<HANDLE> interrupts,
                 std::size_t* which = nullptr) {
    const BOOL started = ConnectNamedPipe(pipe, get());
    if (!started && GetLastError() == ERROR_PIPE_CONNECTED) return Result::kDone;
    DWORD ignored = 0;
    return finish(pipe, started, interrupts, &ignored, which);
  }

 private:
  OVERLAPPED overlapped_ = {};
};

// The server end of the request stream, served by its own thread: logs the
// requests the monitor writes until its end is closed. The player thread
// asks it to stop reading or to close the stream; the main thread asks it to
// stop through the simulator's stop event and then joins it.
class RequestServer {
 public:
  RequestServer(HANDLE pipe, HANDLE stop, Log* log)
      : pipe_(pipe),
        stop_(stop),
        log_(log),
        wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        done_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~RequestServer() {
    if (!closed_.load()) CloseHandle(pipe_);
    CloseHandle(wake_);
    CloseHandle(done_);
  }

  // The thread's work; returns once the stop event is set.
  void serve();

  // Player thread: the server stops reading (the monitor's writes then
  // fill the pipe and block), or disconnects and closes its end (the
  // monitor's next write fails). Returns once that is done, or at a stop.
  void ignore() { command(Command::kIgnore); }
  void close() { command(Command::kClose); }

  // The monitor closed its end (or wrote a wrong magic).
  bool ended() const { return ended_.load(); }
  // The script closed the stream.
  bool closed() const { return closed_.load(); }

 private:
  enum class Command { kNone, kIgnore, kClose };
  enum class State { kConnecting, kReading, kIgnoring, kIdle };

  void command(Command command) {
    command_.store(command);
    SetEvent(wake_);
    const HANDLE handles[] = {done_, stop_};
    WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  }
  State carryOut(State state);
  void streamEnded() {
    log_->line("request stream ended");
    ended_.store(true);
  }
  // Takes the bytes of a read: a header, or part of a payload being skipped.
  bool take(DWORD count);

  HANDLE pipe_;
  HANDLE stop_;
  Log* log_;
  HANDLE wake_;  // auto-reset: a command waits
  HANDLE done_;  // auto-reset: the command was carried out
  std::atomic<Command> command_{Command::kNone};
  std::atomic<bool> ended_{false};
  std::atomic<bool> closed_{false};
  bool ignoring_ = false;
  std::uint8_t buffer_[4096];
  std::size_t headerBytes_ = 0;  // of the header being read
  std::uint32_t payloadLeft_ = 0;
};

RequestServer::State RequestServer::carryOut(State state) {
  const Command command = command_.exchange(Command::kNone);
  if (command == Command::kIgnore) {
    ignoring_ = true;
    if (state == State::kReading) state = State::kIgnoring;
  } else if (command == Command::kClose && !closed_.load()) {
    DisconnectNamedPipe(pipe_);
    CloseHandle(pipe_);
    closed_.store(true);
    state = State::kIdle;
  }
  SetEvent(done_);
  return state;
}

bool RequestServer::take(DWORD count) {
  if (payloadLeft_ > 0) {
    payloadLeft_ -= count;
    return true;
  }
  headerBytes_ += count;
  if (headerBytes_ < tarn::kHeaderSize) return true;
  headerBytes_ = 0;
  tarn::RecordHeader decoded;
  if (tarn::decodeHeader(buffer_, tarn::kHeaderSize, &decoded) != tarn::HeaderResult::kOk) {
    log_->line("request with a wrong magic: " + hexOf(buffer_, tarn::kHeaderSize));
    ended_.store(true);
    return false;
  }
  log_->line("request class=" + std::to_string(decoded.recordClass) + " subcode=" +
             std::to_string(decoded.subcode) + " length=" + std::to_string(decoded.length));
  payloadLeft_ = decoded.length;
  return true;
}

void RequestServer::serve() {
  PendingIo io;
  State state = State::kConnecting;
  for (;;) {
    if (state == State::kIdle || state == State::kIgnoring) {
      // While the requests are ignored, the end of the stream is still
      // noticed (without reading) so that a simulator without a program
      // knows when the monitor has gone.
      const HANDLE handles[] = {stop_, wake_};
      const DWORD woken =
          WaitForMultipleObjects(2, handles, FALSE, state == State::kIgnoring ? 50 : INFINITE);
      if (woken == WAIT_OBJECT_0) return;
      if (woken == WAIT_OBJECT_0 + 1) {
        state = carryOut(state);
      } else if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, nullptr, nullptr)) {
        streamEnded();
        state = State::kIdle;
      }
      continue;
    }
    std::size_t which = 0;
    DWORD count = 0;
    PendingIo::Result result;
    if (state == State::kConnecting) {
      result = io.connect(pipe_, {stop_, wake_}, &which);
    } else {
      const DWORD want = payloadLeft_ > 0
                             ? (payloadLeft_ < sizeof buffer_ ? payloadLeft_ : sizeof buffer_)
                             : static_cast<DWORD>(tarn::kHeaderSize - headerBytes_);
      std::uint8_t* into = payloadLeft_ > 0 ? buffer_ : buffer_ + headerBytes_;
      const BOOL started = ReadFile(pipe_, into, want, nullptr, io.get());
      result = io.finish(pipe_, started, {stop_, wake_}, &count, &which);
    }
    switch (result) {
      case PendingIo::Result::kInterrupted:
        if (which == 0) return;
        state = carryOut(state);
        break;
      case PendingIo::Result::kFailed:
        if (state == State::kReading) streamEnded();
        state = State::kIdle;
        break;
      case PendingIo::Result::kDone:
        if (state == State::kConnecting) {
          state = ignoring_ ? State::kIgnoring : State::kReading;
        } else if (!take(count)) {
          state = State::kIdle;
        }
        break;
    }
  }
}

// The server end of the status stream. The player writes, flushes, closes
// and cuts it; the main thread, when the simulator stops, disconnects it so
// that a player waiting in a flush for a monitor that reads no more is
// released. The lock keeps the handle valid for both.
class StatusServer {
 public:
  explicit StatusServer(HANDLE pipe) : pipe_(pipe) {}
  ~StatusServer() { closeHandle(); }

  HANDLE get() const { return pipe_; }
  bool open() {
    std::lock_guard<std::mutex> guard(lock_);
    return open_;
  }
  void closeHandle() {
    std::lock_guard<std::mutex> guard(lock_);
    if (open_) CloseHandle(pipe_);
    open_ = false;
  }
  // Disconnects the client: whatever it has not read is lost, and its next
  // read fails.
  void disconnect() {
    std::lock_guard<std::mutex> guard(lock_);
    if (open_) DisconnectNamedPipe(pipe_);
  }

 private:
  HANDLE pipe_;
  std::mutex lock_;
  bool open_ = true;
};

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
  std::size_t written = 0;
  do {
    const std::size_t left = size - written;
    const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    const BOOL started = WriteFile(status_->get(), bytes + written, chunk, nullptr, io_.get());
    DWORD count = 0;
    if (io_.finish(status_->get(), started, {stop_}, &count) != PendingIo::Result::kDone)
      return false;
    if (count == 0 && chunk > 0) return false;
    written += count;
  } while (written < size);
  return true;
}

// How long since `start`, for the log.
std::string millisecondsSince(ULONGLONG start) {
  return std::to_string(GetTickCount64() - start) + " ms";
}

bool Player::waitForEvent(const jobscript::Action& action, const std::string& where) {
  // Opens the event when the test created it already; otherwise creates it
  // (auto-reset, so that each SetEvent releases one wait).
  const HANDLE event =
      CreateEventW(nullptr, FALSE, FALSE, platform::utf8ToWide(action.target).c_str());
  if (event == nullptr) {
    log_->line(where + ": cannot be opened (error " + std::to_string(GetLastError()) + ")");
    return true;
  }
  const ULONGLONG start = GetTickCount64();
  const HANDLE handles[] = {event, stop_};
  const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, action.milliseconds);
  CloseHandle(event);
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

  const std::wstring base = L"\\\\.\\pipe\\" + options.name;
  const std::wstring statusName = base + L".status";
  const std::wstring requestName = base + L".requests";
  // Overlapped server ends, so that the simulator can give up any wait.
  const DWORD statusType = options.messageMode ? PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE
                                               : PIPE_TYPE_BYTE | PIPE_READMODE_BYTE;
  HANDLE status = CreateNamedPipeW(statusName.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                   statusType | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  HANDLE requests = CreateNamedPipeW(
      requestName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
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
    inheritedStatus = CreateFileW(statusName.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0,
                                  &inherit, OPEN_EXISTING, 0, nullptr);
    inheritedRequests =
        CreateFileW(requestName.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    if (inheritedStatus == INVALID_HANDLE_VALUE || inheritedRequests == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "port_monitor_sim: cannot open the client ends (error %lu)\n",
                   GetLastError());
      return kSetupError;
    }
    // The program's reads then end at each record written, with
    // ERROR_MORE_DATA when it asked for less than the record.
    DWORD readMode = PIPE_READMODE_MESSAGE;
    if (options.messageMode &&
        !SetNamedPipeHandleState(inheritedStatus, &readMode, nullptr, nullptr)) {
      std::fprintf(stderr, "port_monitor_sim: cannot set the message read mode (error %lu)\n",
                   GetLastError());
      return kSetupError;
    }
  }

  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  StatusServer statusServer(status);
  RequestServer requestServer(requests, stop, log);
  Player player(&statusServer, &requestServer, actions, stop, log);
  std::thread playerThread(&Player::play, &player);
  std::thread requestThread(&RequestServer::serve, &requestServer);

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
    // closes its end of the request stream, which it does when it exits;
    // once the script has closed that stream itself, until the script ends.
    log->line("waiting for a monitor on pipe=" + platform::wideToUtf8(base));
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
  SetEvent(stop);
  statusServer.disconnect();
  playerThread.join();
  requestThread.join();
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
