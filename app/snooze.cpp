#include "app/snooze.h"

#include <windows.h>

#include <cstring>
#include <ctime>

#include "platform/win32/scoped_win_handle.h"

bool snoozeInForce(std::int64_t stored, std::int64_t now) {
  // The difference is taken as a floating-point count of seconds, then cut
  // toward zero to 32 bits; one that does not fit counts as negative.
  double difference = 0.0;
  if (stored >= 0 && now >= 0) difference = static_cast<double>(stored - now);
  if (difference < -2147483648.0 || difference > 2147483647.0) return false;
  return static_cast<std::int32_t>(difference) >= 0;
}

std::int64_t readSnoozeValue() {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KRT\\SM", 0, KEY_READ, &opened) !=
      ERROR_SUCCESS) {
    return 0;
  }
  const platform::ScopedRegistryKey key(opened);
  unsigned char data[8] = {};
  DWORD size = sizeof(data);
  const LONG result = RegQueryValueExA(key.get(), "snooze", nullptr, nullptr, data, &size);
  // A longer value fails with ERROR_MORE_DATA, and what the buffer then
  // holds is undefined: it reads as no snooze at all.
  if (result != ERROR_SUCCESS || size > sizeof(data)) return 0;
  std::uint64_t bits = 0;
  for (DWORD i = 0; i < size; ++i) bits |= static_cast<std::uint64_t>(data[i]) << (8 * i);
  std::int64_t stored;
  std::memcpy(&stored, &bits, sizeof(stored));
  return stored;
}

bool isSnoozed() {
  return snoozeInForce(readSnoozeValue(), static_cast<std::int64_t>(std::time(nullptr)));
}
