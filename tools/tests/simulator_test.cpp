// Runs the port-monitor simulator against a stand-in monitor through real
// named pipes, the way a tester or an end-to-end test drives it.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "channel/status_record.h"
#include "platform/test_support/process.h"
#include "platform/text.h"

namespace {

std::wstring besideThisProgram(const char* file) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + platform::utf8ToWide(file);
}

std::wstring tempPath(const std::wstring& leaf) {
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, folder);
  return folder + std::to_wstring(GetCurrentProcessId()) + L"-" + leaf;
}

struct SimulatorRun {
  DWORD exitCode = 0xDEADBEEF;
  std::string log;
};

std::string readLog(const std::wstring& path) {
  std::stringstream text;
  text << std::ifstream(platform::wideToUtf8(path), std::ios::binary).rdbuf();
  return text.str();
}

// One run of the simulator with a script and the given options; with a
// PROGRAM, or without one when the test itself plays the monitor.
class Simulator {
 public:
  Simulator(const std::string& script, const std::wstring& options, const char* name,
            const char* program = ECHO_CLIENT_EXE)
      : scriptPath_(tempPath(platform::utf8ToWide(name) + L".job")),
        logPath_(tempPath(platform::utf8ToWide(name) + L".log")),
        pipeBase_(L"\\\\.\\pipe\\sim-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  platform::utf8ToWide(name)) {
    std::ofstream(platform::wideToUtf8(scriptPath_), std::ios::binary) << script;
    DeleteFileW(logPath_.c_str());
    std::wstring commandLine = L"\"" + besideThisProgram(SIMULATOR_EXE) + L"\" --name " +
                               pipeBase_.substr(9) + L" --log \"" + logPath_ + L"\" " + options +
                               L" \"" + scriptPath_ + L"\"";
    if (program) commandLine += L" -- \"" + besideThisProgram(program) + L"\"";
    // The log file holds what the test reads; the console copy is dropped.
    process_ = testsupport::startProcess(commandLine);
  }

  ~Simulator() {
    finish();
    DeleteFileW(scriptPath_.c_str());
    DeleteFileW(logPath_.c_str());
  }

  // \\.\pipe\NAME, the base of the pipe pair.
  const std::wstring& pipeBase() const { return pipeBase_; }

  // Waits until the log holds `text`; false after the deadline.
  bool waitForLog(const std::string& text, DWORD milliseconds = 20000) const {
    const ULONGLONG start = GetTickCount64();
    while (readLog(logPath_).find(text) == std::string::npos) {
      if (GetTickCount64() - start > milliseconds) return false;
      Sleep(10);
    }
    return true;
  }
  std::string log() const { return readLog(logPath_); }

  // Waits for the simulator to end, with a deadline.
  SimulatorRun finish(DWORD deadline = 60000) {
    SimulatorRun run;
    if (process_ == nullptr) return run;
    if (WaitForSingleObject(process_, deadline) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the simulator did not end in time";
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, INFINITE);
    }
    GetExitCodeProcess(process_, &run.exitCode);
    CloseHandle(process_);
    process_ = nullptr;
    run.log = readLog(logPath_);
    return run;
  }

 private:
  std::wstring scriptPath_, logPath_, pipeBase_;
  HANDLE process_ = nullptr;
};

SimulatorRun simulate(const std::string& script, const std::wstring& options, const char* name,
                      const char* program = ECHO_CLIENT_EXE) {
  return Simulator(script, options, name, program).finish();
}

