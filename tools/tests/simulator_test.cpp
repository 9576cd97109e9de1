// Runs the port-monitor simulator against a stand-in monitor through real
// named pipes, the way a tester or an end-to-end test drives it.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

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

// Runs the simulator with a script and the given options, with a deadline.
SimulatorRun simulate(const std::string& script, const std::wstring& options, const char* name,
                      const char* program = ECHO_CLIENT_EXE) {
  const std::wstring scriptPath = tempPath(platform::utf8ToWide(name) + L".job");
  const std::wstring logPath = tempPath(platform::utf8ToWide(name) + L".log");
  std::ofstream(platform::wideToUtf8(scriptPath), std::ios::binary) << script;
  std::wstring commandLine = L"\"" + besideThisProgram(SIMULATOR_EXE) + L"\" --name sim-test-" +
                             std::to_wstring(GetCurrentProcessId()) + L"-" +
                             platform::utf8ToWide(name) + L" --log \"" + logPath + L"\" " +
                             options + L" \"" + scriptPath + L"\" -- \"" +
                             besideThisProgram(program) + L"\"";
  // The log file holds what the test reads; the console copy is dropped.
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  PROCESS_INFORMATION process = {};
  SimulatorRun run;
  const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(nul);
  if (!started) {
    ADD_FAILURE() << "cannot start the simulator: " << GetLastError();
    return run;
  }
  if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the simulator did not end in time";
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::stringstream text;
  text << std::ifstream(platform::wideToUtf8(logPath), std::ios::binary).rdbuf();
  run.log = text.str();
  DeleteFileW(scriptPath.c_str());
  DeleteFileW(logPath.c_str());
  return run;
}

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

}  // namespace
