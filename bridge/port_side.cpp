#include "bridge/port_side.h"

#include <aclapi.h>

#include <cstdio>
#include <memory>

#include "channel/status_record.h"
#include "platform/text.h"

namespace portside {
namespace {

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

// A security descriptor whose DACL grants everything to the user this
// process runs as and nothing to anyone else (no inherited entries: the
// descriptor is protected). Built in one block that the descriptor points into.
class CurrentUserOnly {
 public:
  bool build(std::string* error) {
    platform::ScopedWinHandle token;
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
      *error = "cannot read the process's user (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
    token.reset(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    user_.reset(new std::uint8_t[size ? size : 1]);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user_.get(), size, &size)) {
      *error = "cannot read the process's user (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.get())->User.Sid;
    const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    acl_.reset(new std::uint8_t[aclSize]);
    PACL acl = reinterpret_cast<PACL>(acl_.get());
    if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      *error = "cannot build the pipes' security descriptor (error " +
               std::to_string(GetLastError()) + ")";
      return false;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    return true;
  }
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  std::unique_ptr<std::uint8_t[]> user_;
  std::unique_ptr<std::uint8_t[]> acl_;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
};

bool createOne(const std::wstring& name, DWORD access, DWORD type, CurrentUserOnly* security,
               platform::ScopedWinHandle* out, std::string* error) {
  // Wine 8 ignores FILE_FLAG_FIRST_PIPE_INSTANCE and adds an instance to a
  // name that another process serves (tried here), so whether the name is
  // served already is asked first; on Windows the flag also closes the gap
  // between the two calls. A pipe that exists answers anything but "not
  // found", whether an instance is free or not.
  DWORD code = ERROR_ACCESS_DENIED;
  if (!WaitNamedPipeW(name.c_str(), 1) && GetLastError() == ERROR_FILE_NOT_FOUND) {
    out->reset(CreateNamedPipeW(
        name.c_str(), access | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        type | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 65536, 65536, 0,
        security->attributes()));
    if (out->isValid()) return true;
    code = GetLastError();
  }
  *error = "cannot create " + platform::wideToUtf8(name);
  // Another instance of the name exists: another process serves a pipe of
  // that name (a port monitor of another job, or a squatter).
  if (code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY)
    *error += ": the name is taken by another pipe";
  else if (!systemMessage(code).empty())
    *error += ": " + systemMessage(code);
  *error += " (error " + std::to_string(code) + ")";
  return false;
}

}  // namespace

bool Log::openFile(const std::string& path) {
  file_.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
  return file_.is_open();
}

void Log::line(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  if (file_.is_open()) {
    file_ << text << '\n';
    file_.flush();
  }
}

PipeNames::PipeNames(const std::wstring& name)
    : base(L"\\\\.\\pipe\\" + name), status(base + L".status"), requests(base + L".requests") {}

bool createPipePair(const PipeNames& names, bool messageMode, PipePair* out, std::string* error) {
  CurrentUserOnly security;
  if (!security.build(error)) return false;
  const DWORD statusType = messageMode ? PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE
                                       : PIPE_TYPE_BYTE | PIPE_READMODE_BYTE;
  // The request stream first: a monitor opens the status stream first and
  // the request stream right after, so once the status stream exists both do.
  return createOne(names.requests, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE,
                   &security, &out->requests, error) &&
         createOne(names.status, PIPE_ACCESS_OUTBOUND, statusType, &security, &out->status,
                   error);
}

PendingIo::PendingIo() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  overlapped_.hEvent = event_.get();
}

OVERLAPPED* PendingIo::get() {
  overlapped_ = OVERLAPPED{};
  overlapped_.hEvent = event_.get();
  return &overlapped_;
}