// The test as the monitor started by hand: the client ends of a simulator's
// pipes, opened as the program opens them.
struct HandMonitor {
  explicit HandMonitor(const Simulator& simulator) {
    const ULONGLONG start = GetTickCount64();
    while (status == INVALID_HANDLE_VALUE && GetTickCount64() - start < 20000) {
      status = CreateFileW((simulator.pipeBase() + L".status").c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
      if (status == INVALID_HANDLE_VALUE) Sleep(10);
    }
    requests = CreateFileW((simulator.pipeBase() + L".requests").c_str(), GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  }
  ~HandMonitor() {
    closeRequests();
    if (status != INVALID_HANDLE_VALUE) CloseHandle(status);
  }
  bool connected() const {
    return status != INVALID_HANDLE_VALUE && requests != INVALID_HANDLE_VALUE;
  }
  // Closing the request stream is how the monitor tells it has gone.
  void closeRequests() {
    if (requests != INVALID_HANDLE_VALUE) CloseHandle(requests);
    requests = INVALID_HANDLE_VALUE;
  }

  HANDLE status = INVALID_HANDLE_VALUE;
  HANDLE requests = INVALID_HANDLE_VALUE;
};

const char kJob[] =
    "printer LPT1: \"Kestrel 100\"\n"
    "job 7 report.pdf\n"
    "pause 20\n"
    "event 1003\n"
    "record 1 9 0a0b\n";

TEST(SimulatorTest, PlaysTheScriptLogsRequestsAndReportsTheExitCode) {
  const struct {
    const wchar_t* options;
    const char* name;
  } modes[] = {{L"", "pipe"}, {L"--handles", "handles"}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.name);
    const SimulatorRun run = simulate(std::string(kJob) + "close\n", mode.options, mode.name);
    // The stand-in monitor exits with the number of records it read.
    EXPECT_EQ(run.exitCode, 4u) << run.log;
    EXPECT_NE(run.log.find("request class=0 subcode=0 length=0\n"), std::string::npos);
    EXPECT_NE(run.log.find("request class=0 subcode=2 length=0\n"), std::string::npos);
    EXPECT_NE(run.log.find("request class=2 subcode=3 length=0\n"), std::string::npos);
    EXPECT_NE(run.log.find("request class=1 subcode=9 length=0\n"), std::string::npos);
    EXPECT_NE(run.log.find("line 6: close: status stream closed"), std::string::npos);
    EXPECT_NE(run.log.find("exit code 4\n"), std::string::npos) << run.log;
  }
  EXPECT_NE(simulate(kJob, L"--timeout 1000", "argument").log.find(" pipe=\\\\.\\pipe\\sim-test-"),
            std::string::npos);
}

TEST(SimulatorTest, AProgramThatOutlivesTheTimeoutIsEnded) {
  // Without "close" the stream stays open and the stand-in keeps reading.
  const SimulatorRun run = simulate(kJob, L"--handles --timeout 1500", "timeout");
  EXPECT_EQ(run.exitCode, 124u) << run.log;
  EXPECT_NE(run.log.find("timeout after 1500 ms: program ended"), std::string::npos) << run.log;
}

TEST(SimulatorTest, AScriptMistakeStartsNothing) {
  const SimulatorRun run = simulate("printer LPT1:\n", L"", "mistake");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_EQ(run.log, "");
}

TEST(SimulatorTest, ANameTakenByAnotherPipeFailsClearlyAndStartsNothing) {
  // Another process made one of the names first (a squatter that would read
  // the monitor's requests, or a second port monitor). Sharing the name would
  // let the monitor connect to it; the simulator must refuse to serve at all.
  const struct {
    const char* name;
    const wchar_t* suffix;
    DWORD access;
  } cases[] = {{"taken-status", L".status", PIPE_ACCESS_OUTBOUND},
               {"taken-requests", L".requests", PIPE_ACCESS_INBOUND}};
  for (const auto& taken : cases) {
    SCOPED_TRACE(taken.name);
    const std::wstring pipe = L"\\\\.\\pipe\\sim-test-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + platform::utf8ToWide(taken.name) + taken.suffix;
    HANDLE squatter = CreateNamedPipeW(pipe.c_str(), taken.access, PIPE_TYPE_BYTE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE) << GetLastError();
    const SimulatorRun run = simulate(kJob, L"", taken.name);
    CloseHandle(squatter);
    EXPECT_EQ(run.exitCode, 3u) << run.log;
    EXPECT_NE(run.log.find("cannot create " + platform::wideToUtf8(pipe) +
                           ": the name is taken by another pipe"),
              std::string::npos)
        << run.log;
    // Nothing was started: the monitor would have opened the squatter's pipe.
    EXPECT_EQ(run.log.find("start "), std::string::npos) << run.log;
  }
}

std::string exampleJob(const char* leaf) {
  std::stringstream text;
  text << std::ifstream(
              platform::wideToUtf8(besideThisProgram("jobs/") + platform::utf8ToWide(leaf)),
              std::ios::binary)
              .rdbuf();
  return text.str();
}

// The channel components under the simulator: the hostile example job goes
// through the status reader, the broker and the request writer of a program
// assembled like the monitor, over real named pipes.
TEST(SimulatorTest, TheChannelComponentsSurviveTheHostileJobAndAnswerThroughTheRequestStream) {
  const std::string job = exampleJob("hostile.job");
  ASSERT_FALSE(job.empty());
  const struct {
    const wchar_t* options;
    const char* name;
  } modes[] = {{L"", "probe-pipe"}, {L"--handles", "probe-handles"}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.name);
    const SimulatorRun run = simulate(job, mode.options, mode.name, CHANNEL_PROBE_EXE);
    // Seven records before the wrong magic; the magic ends the reading and
    // the program, although the stream is still open.
    EXPECT_EQ(run.exitCode, 7u) << run.log;
    const char* expected[] = {
        "request class=0 subcode=0 length=0\n",        // no payload
        "request class=0 subcode=7 length=0\n",        // job 7, unterminated name
        "request class=2 subcode=1 length=0\n",        // class 2, unknown subcode
        "request class=9 subcode=9 length=0\n",        // unknown class
        "request class=1 subcode=1048576 length=0\n",  // one mebibyte kept
        "request class=0 subcode=1 length=0\n",        // end of job 1 after it
        "exit code 7\n",
    };
    std::size_t from = 0;
    for (const char* line : expected) {
      const std::size_t at = run.log.find(line, from);
      EXPECT_NE(at, std::string::npos) << line << run.log;
      if (at != std::string::npos) from = at;
    }
  }
}

