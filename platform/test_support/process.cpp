#include "platform/test_support/process.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace testsupport {

HANDLE startProcess(std::wstring commandLine, const std::wstring& environment,
                    DWORD* processId) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (nul != INVALID_HANDLE_VALUE) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  }
  PROCESS_INFORMATION process = {};
  BOOL started = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 2 && !started; ++attempt) {
    started = CreateProcessW(
        nullptr, commandLine.data(), nullptr, nullptr, TRUE,
        environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT,
        environment.empty() ? nullptr : const_cast<wchar_t*>(environment.c_str()), nullptr,
        &startup, &process);
    error = started ? 0 : GetLastError();
    // Wine once answered a start with an internal error that never came back.
    if (!started && error != ERROR_INTERNAL_ERROR) break;
  }
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!started) {
    ADD_FAILURE() << "cannot start " << platform::wideToUtf8(commandLine) << ": error " << error;
    return nullptr;
  }
  CloseHandle(process.hThread);
  if (processId != nullptr) *processId = process.dwProcessId;
  return process.hProcess;
}

}  // namespace testsupport
