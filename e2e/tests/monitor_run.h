// One run of the real monitor program against the port-monitor simulator,
// over real named pipes, as the port monitor starts it for a print job.
//
// The simulator is started first, without a program, so that it creates the
// pipe pair and plays the job script once the monitor connects; then the
// monitor is started with pipe=\\.\pipe\NAME (or other arguments), so that
// the test holds the monitor's own process handle: its id to find its
// windows, and its exit code. Both processes are ended when the run goes.
#ifndef E2E_TESTS_MONITOR_RUN_H_
#define E2E_TESTS_MONITOR_RUN_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// Path of a file built beside the test program's build tree, from its path
// relative to the top of the build tree ("app/qmxMeadowMonitor.exe").
std::wstring builtFile(const char* relativePath);

struct RunOptions {
  // How the monitor learns about its streams: "pipe" (pipe=\\.\pipe\NAME),
  // "none" (no arguments at all), or anything else, passed as it stands.
  std::string monitorArguments = "pipe";
  // Starts the monitor through the simulator (--handles: inherited handle
  // numbers) instead of by itself; the monitor's process is then found by
  // its file name.
  bool throughSimulatorWithHandles = false;
  // Environment changes for the monitor, "NAME=value" each.
  std::vector<std::string> environment;
  // The monitor program; default the one the build makes.
  std::wstring program;
};

class MonitorRun {
 public:
  // Writes the script, starts the simulator and then the monitor. In the
  // script, "{ID}" stands for this run's unique name (for wait-event names).
  explicit MonitorRun(const std::string& script, RunOptions options = RunOptions());
  // Ends whatever is still running.
  ~MonitorRun();
  MonitorRun(const MonitorRun&) = delete;
  MonitorRun& operator=(const MonitorRun&) = delete;

  bool started() const { return monitor_ != nullptr; }
  DWORD monitorId() const { return monitorId_; }
  const std::string& id() const { return id_; }

  // Sets the named event "{ID}-<suffix>" that a script's wait-event waits on.
  void signal(const std::string& suffix);

  // Whether the monitor has ended.
  bool ended() const { return monitor_ == nullptr || WaitForSingleObject(monitor_, 0) == WAIT_OBJECT_0; }
  // Waits for the monitor to end; false when it did not end in time (it is
  // then ended, with exit code 0xDEAD).
  bool waitForExit(std::uint32_t timeoutMs, DWORD* exitCode);
  // Waits for the simulator to end and answers its log.
  std::string simulatorLog(std::uint32_t timeoutMs = 10000);
  // The log as it stands, without waiting.
  std::string logSoFar() const;
  // Waits until the log holds `text`.
  bool waitForLog(const std::string& text, std::uint32_t timeoutMs);

 private:
  std::string id_;
  std::wstring scriptPath_;
  std::wstring logPath_;
  HANDLE simulator_ = nullptr;
  HANDLE monitor_ = nullptr;
  DWORD monitorId_ = 0;
  std::vector<HANDLE> events_;
};

}  // namespace e2e

#endif  // E2E_TESTS_MONITOR_RUN_H_
