#include "client/core/dates.h"

#include <cstdio>
#include <ctime>

#include "client/core/msg.h"

namespace {
char date_buffer[100];
const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

time_t resolve(int64_t t) { return t == -1 ? std::time(nullptr) : static_cast<time_t>(t); }

bool valid(const struct tm& tm) {
  return tm.tm_wday >= 0 && tm.tm_wday < 7 && tm.tm_mon >= 0 && tm.tm_mon < 12;
}

// Breaks tt down in universal or local time; false, with the buffer emptied, when it cannot be.
bool break_down(time_t tt, bool local, struct tm& tm) {
  if ((local ? localtime_r(&tt, &tm) : gmtime_r(&tt, &tm)) && valid(tm)) return true;
  date_buffer[0] = 0;
  return false;
}

// Both by hand: names stay English and numbers plain whatever the locale.
void local_date(const struct tm& tm, char* out, size_t size) {
  std::snprintf(out, size, "%s %s %d, %lld", kDays[tm.tm_wday], kMonths[tm.tm_mon], tm.tm_mday,
                static_cast<long long>(tm.tm_year) + 1900);
}
}  // namespace

const char* date_http(int64_t t) {
  struct tm tm;
  if (!break_down(resolve(t), false, tm)) return date_buffer;
  std::snprintf(date_buffer, sizeof date_buffer, "%s, %02d %s %04lld %02d:%02d:%02d GMT",
                kDays[tm.tm_wday], tm.tm_mday, kMonths[tm.tm_mon],
                static_cast<long long>(tm.tm_year) + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return date_buffer;
}

const char* date_local(int64_t t) {
  struct tm tm;
  if (!break_down(resolve(t), true, tm)) return date_buffer;
  char day[60];
  local_date(tm, day, sizeof day);
  std::snprintf(date_buffer, sizeof date_buffer, "%s %02d:%02d", day, tm.tm_hour, tm.tm_min);
  return date_buffer;
}

const char* date_now() { return date_local(-1); }

const char* date_vrt(int64_t t) {
  struct tm tm;
  if (!break_down(resolve(t) - 7200, false, tm)) return date_buffer;
  char day[60];
  local_date(tm, day, sizeof day);
  std::snprintf(date_buffer, sizeof date_buffer, "%02d:%02d %s VRT", tm.tm_hour, tm.tm_min, day);
  return date_buffer;
}

const char* date_short(int64_t t) {
  struct tm tm;
  if (!break_down(resolve(t), true, tm)) return date_buffer;
  std::snprintf(date_buffer, sizeof date_buffer, "%s %02d:%02d", kDays[tm.tm_wday], tm.tm_hour,
                tm.tm_min);
  return date_buffer;
}

const char* date_age(int64_t seconds) {
  if (seconds > 3600) return date_local(static_cast<int64_t>(std::time(nullptr)) - seconds);
  int64_t m = (seconds + 30) / 60;
  const char* text = m > 1 ? msg_arg(145, static_cast<int>(m)) : msg(144);
  std::snprintf(date_buffer, sizeof date_buffer, "%s", text);
  return date_buffer;
}

void date_to_systemtime(const struct tm* tm, SystemTime* out) {
  if (!tm || !out) return;
  out->year = static_cast<uint16_t>(tm->tm_year + 1900);
  out->month = static_cast<uint16_t>(tm->tm_mon + 1);
  out->day_of_week = static_cast<uint16_t>(tm->tm_wday);
  out->day = static_cast<uint16_t>(tm->tm_mday);
  out->hour = static_cast<uint16_t>(tm->tm_hour);
  out->minute = static_cast<uint16_t>(tm->tm_min);
  out->second = static_cast<uint16_t>(tm->tm_sec);
  out->milliseconds = 0;
}
