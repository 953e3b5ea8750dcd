// Titles with the emulation marker, print settings, dates and times, numbers
// with delimiters, powers of two, timing, the scrambler and string handles.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/ui/headless.h"
#include "platform/ui/ui.h"
#include "platform/win/clock.h"
#include "platform/win/files.h"
#include "support/Util_fun_titles.h"
#include "support/app_hooks.h"
#include "tests/testsupport/testsupport.h"

namespace {

class Titles : public ::testing::Test {
 protected:
  void SetUp() override { platform::ui::headless::reset(); }
  void TearDown() override {
    hardware = 1;
    platform::clock::set_wall_time(0);
    platform::files::set_fault_hook({});
    platform::ui::headless::reset();
  }
};

TEST_F(Titles, EmulationIsMarkedInTheTitle) {
  const int p = NewPanel(0, "", 0, 0, 10, 10);
  char title[64];
  hardware = 1;
  EXPECT_EQ(SetPanelTitle(p, "TRQ v.1.20"), 0);
  GetPanelAttribute(p, ATTR_TITLE, title);
  EXPECT_STREQ(title, "TRQ v.1.20");
  hardware = 0;
  EXPECT_EQ(SetPanelTitle(p, "Main"), 0);
  GetPanelAttribute(p, ATTR_TITLE, title);
  EXPECT_STREQ(title, "Main  Emulation");
  EXPECT_EQ(SetPanelTitle(9999, "Main"), UIE_PANEL_INVALID);
}

TEST_F(Titles, PrintSettingsKeepTheAreaConsistentWithTheOrientation) {
  PrintAttrRecord r;
  std::memset(&r, 0x7f, sizeof r);
  EXPECT_EQ(DefaultPrintAttr(&r), &r);
  EXPECT_EQ(r.attr_1303, 1);
  EXPECT_EQ(r.orientation, 2);
  EXPECT_EQ(r.area_width, -1);
  EXPECT_EQ(r.area_height, 0);
  EXPECT_EQ(r.user, 0);
  EXPECT_EQ(r.user_short1, 0);
  EXPECT_EQ(r.user_short2, 1);
  struct Case {
    int orientation, width, height, applied_width, applied_height;
  };
  const Case cases[] = {
      {VAL_LANDSCAPE, 0, -1, -1, 0}, {VAL_LANDSCAPE, -1, 0, -1, 0}, {VAL_PORTRAIT, -1, 0, 0, -1},
      {VAL_PORTRAIT, 0, -1, 0, -1},  {VAL_LANDSCAPE, 500, 300, 500, 300},
  };
  for (const Case &c : cases) {
    DefaultPrintAttr(&r);
    r.orientation = c.orientation;
    r.area_width = c.width;
    r.area_height = c.height;
    ASSERT_EQ(SetPrintAttr(&r), 0);
    EXPECT_EQ(r.area_width, c.applied_width);
    EXPECT_EQ(r.area_height, c.applied_height);
    int w = 9, h = 9;
    GetPrintAttribute(ATTR_PRINT_AREA_WIDTH, &w);
    GetPrintAttribute(ATTR_PRINT_AREA_HEIGHT, &h);
    EXPECT_EQ(w, c.applied_width);
    EXPECT_EQ(h, c.applied_height);
  }
  int v = 0;
  for (int a : {1304, 1305, 1309}) {
    GetPrintAttribute(a, &v);
    EXPECT_EQ(v, -1) << a;
  }
  PrintAttrRecord back;
  DefaultPrintAttr(&back);
  back.attr_1306 = 77;
  EXPECT_EQ(GetPrintAttr(&back), 0);
  EXPECT_EQ(back.attr_1306, -1);
  EXPECT_EQ(back.area_width, 500);
  r.orientation = 5;
  EXPECT_EQ(SetPrintAttr(&r), UIE_VALUE_INVALID) << "a failure is not hidden by later successes";
}

TEST_F(Titles, DatesAndTimesInFixedLayouts) {
  std::tm tm{};
  tm.tm_year = 2020 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 9;
  tm.tm_hour = 7;
  tm.tm_min = 5;
  tm.tm_sec = 3;
  tm.tm_isdst = -1;
  platform::clock::set_wall_time(std::mktime(&tm));
  EXPECT_STREQ(MyDateStr(), "2020-03-09");
  EXPECT_STREQ(MyDateStr1(), "20/03/09");
  EXPECT_STREQ(MyDateStr2(), "200309");
  EXPECT_STREQ(MyTimeStr(), "070503");
  // They are written over the platform's own buffers.
  char *date = MyDateStr();
  EXPECT_EQ(date, DateStr());
  EXPECT_EQ(MyTimeStr(), TimeStr());
}

TEST_F(Titles, NumbersWithDelimiters) {
  struct Case {
    int64_t value;
    char delimiter;
    const char *text;
  };
  const Case cases[] = {
      {1234567, 0, "1,234,567"},
      {-1000, 0, "-1,000"},
      {999, 0, "999"},
      {0, 0, "0"},
      {1000, '.', "1.000"},
      {-5, ' ', "-5"},
      {1001001, '\'', "1'001'001"},
      {INT64_MAX, 0, "9,223,372,036,854,775,807"},
      {INT64_MIN, 0, "-9,223,372,036,854,775,808"},
  };
  for (const Case &c : cases) {
    char buf[28];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(IntToStringWithDelimiter(c.value, buf, c.delimiter), buf);
    EXPECT_STREQ(buf, c.text);
  }
  EXPECT_EQ(IntToStringWithDelimiter(5, nullptr, 0), nullptr);
}

TEST_F(Titles, PowersOfTwoEndForEveryInput) {
  struct Case {
    uint32_t n, power;
    int bits;
  };
  const Case cases[] = {
      {0, 1, 0},           {1, 1, 0},           {2, 2, 1},           {3, 4, 2},
      {1000, 1024, 10},    {1024, 1024, 10},    {1025, 2048, 11},    {0x80000000u, 0x80000000u, 31},
      {0x80000001u, 0, 32}, {0xFFFFFFFFu, 0, 32},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(NextPowerOfTwo(c.n), c.power) << c.n;
    EXPECT_EQ(get_bits_no(c.n), c.bits) << c.n;
  }
}

TEST_F(Titles, TimerAndDelayRunOnTheProgramsClock) {
  testsupport::VirtualClock clock;
  const double t0 = QVTimer();
  QVDelay(1.0);
  EXPECT_DOUBLE_EQ(QVTimer() - t0, 1.0);
  QVDelay(0.25);
  EXPECT_DOUBLE_EQ(QVTimer() - t0, 1.25);
}

TEST_F(Titles, ScramblingTwiceGivesTheSourceBack) {
  testsupport::TempDir dir;
  std::string content;
  for (int i = 0; i < 10000; ++i) content.push_back(static_cast<char>(i * 31));
  const std::string src = dir.write("src.bin", content);
  ASSERT_EQ(scramble_file(src.c_str(), dir.file("mid.bin").c_str()), 0);
  const std::string mid = testsupport::read_file(dir.file("mid.bin"));
  ASSERT_EQ(mid.size(), content.size());
  EXPECT_NE(mid, content);
  ASSERT_EQ(scramble_file(dir.file("mid.bin").c_str(), dir.file("back.bin").c_str()), 0);
  EXPECT_EQ(testsupport::read_file(dir.file("back.bin")), content);
  // The sequence is fixed: scrambling zeros gives the same key bytes.
  const std::string zeros = dir.write("zeros.bin", std::string(4, '\0'));
  ASSERT_EQ(scramble_file(zeros.c_str(), dir.file("z.bin").c_str()), 0);
  const std::string z = testsupport::read_file(dir.file("z.bin"));
  ASSERT_EQ(z.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(z[i], static_cast<char>(mid[i] ^ content[i])) << i;

  testing::internal::CaptureStdout();
  EXPECT_EQ(scramble_file(dir.file("missing").c_str(), dir.file("x").c_str()), -1);
  EXPECT_EQ(scramble_file(src.c_str(), dir.file("no/dir/x").c_str()), -1);
  const std::string said = testing::internal::GetCapturedStdout();
  EXPECT_NE(said.find("\n Can't open file " + dir.file("missing")), std::string::npos);
  EXPECT_NE(said.find("\n Can't open file " + dir.file("no/dir/x")), std::string::npos);

  platform::files::set_fault_hook([](platform::files::Op op, int, int64_t) {
    platform::files::Fault f;
    f.fail = op == platform::files::Op::write;
    return f;
  });
  testing::internal::CaptureStdout();
  EXPECT_EQ(scramble_file(src.c_str(), dir.file("fail.bin").c_str()), -1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("\n Error during writing to the file "), std::string::npos);
}

TEST_F(Titles, StringHandlesAreResizedToTheirText) {
  auto *block = static_cast<LStrPtr>(std::malloc(sizeof(LStr)));
  ASSERT_NE(block, nullptr);
  block->cnt = 0;
  LStrHandle h = &block;
  EXPECT_EQ(CopyCStringToLVString(h, "KMV-USB module"), 0);
  EXPECT_EQ((*h)->cnt, 14);
  char out[32];
  CopyLVStringToCString(out, h, sizeof out);
  EXPECT_STREQ(out, "KMV-USB module");
  CopyLVStringToCString(out, h, 4);
  EXPECT_STREQ(out, "KMV");
  EXPECT_EQ(CopyCStringToLVString(h, ""), 0);
  CopyLVStringToCString(out, h, sizeof out);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(CopyCStringToLVString(h, nullptr), -1);
  EXPECT_EQ(CopyCStringToLVString(nullptr, "x"), -1);
  std::free(*h);
}

}  // namespace