PendingIo::Result PendingIo::finish(HANDLE pipe, BOOL started,
                                    std::initializer_list<HANDLE> interrupts, DWORD* transferred,
                                    std::size_t* which) {
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

PendingIo::Result PendingIo::connect(HANDLE pipe, std::initializer_list<HANDLE> interrupts,
                                     std::size_t* which) {
  const BOOL started = ConnectNamedPipe(pipe, get());
  if (!started && GetLastError() == ERROR_PIPE_CONNECTED) return Result::kDone;
  DWORD ignored = 0;
  return finish(pipe, started, interrupts, &ignored, which);
}

bool PendingIo::writeAll(HANDLE pipe, const std::uint8_t* bytes, std::size_t size,
                         std::initializer_list<HANDLE> interrupts) {
  std::size_t written = 0;
  do {
    const std::size_t left = size - written;
    const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    const BOOL started = WriteFile(pipe, bytes + written, chunk, nullptr, get());
    DWORD count = 0;
    if (finish(pipe, started, interrupts, &count) != Result::kDone) return false;
    if (count == 0 && chunk > 0) return false;
    written += count;
  } while (written < size);
  return true;
}

bool StatusServer::open() {
  std::lock_guard<std::mutex> guard(lock_);
  return pipe_.isValid();
}

void StatusServer::closeHandle() {
  std::lock_guard<std::mutex> guard(lock_);
  pipe_.close();
}

void StatusServer::disconnect() {
  std::lock_guard<std::mutex> guard(lock_);
  if (pipe_.isValid()) DisconnectNamedPipe(pipe_.get());
}

RequestServer::RequestServer(platform::ScopedWinHandle pipe, HANDLE stop, Log* log)
    : pipe_(std::move(pipe)),
      stop_(stop),
      log_(log),
      wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      done_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

RequestServer::~RequestServer() = default;

void RequestServer::command(Command command) {
  command_.store(command);
  SetEvent(wake_.get());
  const HANDLE handles[] = {done_.get(), stop_};
  WaitForMultipleObjects(2, handles, FALSE, INFINITE);
}

void RequestServer::streamEnded() {
  log_->line("request stream ended");
  ended_.store(true);
}

RequestServer::State RequestServer::carryOut(State state) {
  const Command command = command_.exchange(Command::kNone);
  if (command == Command::kIgnore) {
    ignoring_ = true;
    if (state == State::kReading) state = State::kIgnoring;
  } else if (command == Command::kClose && !closed_.load()) {
    DisconnectNamedPipe(pipe_.get());
    pipe_.close();
    closed_.store(true);
    state = State::kIdle;
  }
  SetEvent(done_.get());
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
      // noticed (without reading) so that whoever waits for the monitor to
      // go learns of it.
      const HANDLE handles[] = {stop_, wake_.get()};
      const DWORD woken =
          WaitForMultipleObjects(2, handles, FALSE, state == State::kIgnoring ? 50 : INFINITE);
      if (woken == WAIT_OBJECT_0) return;
      if (woken == WAIT_OBJECT_0 + 1) {
        state = carryOut(state);
      } else if (!PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, nullptr, nullptr)) {
        streamEnded();
        state = State::kIdle;
      }
      continue;
    }
    std::size_t which = 0;
    DWORD count = 0;
    PendingIo::Result result;
    if (state == State::kConnecting) {
      result = io.connect(pipe_.get(), {stop_, wake_.get()}, &which);
    } else {
      const DWORD want = payloadLeft_ > 0
                             ? (payloadLeft_ < sizeof buffer_ ? payloadLeft_ : sizeof buffer_)
                             : static_cast<DWORD>(tarn::kHeaderSize - headerBytes_);
      std::uint8_t* into = payloadLeft_ > 0 ? buffer_ : buffer_ + headerBytes_;
      const BOOL started = ReadFile(pipe_.get(), into, want, nullptr, io.get());
      result = io.finish(pipe_.get(), started, {stop_, wake_.get()}, &count, &which);
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

std::wstring commandLineOf(const std::vector<std::wstring>& arguments) {
  std::wstring commandLine;
  for (const std::wstring& arg : arguments) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += quoteArgument(arg);
  }
  return commandLine;
}

bool Program::start(const std::wstring& commandLine, bool inheritHandles, std::string* error) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back(L'\0');
  BOOL started = CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr,
                                inheritHandles ? TRUE : FALSE, 0, nullptr, nullptr, &startup,
                                &process);
  // Wine once answered a start with this internal error and never again.
  if (!started && GetLastError() == ERROR_INTERNAL_ERROR) {
    started = CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr,
                             inheritHandles ? TRUE : FALSE, 0, nullptr, nullptr, &startup,
                             &process);
  }
  if (!started) {
    *error = "error " + std::to_string(GetLastError());
    return false;
  }
  CloseHandle(process.hThread);
  process_.reset(process.hProcess);
  return true;
}

bool Program::running() const { return !wait(0); }

bool Program::wait(DWORD milliseconds) const {
  return WaitForSingleObject(process_.get(), milliseconds) == WAIT_OBJECT_0;
}

void Program::terminate(UINT exitCode) {
  TerminateProcess(process_.get(), exitCode);
  WaitForSingleObject(process_.get(), INFINITE);
}

DWORD Program::exitCode() const {
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

std::string systemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return std::string();
  std::wstring message(text, length);
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  return platform::wideToUtf8(message);
}

}  // namespace portside
