// The registry key of the low-ink snooze, for tests that write its value in
// every shape a writer may leave behind. The key is removed before and after
// each test, with its access list opened again first.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

class SnoozeKeyTest : public ::testing::Test {
 protected:
  static constexpr char kKey[] = "Software\\KRT\\SM";

  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
  void TearDown() override {
    setKeyAccess("D:(A;;KA;;;WD)");
    RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  }

  // Gives the key the access list of the security descriptor text (SDDL);
  // "D:P" denies every access but the owner's to the list itself.
  static void setKeyAccess(const char* descriptor) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                             &security, nullptr)) {
      EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, security));
      LocalFree(security);
    }
    RegCloseKey(key);
  }

  // Stores "snooze" with the given type and bytes, creating the key.
  static void store(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, "snooze", 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
  }
};
