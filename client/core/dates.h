#pragma once
// Date texts; all results share one 100-byte buffer. A time of -1 means now.
// Names are English whatever the locale.
#include <cstdint>
#include <ctime>

struct SystemTime {
  uint16_t year, month, day_of_week, day, hour, minute, second, milliseconds;
};

// "Sun, 06 Nov 1994 08:49:37 GMT"
const char* date_http(int64_t t);
// Local: "Sun Nov 6, 1994 08:49"
const char* date_local(int64_t t);
const char* date_now();
// World clock (UTC - 2 h): "08:49 Sun Nov 6, 1994 VRT"
const char* date_vrt(int64_t t);
// Local: "Sun 08:49", "" when the date cannot be formatted.
const char* date_short(int64_t t);
// Age in seconds: above 3600 the local date of then; else message 144 / 145 with minutes.
const char* date_age(int64_t seconds);
void date_to_systemtime(const struct tm* tm, SystemTime* out);
