// The low-ink snooze: a time, kept in the user's registry by whatever offers
// the user to snooze low-ink alerts, until which those alerts are not shown.
//
// HKEY_CURRENT_USER\Software\KRT\SM, value "snooze": the end of the snooze as
// a signed 64-bit count of seconds since 1970-01-01 00:00 UTC, in 8 bytes of
// value data. The monitor only reads it, and does not check the value's type.
#ifndef APP_SNOOZE_H_
#define APP_SNOOZE_H_

#include <cstdint>

// Whether a snooze ending at `stored` is in force at `now` (both in seconds
// since 1970 UTC). It is, up to and including the stored second. A negative
// stored value or clock always counts as in force (the difference is taken
// as 0); an end further away than a signed 32-bit count of seconds does not.
bool snoozeInForce(std::int64_t stored, std::int64_t now);

// Reads the registry value: up to 8 bytes of its data, whatever its type,
// fill the stored time from its low-order byte up. A missing key or value, a
// value longer than 8 bytes or any other failure reads as 0.
std::int64_t readSnoozeValue();

// snoozeInForce(readSnoozeValue(), the current time).
bool isSnoozed();

#endif  // APP_SNOOZE_H_
