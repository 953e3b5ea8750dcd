#include <gtest/gtest.h>

#include <cstring>

#include "platform/win/clock.h"
#include "platform/win/progdir.h"
#include "platform/win/strings.h"
#include "tests/testsupport/testsupport.h"

TEST(Clock, VirtualSleepAdvancesTimeAtOnce) {
  testsupport::VirtualClock vc;
  EXPECT_EQ(Timer(), 0.0);
  Delay(1.5);
  Sleep(250);
  EXPECT_DOUBLE_EQ(Timer(), 1.75);
  Delay(0.001);
  EXPECT_DOUBLE_EQ(Timer(), 1.751);  // a whole millisecond is never lost to rounding
  Delay(0.0004);
  EXPECT_DOUBLE_EQ(Timer(), 1.751);  // below a millisecond does not count
  double observed = 0;
  auto old = platform::clock::set_sleep_observer([&](double s) { observed += s; });
  Delay(0.01);
  platform::clock::set_sleep_observer(old);
  EXPECT_DOUBLE_EQ(observed, 0.01);
}

// A spin lasts at least its time on the real clock, and is a sleep on the virtual one.
TEST(Clock, SpinWaitsItsTime) {
  const double t0 = platform::clock::now();
  platform::clock::spin(20e-6);
  EXPECT_GE(platform::clock::now() - t0, 20e-6);
  testsupport::VirtualClock vc;
  double observed = 0;
  auto old = platform::clock::set_sleep_observer([&](double s) { observed += s; });
  platform::clock::spin(3e-6);
  platform::clock::spin(-1.0);
  platform::clock::set_sleep_observer(old);
  EXPECT_DOUBLE_EQ(platform::clock::now(), 3e-6);
  EXPECT_DOUBLE_EQ(observed, 3e-6);
}

TEST(Clock, NegativeOrNanDelayDoesNotGoBack) {
  testsupport::VirtualClock vc;
  Delay(1.0);
  Delay(-5.0);
  Delay(0.0 / 0.0);
  EXPECT_DOUBLE_EQ(platform::clock::now(), 1.0);
}

TEST(Clock, DateAndTimeTexts) {
  std::tm tm{};
  tm.tm_year = 2026 - 1900;
  tm.tm_mon = 11;
  tm.tm_mday = 3;
  tm.tm_hour = 7;
  tm.tm_min = 5;
  tm.tm_sec = 9;
  tm.tm_isdst = -1;
  platform::clock::set_wall_time(mktime(&tm));
  EXPECT_STREQ(DateStr(), "12-03-2026");
  EXPECT_STREQ(TimeStr(), "07:05:09");
  platform::clock::set_wall_time(0);
}

TEST(ProgramDir, IsTheExecutablesDirectory) {
  char dir[260];
  ASSERT_EQ(GetProjectDir(dir), 0);
  EXPECT_EQ(std::string(dir), std::string(TRQ_BINARY_DIR) + "/tests/platform");
}

TEST(Strings, CaseInsensitiveAndBounded) {
  EXPECT_EQ(StrICmp("Data.TXT", "data.txt"), 0);
  EXPECT_LT(StrICmp("abc", "abd"), 0);
  EXPECT_EQ(StrNICmp("KMVUSB_x", "kmvusb_y", 6), 0);
  char s[] = "Mixed Case 1";
  StringUpperCase(s);
  EXPECT_STREQ(s, "MIXED CASE 1");
  StringLowerCase(s);
  EXPECT_STREQ(s, "mixed case 1");
  char small[4];
  EXPECT_FALSE(platform::copy_bounded(small, sizeof small, "abcdef"));
  EXPECT_STREQ(small, "abc");
  EXPECT_TRUE(platform::copy_bounded(small, sizeof small, "ab"));
  EXPECT_STREQ(small, "ab");
}
