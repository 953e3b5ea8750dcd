// The eight identification lines written with every setup file.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "app/kmv_io_ident.h"
#include "platform/win/clock.h"
#include "tests/app/setup_files.h"

namespace {

class IdentLines : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::clock::set_wall_time(setup_test::local_time(2024, 3, 7, 9, 5, 3));
  }
  void TearDown() override { platform::clock::set_wall_time(0); }

  std::vector<std::string> fill(const char *path, char *values[]) {
    IdentLine lines[IDENT_LINE_COUNT];
    fillfilehdr(path, lines, values);
    std::vector<std::string> out;
    for (const IdentLine &l : lines) {
      EXPECT_EQ(std::string(l.text).find(" : ") + 3, static_cast<size_t>(l.pos)) << l.text;
      out.emplace_back(l.text);
    }
    return out;
  }
};

TEST_F(IdentLines, AutomaticFileOnQuit) {
  EXPECT_EQ(fill("/home/op/.local/share/qv/trq/trq_auto.set", nullptr),
            (std::vector<std::string>{"TITLE : trq_auto", "VERSION : 1", "REVISION : 1.20", "DATE : 03-07-2024",
                                      "TIME : 09:05:03", "AUTHOR : System", "COMPANY : Unknown",
                                      "CONTENTS : Autoconfiguration setup file made by system on exit"}));
}

TEST_F(IdentLines, SaveDialogValues) {
  char version[] = "2b", author[] = "", company[] = "Lab 4", contents[] = "";
  char *values[IDENT_VALUE_COUNT] = {};
  values[1] = version;
  values[5] = author;
  values[6] = company;
  values[7] = contents;
  const auto l = fill("run1", values);
  EXPECT_EQ(l[0], "TITLE : run1");
  EXPECT_EQ(l[1], "VERSION : 2b");
  EXPECT_EQ(l[5], "AUTHOR : Unknown");
  EXPECT_EQ(l[6], "COMPANY : Lab 4");
  EXPECT_EQ(l[7], "CONTENTS : ");
}

TEST_F(IdentLines, TitleIsTheNameUpToItsFirstDot) {
  const struct {
    const char *path, *title;
  } cases[] = {
      {"C:\\data\\beam.test.set", "beam"}, {"/srv/setups/beam.test.set", "beam"},
      {"run1", "run1"},                    {"C:run2.set", "run2"},
      {"dir/", ""},                        {"", ""},
  };
  for (const auto &c : cases) EXPECT_EQ(fill(c.path, nullptr)[0], std::string("TITLE : ") + c.title) << c.path;
}

TEST_F(IdentLines, LongValuesAreCutToTheLine) {
  std::string author(200, 'a'), path = "/d/" + std::string(250, 't') + ".set";
  char *values[IDENT_VALUE_COUNT] = {};
  values[5] = author.data();
  values[7] = author.data();
  const auto l = fill(path.c_str(), values);
  for (const auto &line : l) EXPECT_LE(line.size(), 127u);
  EXPECT_EQ(l[5], "AUTHOR : " + std::string(127 - 9, 'a'));
  EXPECT_EQ(l[0], "TITLE : " + std::string(127 - 8, 't'));
}

}  // namespace
