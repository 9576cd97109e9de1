#include "platform/test_support/temp_dir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

namespace testsupport {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  char base[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(MAX_PATH, base);
  if (length == 0 || length > MAX_PATH) {
    ADD_FAILURE() << "no temporary folder (error " << GetLastError() << ")";
    return;
  }
  path_ = std::string(base) + "monitortest" + std::to_string(GetCurrentProcessId()) + "_" +
          std::to_string(counter++);
  if (!CreateDirectoryA(path_.c_str(), nullptr)) {
    ADD_FAILURE() << "cannot make " << path_ << " (error " << GetLastError() << ")";
  }
}

TempDir::~TempDir() {
  for (auto made = created_.rbegin(); made != created_.rend(); ++made) {
    if (!DeleteFileA(made->c_str())) RemoveDirectoryA(made->c_str());
  }
  RemoveDirectoryA(path_.c_str());
}

std::string TempDir::write(const std::string& relative, const std::string& content) {
  makeFolders(relative);
  const std::string full = path_ + "\\" + relative;
  HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot create " << full << " (error " << GetLastError() << ")";
    return full;
  }
  created_.push_back(full);
  DWORD written = 0;
  const BOOL wrote =
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  if (!wrote || written != content.size()) {
    ADD_FAILURE() << "wrote " << written << " of " << content.size() << " bytes to " << full;
  }
  return full;
}

std::string TempDir::copy(const std::string& from, const std::string& relative) {
  makeFolders(relative);
  const std::string full = path_ + "\\" + relative;
  if (!CopyFileA(from.c_str(), full.c_str(), FALSE)) {
    ADD_FAILURE() << "cannot copy " << from << " to " << full << " (error " << GetLastError()
                  << ")";
    return full;
  }
  created_.push_back(full);
  return full;
}

std::string TempDir::folder(const std::string& relative) {
  makeFolders(relative + "\\x");
  return path_ + "\\" + relative;
}

void TempDir::makeFolders(const std::string& relative) {
  for (std::size_t at = relative.find('\\'); at != std::string::npos;
       at = relative.find('\\', at + 1)) {
    const std::string folder = path_ + "\\" + relative.substr(0, at);
    if (CreateDirectoryA(folder.c_str(), nullptr)) {
      created_.push_back(folder);
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
      ADD_FAILURE() << "cannot make " << folder << " (error " << GetLastError() << ")";
    }
  }
}

}  // namespace testsupport
