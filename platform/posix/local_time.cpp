#include "platform/local_time.h"

#include <sys/time.h>
#include <time.h>

namespace platform {

LocalTime localTime() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm parts{};
  const time_t seconds = now.tv_sec;
  localtime_r(&seconds, &parts);
  LocalTime result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
  result.milliseconds = static_cast<int>(now.tv_usec / 1000);
  return result;
}

}  // namespace platform
