// Starting another program for a test (the simulator, the monitor, a child
// that shows a dialog).
#ifndef PLATFORM_TEST_SUPPORT_PROCESS_H_
#define PLATFORM_TEST_SUPPORT_PROCESS_H_

#include <windows.h>

#include <string>

namespace testsupport {

// Starts `commandLine` with inherited handles, its console output dropped,
// and `environment` (a block as CreateProcessW takes it; empty: this
// process's). Answers the process handle, which the caller closes, and its id
// in `processId` when given. The internal error Wine once answered a start
// with is retried once; a process that cannot be started fails the test and
// gives null.
HANDLE startProcess(std::wstring commandLine, const std::wstring& environment = std::wstring(),
                    DWORD* processId = nullptr);

}  // namespace testsupport

#endif  // PLATFORM_TEST_SUPPORT_PROCESS_H_