TEST(SimulatorTest, AProgramThatNeverOpensThePipesStillEndsTheSimulator) {
  // Started without pipe=, the stand-in monitor has no stream: its reader
  // stops the broker at once and the program exits.
  const SimulatorRun run = simulate(kJob, L"--bare", "bare", CHANNEL_PROBE_EXE);
  EXPECT_EQ(run.exitCode, 0u) << run.log;
  EXPECT_NE(run.log.find("exit code 0\n"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("status stream connected"), std::string::npos) << run.log;
}

TEST(SimulatorTest, TheChannelComponentsEndWhenTheStreamIsClosed) {
  const SimulatorRun run =
      simulate(exampleJob("stream_ends.job"), L"", "probe-close", CHANNEL_PROBE_EXE);
  EXPECT_EQ(run.exitCode, 2u) << run.log;
  EXPECT_NE(run.log.find("request class=0 subcode=3 length=0\n"), std::string::npos) << run.log;
}

// A quoted script text for a path or name: backslashes doubled.
std::string scriptText(const std::wstring& text) {
  std::string out = "\"";
  for (char c : platform::wideToUtf8(text)) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

// An end-to-end test acts (a click, a registry value) and then lets the
// script go on by setting an event or writing a file; a wait that nobody
// ends gives up after its time.
TEST(SimulatorTest, TheScriptWaitsForTheTestsEventAndFileAndGivesUpInTime) {
  const std::wstring go = L"sim-test-go-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring flag = tempPath(L"clicked");
  DeleteFileW(flag.c_str());
  Simulator simulator("wait-event " + scriptText(go) + " 20000\n" +
                          "event 1003\n"
                          "wait-file " +
                          scriptText(flag) + " 20000\n" +
                          "event 1004\n"
                          "wait-event " +
                          scriptText(go + L"-never") + " 300\n" + "close\n",
                      L"", "waits");
  ASSERT_TRUE(simulator.waitForLog("status stream connected")) << simulator.log();
  Sleep(300);
  EXPECT_EQ(simulator.log().find("line 2: event"), std::string::npos) << "sent before the event";
  // Opens the simulator's event, or creates the one it will open.
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, go.c_str());
  ASSERT_NE(event, nullptr);
  SetEvent(event);
  EXPECT_TRUE(simulator.waitForLog("line 2: event (20 bytes)")) << simulator.log();
  Sleep(300);
  EXPECT_EQ(simulator.log().find("line 4: event"), std::string::npos) << "sent before the file";
  std::ofstream(platform::wideToUtf8(flag)) << "done";
  const SimulatorRun run = simulator.finish();
  CloseHandle(event);
  DeleteFileW(flag.c_str());
  EXPECT_EQ(run.exitCode, 2u) << run.log;
  const std::string name = platform::wideToUtf8(go);
  const std::string expected[] = {
      "line 1: wait-event " + name + ": set after ",
      "request class=2 subcode=3 length=0\n",
      "line 3: wait-file " + platform::wideToUtf8(flag) + ": set after ",
      "line 4: event (20 bytes)\n",
      "line 5: wait-event " + name + "-never: timed out after ",
      "line 6: close: status stream closed\n",
  };
  std::size_t from = 0;
  for (const std::string& line : expected) {
    const std::size_t at = run.log.find(line, from);
    EXPECT_NE(at, std::string::npos) << line << "\n" << run.log;
    if (at != std::string::npos) from = at;
  }
}

// The test plays the monitor and sees what the script's end of the status
// stream does to its reads.
TEST(SimulatorTest, CloseLetsTheMonitorReadCutDiscardsAndAnEmptyWriteIsAnEmptyRead) {
  const std::vector<std::uint8_t> record = tarn::encodeStatus(1003);
  std::uint8_t buffer[64];
  DWORD got = 0;
  {
    SCOPED_TRACE("close");
    Simulator simulator("event 1003\nclose\n", L"--timeout 20000", "hand-close", nullptr);
    HandMonitor monitor(simulator);
    ASSERT_TRUE(monitor.connected());
    ASSERT_TRUE(simulator.waitForLog("line 1: event (20 bytes)"));
    Sleep(300);
    EXPECT_EQ(simulator.log().find("line 2: close"), std::string::npos) << "closed before read";
    ASSERT_TRUE(ReadFile(monitor.status, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + got), record);
    EXPECT_TRUE(simulator.waitForLog("line 2: close: status stream closed"));
    EXPECT_FALSE(ReadFile(monitor.status, buffer, sizeof buffer, &got, nullptr));
    monitor.closeRequests();
    const SimulatorRun run = simulator.finish();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(run.log.find("request stream ended\n"), std::string::npos) << run.log;
  }
  {
    SCOPED_TRACE("cut");
    Simulator simulator("event 1003\ncut\n", L"--timeout 20000", "hand-cut", nullptr);
    HandMonitor monitor(simulator);
    ASSERT_TRUE(monitor.connected());
    ASSERT_TRUE(simulator.waitForLog("line 2: cut: status stream cut"));
    // The record was written but never read: it is gone with the stream.
    EXPECT_FALSE(ReadFile(monitor.status, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 0u);
  }
  {
    // What a port monitor that crashes right after its last write does to a
    // monitor that has read everything: the next read fails.
    SCOPED_TRACE("flush, then cut");
    Simulator simulator("event 1003\nflush\ncut\n", L"--timeout 20000", "hand-flush", nullptr);
    HandMonitor monitor(simulator);
    ASSERT_TRUE(monitor.connected());
    ASSERT_TRUE(simulator.waitForLog("line 1: event (20 bytes)"));
    Sleep(300);
    EXPECT_EQ(simulator.log().find("line 2: flush"), std::string::npos) << "flushed before read";
    ASSERT_TRUE(ReadFile(monitor.status, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + got), record);
    EXPECT_TRUE(simulator.waitForLog("line 2: flush: read by the monitor"));
    EXPECT_TRUE(simulator.waitForLog("line 3: cut: status stream cut"));
    EXPECT_FALSE(ReadFile(monitor.status, buffer, sizeof buffer, &got, nullptr));
  }
  {
    SCOPED_TRACE("empty-write");
    // A zero-length write on a byte pipe reaches no reader under Wine; as a
    // message it completes a read with no bytes.
    Simulator simulator("empty-write\nevent 1003\n", L"--message-mode --timeout 20000",
                        "hand-empty", nullptr);
    HandMonitor monitor(simulator);
    ASSERT_TRUE(monitor.connected());
    got = 99;
    ASSERT_TRUE(ReadFile(monitor.status, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(ReadFile(monitor.status, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + got), record);
    EXPECT_TRUE(simulator.waitForLog("line 1: empty-write (0 bytes)"));
  }
}

TEST(SimulatorTest, TheRequestStreamCanBeLeftUnreadAndThenClosed) {
  const std::wstring go = L"sim-test-requests-" + std::to_wstring(GetCurrentProcessId());
  Simulator simulator("ignore-requests\nwait-event " + scriptText(go) + " 20000\nclose-requests\n",
                      L"--timeout 20000", "hand-requests", nullptr);
  HandMonitor monitor(simulator);
  ASSERT_TRUE(monitor.connected());
  ASSERT_TRUE(simulator.waitForLog("line 1: ignore-requests: requests no longer read"));
  const std::vector<std::uint8_t> request = tarn::encodeRequest(2, 1003);
  DWORD written = 0;
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(WriteFile(monitor.requests, request.data(), 16, &written, nullptr));
  }
  Sleep(300);
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, go.c_str());
  SetEvent(event);
  ASSERT_TRUE(simulator.waitForLog("line 3: close-requests: request stream closed"));
  EXPECT_FALSE(WriteFile(monitor.requests, request.data(), 16, &written, nullptr));
  // Without a program the simulator ends once the script that closed the
  // request stream has played.
  const SimulatorRun run = simulator.finish(20000);
  CloseHandle(event);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.log.find("request class="), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("script played\n"), std::string::npos) << run.log;
}

// Without a program the simulator gives up after --timeout whatever its
// threads are waiting for, ends them and exits.
TEST(SimulatorTest, ATimeoutWithoutAProgramEndsEveryWaitOfTheSimulator) {
  const struct {
    const char* script;
    const char* name;
  } cases[] = {
      {"raw zeros:1000000\n", "hand-write"},              // more than the pipe holds, unread
      {"event 1003\nclose\n", "hand-flush"},              // close waits for a reader
      {"wait-event never-set 100000\n", "hand-wait"},     // a wait nobody ends
      {"ignore-requests\npause 100000\n", "hand-pause"},  // a pause, requests unread
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    Simulator simulator(c.script, L"--timeout 1000", c.name, nullptr);
    HandMonitor monitor(simulator);
    ASSERT_TRUE(monitor.connected());
    const SimulatorRun run = simulator.finish(20000);
    EXPECT_EQ(run.exitCode, 0u);
    const std::string last = "timeout after 1000 ms\n";
    ASSERT_GE(run.log.size(), last.size()) << run.log;
    EXPECT_EQ(run.log.substr(run.log.size() - last.size()), last) << run.log;
  }
}

// The channel components when the port monitor writes messages
// (--message-mode): an empty message between two records, read through a
// pipe opened by name (byte reads) and through an inherited handle in
// message read mode, where a read shorter than the record ends with
// ERROR_MORE_DATA. The script closes the stream once the test has seen both
// answers, so that the reader's stop cannot overtake their delivery.
TEST(SimulatorTest, TheChannelComponentsReadMessagesWhateverTheReadMode) {
  const struct {
    const wchar_t* options;
    const char* name;
  } modes[] = {{L"--message-mode", "probe-messages"},
               {L"--message-mode --handles", "probe-message-handles"}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.name);
    const std::wstring go = L"sim-test-" + platform::utf8ToWide(mode.name) + L"-" +
                            std::to_wstring(GetCurrentProcessId());
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, go.c_str());
    Simulator simulator(
        "event 1003\nempty-write\nevent 1004\nwait-event " + scriptText(go) + " 20000\nclose\n",
        mode.options, mode.name, CHANNEL_PROBE_EXE);
    EXPECT_TRUE(simulator.waitForLog("request class=2 subcode=1003 length=0\n") &&
                simulator.waitForLog("request class=2 subcode=1004 length=0\n"));
    SetEvent(event);
    const SimulatorRun run = simulator.finish();
    CloseHandle(event);
    EXPECT_EQ(run.exitCode, 2u) << run.log;
  }
}

// A port monitor that closes the request stream: the request writer's writes
// fail, and the program goes on reading.
TEST(SimulatorTest, TheChannelComponentsOutliveAClosedRequestStream) {
  const SimulatorRun run = simulate("close-requests\nevent 1003\nevent 1004\npause 1000\nclose\n",
                                    L"", "probe-no-requests", CHANNEL_PROBE_EXE);
  EXPECT_EQ(run.exitCode, 2u) << run.log;
  EXPECT_EQ(run.log.find("request class="), std::string::npos) << run.log;
}

}  // namespace
