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

// One job followed, from the pipe pair's creation to the monitor's exit:
// start the monitor, send it the opening records, poll until the job ends or
// the monitor goes, then finish as the port monitor would. Used by the main
// thread only; the request stream is read by a thread of its own, started
// with the monitor and joined when it has exited.
class FollowedJob {
 public:
  FollowedJob(const Settings& settings, Printer* printer, std::int32_t jobId, Log* log)
      : settings_(settings),
        printer_(printer),
        jobId_(jobId),
        log_(log),
        names_(settings.pipeName) {}
  FollowedJob(const FollowedJob&) = delete;
  FollowedJob& operator=(const FollowedJob&) = delete;

  // Answers the monitor's exit code, or kSetupError when the pipes or the
  // program could not be made.
  int follow() {
    // The first look gives the names the records carry, and is the first
    // poll's answer as well.
    printerState_ = printer_->attributes();
    jobAnswer_ = printer_->job(jobId_, &job_);
    log_->line("job " + std::to_string(jobId_) + " " + quoted(job_.name));
    if (!startMonitor()) return kSetupError;
    sendOpeningRecords();
    bool endOfJob = false;
    ULONGLONG next = GetTickCount64();
    for (bool firstRound = true; streamOpen_; firstRound = false) {
      if (!firstRound) look();
      const Poll poll = pollOnce();
      if (poll == Poll::kJobEnded) endOfJob = true;
      if (poll != Poll::kGoOn || monitorEndedBefore(&next)) break;
    }
    return finish(endOfJob);
  }

 private:
  enum class Poll { kGoOn, kJobEnded, kStreamBroken };

  // Creates the pipe pair and starts the monitor on it; the request stream's
  // reader runs from here on.
  bool startMonitor() {
    portside::PipePair pipes;
    std::string error;
    if (!portside::createPipePair(names_, false, &pipes, &error)) {
      log_->line(error);
      trace(error);
      return false;
    }
    log_->line("pipes " + platform::wideToUtf8(names_.status) + " " +
               platform::wideToUtf8(names_.requests));
    const std::wstring commandLine =
        portside::commandLineOf(settings_.program) + L" pipe=" + names_.base;
    log_->line("start " + platform::wideToUtf8(commandLine));
    if (!program_.start(commandLine, false, &error)) {
      log_->line("cannot start the program (" + error + ")");
      trace("cannot start the program (" + error + ")");
      return false;
    }
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    requests_.emplace(std::move(pipes.requests), stop_.get(), log_);
    requestThread_ = std::thread(&portside::RequestServer::serve, &*requests_);
    status_.emplace(std::move(pipes.status));
    return true;
  }

  // Waits for the monitor to open the status stream, then tells it which
  // printer and which job it watches, as the port monitor does at a job's
  // start.
  void sendOpeningRecords() {
    if (io_.connect(status_->get(), {program_.process()}) != portside::PendingIo::Result::kDone) {
      log_->line("the monitor never opened the status stream");
      return;
    }
    streamOpen_ = true;
    log_->line("status stream connected");
    const std::string printerName =
        printerState_ ? (!printerState_->name.empty() ? printerState_->name : printerState_->info)
                      : std::string();
    const bridge::PrinterUri& uri = settings_.options.uri;
    const std::string port = uri.host + ":" + std::to_string(uri.port);
    send(tarn::encodePortNamesWide(platform::utf8ToWide(port), platform::utf8ToWide(printerName)),
         "printer record " + quoted(printerName));
    send(tarn::encodeJobStartWide(static_cast<std::uint32_t>(jobId_),
                                  platform::utf8ToWide(job_.name)),
         "job record " + std::to_string(jobId_) + " " + quoted(job_.name));
  }

  // Asks the job, then the printer: the printer's state is what the code is
  // chosen from, so it is asked as late as it can be.
  void look() {
    jobAnswer_ = printer_->job(jobId_, &job_);
    printerState_ = printer_->attributes();
  }

