#include "client/core/dates.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "client/core/msg.h"
#include "platform/progdir.h"
#include "temp_dir.h"

namespace {

// Times and the texts Python's email.utils.formatdate(t, usegmt=True) gives for them.
struct Known {
  int64_t t;
  const char* text;
};
const Known kKnown[] = {
    {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
    {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
    {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
    {1234567890, "Fri, 13 Feb 2009 23:31:30 GMT"},
    {2147483647, "Tue, 19 Jan 2038 03:14:07 GMT"},
    {2147483648, "Tue, 19 Jan 2038 03:14:08 GMT"},
    {4102444800, "Fri, 01 Jan 2100 00:00:00 GMT"},
    {1709251199, "Thu, 29 Feb 2024 23:59:59 GMT"},
    {86399, "Thu, 01 Jan 1970 23:59:59 GMT"},
};

// Some locale other than C with other day and month names, when the machine has one.
bool set_foreign_locale() {
  for (const char* l : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "es_ES.UTF-8", "ru_RU.UTF-8"})
    if (std::setlocale(LC_ALL, l)) return true;
  return false;
}

}  // namespace

TEST(Dates, HttpDateKnownValues) {
  for (const auto& k : kKnown) EXPECT_STREQ(date_http(k.t), k.text) << k.t;
}

TEST(Dates, HttpDateWhateverTheLocale) {
  bool foreign = set_foreign_locale();
  for (const auto& k : kKnown) EXPECT_STREQ(date_http(k.t), k.text) << k.t;
  std::setlocale(LC_ALL, "C");
  if (!foreign) GTEST_SKIP() << "no non-English locale installed; checked in the C locale";
}

TEST(Dates, HttpDateMatchesPythonForRandomTimes) {
  if (std::system("python3 -c 'import email.utils' > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 missing";
  set_foreign_locale();
  std::mt19937_64 rng(20260101);
  std::vector<int64_t> times;
  std::string list;
  for (int i = 0; i < 50; ++i) {
    times.push_back(static_cast<int64_t>(rng() % 8000000000ull));
    list += std::to_string(times.back()) + ",";
  }
  std::string cmd = "python3 -c 'import email.utils\nfor t in [" + list +
                    "]: print(email.utils.formatdate(t, usegmt=True))'";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  for (int64_t t : times) {
    char line[100] = {0};
    ASSERT_NE(fgets(line, sizeof line, p), nullptr);
    line[strcspn(line, "\n")] = 0;
    EXPECT_STREQ(date_http(t), line) << t;
  }
  pclose(p);
  std::setlocale(LC_ALL, "C");
}

TEST(Dates, LocalVrtAndShortForms) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_STREQ(date_local(784111777), "Sun Nov 6, 1994 08:49");
  EXPECT_STREQ(date_vrt(784111777), "06:49 Sun Nov 6, 1994 VRT");
  EXPECT_STREQ(date_vrt(3600), "23:00 Wed Dec 31, 1969 VRT");  // two hours back crosses the day
  EXPECT_STREQ(date_short(784111777), "Sun 08:49");
  setenv("TZ", "Asia/Tokyo", 1);  // UTC+9 where the zone data exists
  tzset();
  std::string tokyo = date_short(784111777);
  EXPECT_TRUE(tokyo == "Sun 17:49" || tokyo == "Sun 08:49") << tokyo;
  EXPECT_STREQ(date_vrt(784111777), "06:49 Sun Nov 6, 1994 VRT");  // the world clock is UTC-2
  unsetenv("TZ");
  tzset();
  EXPECT_NE(std::string(date_now()), "");
}

TEST(Dates, AgeInMinutesOrAsADate) {
  TempDir dir;
  mkdir(dir.file("Messages").c_str(), 0755);
  write_file(dir.file("Messages/default.tzm"), "144 just now\n145 %d min\n");
  platform_set_program_dir(dir.path());
  msg_reset();
  ASSERT_EQ(msg_load("default"), 1);
  EXPECT_STREQ(date_age(0), "just now");
  EXPECT_STREQ(date_age(89), "just now");  // m = 1
  EXPECT_STREQ(date_age(90), "2 min");
  EXPECT_STREQ(date_age(3600), "60 min");
  setenv("TZ", "UTC", 1);
  tzset();
  int64_t age = static_cast<int64_t>(time(nullptr)) - 784111777;
  std::string text = date_age(age);
  // The date of then (the clock may tick between the two reads).
  EXPECT_EQ(text.substr(0, 18), "Sun Nov 6, 1994 08") << text;
  unsetenv("TZ");
  tzset();
  msg_reset();
}

TEST(Dates, SystemTimeFromCalendarTime) {
  struct tm tm {};
  tm.tm_year = 94;
  tm.tm_mon = 10;
  tm.tm_mday = 6;
  tm.tm_wday = 0;
  tm.tm_hour = 8;
  tm.tm_min = 49;
  tm.tm_sec = 37;
  SystemTime st;
  std::memset(&st, 0xff, sizeof st);
  date_to_systemtime(&tm, &st);
  EXPECT_EQ(st.year, 1994);
  EXPECT_EQ(st.month, 11);
  EXPECT_EQ(st.day, 6);
  EXPECT_EQ(st.day_of_week, 0);
  EXPECT_EQ(st.hour, 8);
  EXPECT_EQ(st.minute, 49);
  EXPECT_EQ(st.second, 37);
  EXPECT_EQ(st.milliseconds, 0);
}
