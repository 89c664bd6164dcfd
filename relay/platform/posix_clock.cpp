// The clock of Env: the local time of the machine, to the millisecond.

#include <time.h>

#include "relay/platform/posix_env.h"

namespace dbrelay {

LocalTime PosixEnv::GetLocalTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  LocalTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return t;
}

}  // namespace dbrelay
