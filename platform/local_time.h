// The local wall-clock time, as GetLocalTime gives it.
#ifndef PLATFORM_LOCAL_TIME_H_
#define PLATFORM_LOCAL_TIME_H_

namespace platform {

struct LocalTime {
  int year = 0;    // e.g. 2026
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
  int second = 0;  // 0 to 59
  int milliseconds = 0;
};

// The current local time of the system.
LocalTime localTime();

}  // namespace platform

#endif  // PLATFORM_LOCAL_TIME_H_