  // Logs what the last look saw and sends the code it chooses. A printer or
  // job that did not answer chooses nothing: the last code stays on screen
  // and the next poll tries again.
  Poll pollOnce() {
    if (printerState_) {
      printerLine_.line(log_, std::string("printer ") + printerStateName(printerState_->state) +
                                  ": " + joined(printerState_->reasons));
    }
    if (jobAnswer_ == Printer::JobAnswer::kForgotten) {
      log_->line("job " + std::to_string(jobId_) + " no longer known to the printer");
      return Poll::kJobEnded;
    }
    if (jobAnswer_ != Printer::JobAnswer::kKnown) return Poll::kGoOn;
    jobLine_.line(log_, "job " + std::to_string(jobId_) + " " + bridge::jobStateName(job_.state) +
                            ": " + joined(job_.reasons));
    if (!printerState_) return Poll::kGoOn;
    if (!sendChosenCode()) return Poll::kStreamBroken;
    return bridge::isFinal(job_.state) ? Poll::kJobEnded : Poll::kGoOn;
  }

  // False when the code could not be sent: the monitor's end went.
  bool sendChosenCode() {
    const std::optional<std::uint32_t> code = memory_.update(*printerState_, job_.state);
    const bridge::StatusChoice& choice = memory_.lastChoice();
    // offline, paused, media-low and the like have no row: the trace tells
    // why nothing shows.
    const std::string unmatched = joined(choice.unmatched);
    if (unmatchedTrace_.changed(unmatched) && !choice.unmatched.empty())
      trace("reasons that show nothing: " + unmatched);
    if (!code) return true;
    std::string what = "code " + std::to_string(*code) + " sent";
    if (!choice.reason.empty()) what += ": " + choice.reason;
    if (choice.colours) what += " (" + bridge::colourSetName(choice.colours) + ")";
    return send(tarn::encodeStatus(*code), what);
  }

  // Sleeps until the next poll is due; true when the monitor ended meanwhile.
  bool monitorEndedBefore(ULONGLONG* next) {
    const ULONGLONG now = GetTickCount64();
    *next += settings_.options.intervalMs;
    // A poll that took longer than the interval is not made up for.
    if (*next < now) *next = now;
    if (!program_.wait(static_cast<DWORD>(*next - now))) return false;
    log_->line("the monitor ended before the end of the job");
    return true;
  }

  // Sends the end of the job when it has ended, then waits for the monitor
  // to exit and answers its exit code.
  int finish(bool endOfJob) {
    if (endOfJob && send(tarn::encodeJobEnd(static_cast<std::uint32_t>(jobId_)),
                         "end of job " + std::to_string(jobId_) + " sent")) {
      // Returns once the monitor has read everything written, or has gone.
      if (FlushFileBuffers(status_->get()))
        log_->line("end of job " + std::to_string(jobId_) + " read by the monitor");
    }
    // The status stream stays open and the requests are read until the
    // monitor exits: an error it keeps on screen after the job waits for the
    // user, and closing the stream would end it at once.
    program_.wait(INFINITE);
    const DWORD code = program_.exitCode();
    log_->line("exit code " + std::to_string(static_cast<long>(code)));
    SetEvent(stop_.get());
    status_->disconnect();
    requestThread_.join();
    return static_cast<int>(code);
  }

  // Writes one record; the monitor's end of the stream can go at any time,
  // and once it has, nothing more is written.
  bool send(const std::vector<std::uint8_t>& record, const std::string& what) {
    if (!streamOpen_) return false;
    if (!io_.writeAll(status_->get(), record.data(), record.size(), {program_.process()})) {
      log_->line("status stream broken: " + what + " not sent");
      streamOpen_ = false;
      return false;
    }
    log_->line(what);
    return true;
  }

  const Settings& settings_;
  Printer* printer_;
  const std::int32_t jobId_;
  Log* log_;
  const portside::PipeNames names_;

  // Declared in the order they are made, so they go in the reverse one: the
  // request reader is joined (in finish) before its server goes, and the
  // program's handle outlives every wait on it.
  portside::Program program_;
  platform::ScopedWinHandle stop_;  // manual-reset: tells the request reader to end
  std::optional<portside::RequestServer> requests_;
  std::thread requestThread_;
  std::optional<portside::StatusServer> status_;
  portside::PendingIo io_;
  bool streamOpen_ = false;

  // What the last look saw.
  std::optional<PrinterSnapshot> printerState_;
  JobSnapshot job_;
  Printer::JobAnswer jobAnswer_ = Printer::JobAnswer::kFailed;

  bridge::JobStatusMemory memory_;
  // The log says what the printer and the job report when it changes, not
  // every poll.
  ChangeLog printerLine_, jobLine_, unmatchedTrace_;
};

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
    exitCode = FollowedJob(settings, &printer, *job, log).follow();
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
