// The port monitor's side of the two streams it shares with the status
// monitor: the pipe pair's server ends, records written on the status stream,
// the request stream read (and logged) until the monitor closes it, and the
// monitor program started with pipe= and waited for. Both the IPP status
// bridge and the port-monitor simulator play the port monitor through it.
//
// Windows only: the server ends are overlapped pipe handles, and every wait
// here also ends at an "interrupt" handle that its caller names (a stop event,
// the monitor's process), so that no thread is ever stuck in a pipe call.
#ifndef BRIDGE_PORT_SIDE_H_
#define BRIDGE_PORT_SIDE_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/scoped_win_handle.h"

namespace portside {

// Log lines go to standard output and, when asked, to a file; whole lines,
// from any thread.
class Log {
 public:
  bool openFile(const std::string& path);
  void line(const std::string& text);

 private:
  std::mutex lock_;
  std::ofstream file_;
};

// \\.\pipe\NAME and the two pipes made from it.
struct PipeNames {
  explicit PipeNames(const std::wstring& name);
  std::wstring base;      // \\.\pipe\NAME, what pipe= names
  std::wstring status;    // \\.\pipe\NAME.status
  std::wstring requests;  // \\.\pipe\NAME.requests
};

// The server ends of the pipe pair.
struct PipePair {
  platform::ScopedWinHandle status;    // outbound
  platform::ScopedWinHandle requests;  // inbound
};

// Creates both server ends, overlapped, one instance each. Each is the first
// instance of its name (FILE_FLAG_FIRST_PIPE_INSTANCE): a process that made
// the name first, to read what the monitor writes or to feed it records, makes
// this fail instead of sharing the name. Only the current user may open them,
// and only from this machine. `messageMode` serves the status stream as a
// message pipe. On failure answers false and a message that names the pipe.
bool createPipePair(const PipeNames& names, bool messageMode, PipePair* out, std::string* error);

// An overlapped operation on a pipe's server end that can be given up: every
// wait also ends when one of the `interrupts` is signalled. One operation at
// a time; used by one thread.
class PendingIo {
 public:
  enum class Result { kDone, kFailed, kInterrupted };

  PendingIo();
  PendingIo(const PendingIo&) = delete;
  PendingIo& operator=(const PendingIo&) = delete;

  // A fresh OVERLAPPED for the call that starts the operation.
  OVERLAPPED* get();

  // Finishes the operation that get() was handed to; `started` is what the
  // call that started it returned. Waits until it completes or one of the
  // `interrupts` is set (then *which is its index and the operation is
  // cancelled). *transferred receives the bytes moved.
  Result finish(HANDLE pipe, BOOL started, std::initializer_list<HANDLE> interrupts,
                DWORD* transferred, std::size_t* which = nullptr);

  // ConnectNamedPipe: a client that opened the pipe before counts as done.
  Result connect(HANDLE pipe, std::initializer_list<HANDLE> interrupts,
                 std::size_t* which = nullptr);

  // Writes all bytes (a zero-length write when there are none); false when
  // the stream broke or an interrupt was set.
  bool writeAll(HANDLE pipe, const std::uint8_t* bytes, std::size_t size,
                std::initializer_list<HANDLE> interrupts);

 private:
  platform::ScopedWinHandle event_;
  OVERLAPPED overlapped_ = {};
};

// The server end of the status stream. One thread connects, writes, flushes,
// closes and cuts it; another (the one that stops everything) may disconnect
// it at any time, so that a writer waiting in a flush for a monitor that
// reads no more is released. The lock keeps the handle valid for both.
class StatusServer {
 public:
  explicit StatusServer(platform::ScopedWinHandle pipe) : pipe_(std::move(pipe)) {}

  HANDLE get() const { return pipe_.get(); }
  bool open();
  void closeHandle();
  // Disconnects the client: whatever it has not read is lost, and its next
  // read fails.
  void disconnect();

 private:
  platform::ScopedWinHandle pipe_;
  std::mutex lock_;
};

// The server end of the request stream, served by its own thread: logs the
// requests the monitor writes ("request class=C subcode=S length=L") until its
// end is closed. A controlling thread may ask it to stop reading or to close
// the stream; whoever owns it stops it through the `stop` event and then
// joins its thread.
class RequestServer {
 public:
  RequestServer(platform::ScopedWinHandle pipe, HANDLE stop, Log* log);
  ~RequestServer();
  RequestServer(const RequestServer&) = delete;
  RequestServer& operator=(const RequestServer&) = delete;

  // The thread's work; returns once the stop event is set.
  void serve();

  // Controlling thread: the server stops reading (the monitor's writes then
  // fill the pipe and block), or disconnects and closes its end (the
  // monitor's next write fails). Returns once that is done, or at a stop.
  void ignore() { command(Command::kIgnore); }
  void close() { command(Command::kClose); }

  // The monitor closed its end (or wrote a wrong magic).
  bool ended() const { return ended_.load(); }
  // The stream was closed on request.
  bool closed() const { return closed_.load(); }

 private:
  enum class Command { kNone, kIgnore, kClose };
  enum class State { kConnecting, kReading, kIgnoring, kIdle };

  void command(Command command);
  State carryOut(State state);
  void streamEnded();
  // Takes the bytes of a read: a header, or part of a payload being skipped.
  bool take(DWORD count);

  platform::ScopedWinHandle pipe_;
  HANDLE stop_;
  Log* log_;
  platform::ScopedWinHandle wake_;  // auto-reset: a command waits
  platform::ScopedWinHandle done_;  // auto-reset: the command was carried out
  std::atomic<Command> command_{Command::kNone};
  std::atomic<bool> ended_{false};
  std::atomic<bool> closed_{false};
  bool ignoring_ = false;
  std::uint8_t buffer_[4096];
  std::size_t headerBytes_ = 0;  // of the header being read
  std::uint32_t payloadLeft_ = 0;
};

// Quotes one argument for CreateProcessW the way the C runtime splits it:
// backslashes before a quote and at the end are doubled, quotes escaped.
std::wstring quoteArgument(const std::wstring& arg);
// The arguments quoted and joined by spaces.
std::wstring commandLineOf(const std::vector<std::wstring>& arguments);

// A program started for one job.
class Program {
 public:
  // Starts `commandLine`; `inheritHandles` passes the inheritable handles on.
  // On failure answers false and the error in *error.
  bool start(const std::wstring& commandLine, bool inheritHandles, std::string* error);

  HANDLE process() const { return process_.get(); }
  bool running() const;
  // Waits up to `milliseconds` (INFINITE: for ever) for the program to end;
  // false when it is still running.
  bool wait(DWORD milliseconds) const;
  // Ends the program with `exitCode` and waits until it has ended.
  void terminate(UINT exitCode);
  // The exit code once it has ended.
  DWORD exitCode() const;

 private:
  platform::ScopedWinHandle process_;
};

// A narrow UTF-8 form of the error text the system has for `error`, without
// its line end ("Access is denied."); empty when it has none.
std::string systemMessage(DWORD error);

}  // namespace portside

#endif  // BRIDGE_PORT_SIDE_H_
