// Owned and borrowed kernel HANDLEs for Windows-only code (the simulator, the
// bridge, test support): see platform/scoped_handle.h for the semantics.
#ifndef PLATFORM_WIN32_SCOPED_WIN_HANDLE_H_
#define PLATFORM_WIN32_SCOPED_WIN_HANDLE_H_

#include <windows.h>

#include "platform/scoped_handle.h"

namespace platform {

// A kernel object handle closed with CloseHandle. Both null (what
// CreateThread, CreateEvent and OpenProcess return on failure) and
// INVALID_HANDLE_VALUE (what CreateFile and CreateNamedPipe return) are
// invalid; a pseudo-handle such as GetCurrentProcess() must not be owned.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle nullHandle() { return nullptr; }
  static bool isValid(Handle handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
  }
  static void close(Handle handle) { ::CloseHandle(handle); }
};

using ScopedWinHandle = GenericScopedHandle<KernelHandleTraits>;
using BorrowedWinHandle = BorrowedHandle<KernelHandleTraits>;

// A registry key closed with RegCloseKey; the predefined roots
// (HKEY_CURRENT_USER and friends) are borrowed, never owned.
struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle nullHandle() { return nullptr; }
  static bool isValid(Handle handle) { return handle != nullptr; }
  static void close(Handle handle) { ::RegCloseKey(handle); }
};

using ScopedRegistryKey = GenericScopedHandle<RegistryKeyTraits>;

}  // namespace platform

#endif  // PLATFORM_WIN32_SCOPED_WIN_HANDLE_H_
