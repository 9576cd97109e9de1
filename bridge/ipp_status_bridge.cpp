// ipp_status_bridge: plays the printer's port monitor for the status monitor,
// with what an IPP printer says about itself. For each job it follows, it
// creates the pipe pair, starts the monitor with pipe=, sends the printer and
// job records, then polls the printer and the job every interval and sends a
// status code whenever the chosen one changes; at the job's end it sends the
// end of the job and keeps the streams open until the monitor exits. See
// README.md, "Watching a real printer".
#include <windows.h>

#include <lmcons.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_options.h"
#include "bridge/ipp_client.h"
#include "bridge/ipp_codec.h"
#include "bridge/port_side.h"
#include "bridge/printer_status.h"
#include "channel/status_record.h"
#include "platform/debug_output.h"
#include "platform/text.h"
#include "platform/win32/scoped_win_handle.h"

namespace {

using bridge::JobSnapshot;
using bridge::PrinterSnapshot;
using portside::Log;

constexpr int kUsageError = 2;
constexpr int kSetupError = 3;
constexpr int kUnreachable = 4;
// Before the first job, a printer that has not answered for this long ends
// the bridge (exit code 4).
constexpr ULONGLONG kGiveUpMs = 30000;
// While a printer keeps failing, one log line per this long.
constexpr ULONGLONG kFailureLineEveryMs = 60000;

const char kUsage[] =
    "usage: ipp_status_bridge [options] PRINTER-URI [-- PROGRAM [ARGUMENT...]]\n"
    "  PRINTER-URI     ipp://host[:port]/path or ipps://host[:port]/path\n"
    "  --job N         follow job N (default: the oldest job not completed,\n"
    "                  waiting for one)\n"
    "  --jobs N        follow N jobs one after the other (default 1; 0: until stopped)\n"
    "  --interval MS   poll interval, 200 to 60000 (default 1000)\n"
    "  --log FILE      write the log to FILE as well as to standard output\n"
    "  --name NAME     base name of the pipes \\\\.\\pipe\\NAME.status and .requests\n"
    "  --insecure      ipps: accept a certificate that does not verify\n"
    "  --user NAME     requesting-user-name (default: the user's name)\n"
    "PROGRAM defaults to qmxMeadowMonitor.exe beside this program.\n";

void trace(const std::string& text) {
  platform::debugOutput(("ipp_status_bridge: " + text + "\n").c_str());
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string joined(const std::vector<std::string>& words) {
  if (words.empty()) return "none";
  std::string out;
  for (const std::string& word : words) {
    if (!out.empty()) out += ",";
    out += word;
  }
  return out;
}

const char* printerStateName(bridge::PrinterState state) {
  switch (state) {
    case bridge::PrinterState::kIdle:
      return "idle";
    case bridge::PrinterState::kProcessing:
      return "processing";
    case bridge::PrinterState::kStopped:
      return "stopped";
    default:
      return "unknown";
  }
}

std::string statusCodeName(std::uint16_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", code);
  return text;
}

// How the printer answers, for the log: the first failure of a run of them,
// one line a minute while it lasts and one when it ends; every failure goes to
// the trace. Remembers when the printer last answered.
class PrinterHealth {
 public:
  explicit PrinterHealth(Log* log) : log_(log), lastAnswer_(GetTickCount64()) {}

  void failed(const std::string& what) {
    trace("printer: " + what);
    const ULONGLONG now = GetTickCount64();
    if (!failing_) {
      failing_ = true;
      failingSince_ = now;
      lastLine_ = now;
      log_->line("printer unreachable: " + what);
    } else if (now - lastLine_ >= kFailureLineEveryMs) {
      lastLine_ = now;
      log_->line("printer still unreachable after " +
                 std::to_string((now - failingSince_) / 1000) + " s: " + what);
    }
  }

  void answered() {
    const ULONGLONG now = GetTickCount64();
    if (failing_) {
      log_->line("printer answers again after " + std::to_string((now - failingSince_) / 1000) +
                 " s");
      failing_ = false;
    }
    lastAnswer_ = now;
  }

  ULONGLONG sinceLastAnswer() const { return GetTickCount64() - lastAnswer_; }

 private:
  Log* log_;
  ULONGLONG lastAnswer_;
  bool failing_ = false;
  ULONGLONG failingSince_ = 0;
  ULONGLONG lastLine_ = 0;
};

// The printer's three operations, each answered or logged as failed.
class Printer {
 public:
  enum class JobAnswer { kKnown, kForgotten, kFailed };

  Printer(bridge::IppClient* client, bridge::ipp::RequestTarget target, PrinterHealth* health)
      : client_(client), target_(std::move(target)), health_(health) {}

  std::optional<PrinterSnapshot> attributes() {
    bridge::ipp::Response response;
    if (!ask("Get-Printer-Attributes",
             bridge::ipp::encodeGetPrinterAttributes(target_, nextRequestId()), &response))
      return std::nullopt;
    return bridge::readPrinterSnapshot(response);
  }

  JobAnswer job(std::int32_t id, JobSnapshot* out) {
    bridge::ipp::Response response;
    if (!exchange(bridge::ipp::encodeGetJobAttributes(target_, nextRequestId(), id), &response,
                  "Get-Job-Attributes"))
      return JobAnswer::kFailed;
    if (response.statusCode == bridge::ipp::kClientErrorNotFound) {
      health_->answered();
      return JobAnswer::kForgotten;
    }
    if (!response.successful()) {
      health_->failed("Get-Job-Attributes answered " + statusCodeName(response.statusCode));
      return JobAnswer::kFailed;
    }
    health_->answered();
    *out = bridge::readJobSnapshot(response);
    if (out->id == 0) out->id = id;
    return JobAnswer::kKnown;
  }

  std::optional<std::vector<JobSnapshot>> jobs() {
    bridge::ipp::Response response;
    if (!ask("Get-Jobs", bridge::ipp::encodeGetJobs(target_, nextRequestId()), &response))
      return std::nullopt;
    return bridge::readJobs(response);
  }

 private:
  std::uint32_t nextRequestId() { return requestId_++; }

  bool exchange(const std::vector<std::uint8_t>& request, bridge::ipp::Response* response,
                const char* operation) {
    std::string error;
    if (client_->exchange(request, response, &error)) return true;
    health_->failed(std::string(operation) + ": " + error);
    return false;
  }

  // An operation that must succeed.
  bool ask(const char* operation, const std::vector<std::uint8_t>& request,
           bridge::ipp::Response* response) {
    if (!exchange(request, response, operation)) return false;
    if (!response->successful()) {
      health_->failed(std::string(operation) + " answered " +
                      statusCodeName(response->statusCode));
      return false;
    }
    health_->answered();
    return true;
  }

  bridge::IppClient* client_;
  bridge::ipp::RequestTarget target_;
  PrinterHealth* health_;
  std::uint32_t requestId_ = 1;
};

struct Settings {
  bridge::BridgeOptions options;
  std::vector<std::wstring> program;  // path and arguments of the monitor
  std::wstring pipeName;              // base name of the pipe pair
};

// Passes a line on when it differs from the last one passed through it.
class ChangeLog {
 public:
  void line(Log* log, const std::string& text) {
    if (changed(text)) log->line(text);
  }
  bool changed(const std::string& text) {
    if (text == last_) return false;
    last_ = text;
    return true;
  }

 private:
  std::string last_;
};

// One job, from the pipe pair's creation to the monitor's exit. Answers the
// monitor's exit code, or kSetupError when the pipes or the program could
// not be made.
int followJob(const Settings& settings, Printer* printer, std::int32_t jobId, Log* log) {
  const bridge::BridgeOptions& options = settings.options;
  // The first look gives the names the records carry.
  std::optional<PrinterSnapshot> printerState = printer->attributes();
  JobSnapshot job;
  Printer::JobAnswer jobAnswer = printer->job(jobId, &job);
  log->line("job " + std::to_string(jobId) + " " + quoted(job.name));

  const portside::PipeNames names(settings.pipeName);
  portside::PipePair pipes;
  std::string error;
  if (!portside::createPipePair(names, false, &pipes, &error)) {
    log->line(error);
    trace(error);
    return kSetupError;
  }
  log->line("pipes " + platform::wideToUtf8(names.status) + " " +
            platform::wideToUtf8(names.requests));
  const std::wstring commandLine = portside::commandLineOf(settings.program) + L" pipe=" +
                                   names.base;
  log->line("start " + platform::wideToUtf8(commandLine));
  portside::Program program;
  if (!program.start(commandLine, false, &error)) {
    log->line("cannot start the program (" + error + ")");
    trace("cannot start the program (" + error + ")");
    return kSetupError;
  }

  const platform::ScopedWinHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  portside::RequestServer requests(std::move(pipes.requests), stop.get(), log);
  std::thread requestThread(&portside::RequestServer::serve, &requests);
  portside::StatusServer status(std::move(pipes.status));
  portside::PendingIo io;

  // Writes one record; the monitor's end of the stream can go at any time.
  bool streamOpen = false;
  auto send = [&](const std::vector<std::uint8_t>& record, const std::string& what) {
    if (!streamOpen) return false;
    if (!io.writeAll(status.get(), record.data(), record.size(), {program.process()})) {
      log->line("status stream broken: " + what + " not sent");
      streamOpen = false;
      return false;
    }
    log->line(what);
    return true;
  };

  if (io.connect(status.get(), {program.process()}) == portside::PendingIo::Result::kDone) {
    streamOpen = true;
    log->line("status stream connected");
    const std::string printerName =
        printerState ? (!printerState->name.empty() ? printerState->name : printerState->info)
                     : std::string();
    const std::string port = options.uri.host + ":" + std::to_string(options.uri.port);
    send(tarn::encodePortNamesWide(platform::utf8ToWide(port), platform::utf8ToWide(printerName)),
         "printer record " + quoted(printerName));
    send(tarn::encodeJobStartWide(static_cast<std::uint32_t>(jobId),
                                  platform::utf8ToWide(job.name)),
         "job record " + std::to_string(jobId) + " " + quoted(job.name));
  } else {
    log->line("the monitor never opened the status stream");
  }

  bridge::JobStatusMemory memory;
  ChangeLog printerLine, jobLine, unmatchedTrace;
  bool endOfJob = false;
  ULONGLONG next = GetTickCount64();
  bool firstRound = true;
  while (streamOpen) {
    if (!firstRound) {
      // The printer last: its state is what the code is chosen from, so it
      // is asked as late as it can be.
      jobAnswer = printer->job(jobId, &job);
      printerState = printer->attributes();
    }
    firstRound = false;
    if (printerState) {
      printerLine.line(log, std::string("printer ") + printerStateName(printerState->state) +
                                ": " + joined(printerState->reasons));
    }
    if (jobAnswer == Printer::JobAnswer::kForgotten) {
      log->line("job " + std::to_string(jobId) + " no longer known to the printer");
      endOfJob = true;
      break;
    }
    if (jobAnswer == Printer::JobAnswer::kKnown) {
      jobLine.line(log, "job " + std::to_string(jobId) + " " + bridge::jobStateName(job.state) +
                            ": " + joined(job.reasons));
    }
    if (printerState && jobAnswer == Printer::JobAnswer::kKnown) {
      const std::optional<std::uint32_t> code = memory.update(*printerState, job.state);
      const bridge::StatusChoice& choice = memory.lastChoice();
      // offline, paused, media-low and the like have no row: the trace
      // tells why nothing shows.
      const std::string unmatched = joined(choice.unmatched);
      if (unmatchedTrace.changed(unmatched) && !choice.unmatched.empty())
        trace("reasons that show nothing: " + unmatched);
      if (code) {
        std::string what = "code " + std::to_string(*code) + " sent";
        if (!choice.reason.empty()) what += ": " + choice.reason;
        if (choice.colours) what += " (" + bridge::colourSetName(choice.colours) + ")";
        if (!send(tarn::encodeStatus(*code), what)) break;
      }
      if (bridge::isFinal(job.state)) {
        endOfJob = true;
        break;
      }
    }
    const ULONGLONG now = GetTickCount64();
    next += options.intervalMs;
    // A poll that took longer than the interval is not made up for.
    if (next < now) next = now;
    if (program.wait(static_cast<DWORD>(next - now))) {
      log->line("the monitor ended before the end of the job");
      break;
    }
  }
  if (endOfJob && send(tarn::encodeJobEnd(static_cast<std::uint32_t>(jobId)),
                       "end of job " + std::to_string(jobId) + " sent")) {
    // Returns once the monitor has read everything written, or has gone.
    if (FlushFileBuffers(status.get()))
      log->line("end of job " + std::to_string(jobId) + " read by the monitor");
  }
  // The status stream stays open and the requests are read until the monitor
  // exits: an error it keeps on screen after the job waits for the user, and
  // closing the stream would end it at once.
  program.wait(INFINITE);
  const DWORD code = program.exitCode();
  log->line("exit code " + std::to_string(static_cast<long>(code)));
  SetEvent(stop.get());
  status.disconnect();
  requestThread.join();
  return static_cast<int>(code);
}

// Waits for the next job to follow: the oldest one not completed that was
// not followed yet. Answers nothing when the printer has not answered for
// kGiveUpMs and no job was followed yet.
std::optional<std::int32_t> waitForJob(const Settings& settings, Printer* printer,
                                       PrinterHealth* health, const std::set<std::int32_t>& done,
                                       bool anyFollowed, Log* log) {
  bool announced = false;
  ULONGLONG next = GetTickCount64();
  for (;;) {
    if (std::optional<std::vector<JobSnapshot>> jobs = printer->jobs()) {
      std::vector<JobSnapshot> candidates;
      for (const JobSnapshot& job : *jobs)
        if (done.count(job.id) == 0) candidates.push_back(job);
      if (std::optional<std::int32_t> oldest = bridge::oldestJobNotCompleted(candidates))
        return oldest;
      if (!announced) log->line("waiting for a job");
      announced = true;
    } else if (!anyFollowed && health->sinceLastAnswer() >= kGiveUpMs) {
      log->line("no answer from the printer for " + std::to_string(kGiveUpMs / 1000) +
                " s: giving up");
      trace("no answer from the printer: giving up");
      return std::nullopt;
    }
    const ULONGLONG now = GetTickCount64();
    next += settings.options.intervalMs;
    if (next < now) next = now;
    Sleep(static_cast<DWORD>(next - now));
  }
}

// Waits until the printer answers; false when it has not for kGiveUpMs.
bool waitForAnswer(const Settings& settings, Printer* printer, PrinterHealth* health, Log* log) {
  ULONGLONG next = GetTickCount64();
  while (!printer->attributes()) {
    if (health->sinceLastAnswer() >= kGiveUpMs) {
      log->line("no answer from the printer for " + std::to_string(kGiveUpMs / 1000) +
                " s: giving up");
      trace("no answer from the printer: giving up");
      return false;
    }
    const ULONGLONG now = GetTickCount64();
    next += settings.options.intervalMs;
    if (next < now) next = now;
    Sleep(static_cast<DWORD>(next - now));
  }
  return true;
}

std::wstring besideThisProgram(const wchar_t* leaf) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  path.erase(path.find_last_of(L"\\/") + 1);
  return path + leaf;
}

std::string currentUserName() {
  wchar_t name[UNLEN + 1] = {};
  DWORD size = UNLEN + 1;
  if (!GetUserNameW(name, &size)) return "anonymous";
  return platform::wideToUtf8(name);
}

int run(Settings settings, Log* log) {
  const bridge::BridgeOptions& options = settings.options;
  bridge::IppClient client;
  std::string error;
  log->line("printer " + options.printerUri);
  if (!client.open(options.uri, options.insecure, &error)) {
    log->line(error);
    trace(error);
    return kUnreachable;
  }
  PrinterHealth health(log);
  Printer printer(&client,
                  {options.printerUri, options.user.empty() ? currentUserName() : options.user},
                  &health);
  std::set<std::int32_t> done;
  int exitCode = 0;
  for (std::uint32_t followed = 0; options.jobs == 0 || followed < options.jobs; ++followed) {
    std::optional<std::int32_t> job;
    if (followed == 0 && options.job) {
      // The job is named, but the monitor is started only for a printer
      // that answers.
      if (!waitForAnswer(settings, &printer, &health, log)) return kUnreachable;
      job = options.job;
    } else {
      job = waitForJob(settings, &printer, &health, done, followed > 0, log);
      if (!job) return kUnreachable;
    }
    done.insert(*job);
    exitCode = followJob(settings, &printer, *job, log);
    if (exitCode == kSetupError) return kSetupError;
  }
  return exitCode;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(platform::wideToUtf8(argv[i]));
  Settings settings;
  std::string error;
  if (arguments.empty() || arguments[0] == "--help") {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  if (!bridge::parseBridgeOptions(arguments, &settings.options, &error)) {
    // One line that names what is wrong; the usage is there with --help.
    std::fprintf(stderr, "ipp_status_bridge: %s (--help: usage)\n", error.c_str());
    return kUsageError;
  }
  for (const std::string& arg : settings.options.program)
    settings.program.push_back(platform::utf8ToWide(arg));
  if (settings.program.empty()) settings.program.push_back(besideThisProgram(L"qmxMeadowMonitor.exe"));
  settings.pipeName = settings.options.name.empty()
                          ? L"ipp-status-bridge-" + std::to_wstring(GetCurrentProcessId())
                          : platform::utf8ToWide(settings.options.name);
  Log log;
  if (!settings.options.logPath.empty() && !log.openFile(settings.options.logPath)) {
    std::fprintf(stderr, "ipp_status_bridge: --log: cannot write %s\n",
                 settings.options.logPath.c_str());
    return kUsageError;
  }
  return run(std::move(settings), &log);
}
