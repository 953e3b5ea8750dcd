// The body of a setup file: the entry lines written from the parameter sets
// of the active modules, and read back into the modules line by line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/kmv_io_body.h"
#include "app/kmv_syst.h"
#include "tests/app/app_fixture.h"
#include "tests/support/string_lists.h"

using testing::HasSubstr;

namespace {

using testsupport::list;
using testsupport::strings;

class SetupBody : public apptest::AppFixture {
 protected:
  std::vector<std::string> stored() {
    const int n = store_usbsetup(nullptr);
    std::vector<char> buf(static_cast<size_t>(n) + 8, '\x7f');
    EXPECT_EQ(store_usbsetup(buf.data()), n);
    EXPECT_EQ(buf[static_cast<size_t>(n) - 1], '\0');
    EXPECT_EQ(buf[static_cast<size_t>(n) - 2], '\0');
    EXPECT_EQ(buf[static_cast<size_t>(n)], '\x7f');  // nothing behind the size
    return strings(buf);
  }
  // Applies a body and returns what the error log gained.
  std::string load(const std::vector<std::string> &lines, int mode = 2) {
    const std::string before = error_log();
    std::string body = list(lines);
    load_usbsetup(body.data(), mode);
    return error_log().substr(before.size());
  }
  static int reports(const std::string &log) {
    int n = 0;
    for (char c : log) n += c == '\n';
    return n;
  }
  void set_float(short m, int id, float v) { set_usbmodule_parameter(m, id, float_value(v)); }
  void set_int(short m, int id, int v) { set_usbmodule_parameter(m, id, int_value(v)); }
};

TEST_F(SetupBody, WithoutActiveModulesOnlyTheFrameIsWritten) {
  EXPECT_EQ(store_usbsetup(nullptr), 31);
  EXPECT_EQ(stored(), (std::vector<std::string>{"SYS_PARA_BEGIN:", "SYS_PARA_END:"}));
}

TEST_F(SetupBody, EntryLinesOfEveryParameterOfEveryActiveModule) {
  ASSERT_GE(start_emulation(2), 0);
  set_float(0, 4, 62.5f);
  set_float(0, 6, 5.0f);
  set_float(0, 7, 0.1f);
  set_float(1, 25, 4.2f);
  set_int(1, 29, 170);
  set_int(0, 1, 1);
  const auto lines = stored();
  ASSERT_EQ(lines.size(), 62u);
  EXPECT_EQ(lines.front(), "SYS_PARA_BEGIN:");
  EXPECT_EQ(lines.back(), "SYS_PARA_END:");
  EXPECT_THAT(lines[1], testing::MatchesRegex("#MP1 \\[MP_SNU,S,.*\\]"));
  EXPECT_EQ(lines[2], "#MP1 [MP_C1U_P5,B,1]");
  EXPECT_EQ(lines[5], "#MP1 [MP_C1U_GAIN_HV,F,62.5]");
  EXPECT_EQ(lines[7], "#MP1 [MP_C1U_COOLVOLT,F,5]");
  EXPECT_EQ(lines[8], "#MP1 [MP_C1U_COOLCURR,F,0.1]");
  EXPECT_EQ(lines[30], "#MP1 [MP_C5U_DIGOUT,I,0]");
  EXPECT_EQ(lines[31 + 25], "#MP2 [MP_C4U_GAIN_HV,F,4.1999998]");
  EXPECT_EQ(lines[31 + 29], "#MP2 [MP_C5U_DIGOUT,I,170]");
}

TEST_F(SetupBody, ALongSerialTextStaysOneBoundedLine) {
  ASSERT_GE(start_emulation(1), 0);
  ParameterValue sn{};
  std::memset(sn.data, 'Z', 255);
  sn.data[3] = '\n';
  set_usbmodule_parameter(0, 0, sn);
  const auto lines = stored();
  ASSERT_EQ(lines.size(), 32u);
  EXPECT_EQ(lines[1], "#MP1 [MP_SNU,S,ZZZ " + std::string(251, 'Z') + "]");
}

TEST_F(SetupBody, EntriesReachTheModulesOfTheColumns) {
  ASSERT_GE(start_emulation(2), 0);
  // The first number met goes to column A, any other to column B.
  EXPECT_EQ(load({"SYS_PARA_BEGIN:", "#MP3 [MP_C1U_GAIN_HV,F,30]", "#MP1 [MP_C1U_GAIN_HV,F,10]",
                  "#mp3 [mp_c2u_p5,b,1]", "SYS_PARA_END:"}),
            "");
  EXPECT_EQ(read_float_parameter(0, 4), 30.0f);
  EXPECT_EQ(read_float_parameter(1, 4), 10.0f);
  EXPECT_EQ(read_int_parameter(0, 8), 1);
}

TEST_F(SetupBody, OnlyModeTwoAndTheLinesBetweenTheMarksApply) {
  ASSERT_GE(start_emulation(1), 0);
  EXPECT_EQ(load({"SYS_PARA_BEGIN:", "#MP1 [MP_C1U_GAIN_HV,F,30]", "SYS_PARA_END:"}, 1), "");
  EXPECT_EQ(read_float_parameter(0, 4), 0.0f);
  EXPECT_EQ(load({"#MP1 [MP_C1U_GAIN_HV,F,30]"}), "");  // no start line
  EXPECT_EQ(read_float_parameter(0, 4), 0.0f);
  EXPECT_EQ(load({"#MP1 [MP_C1U_GAIN_HV,F,31]", "SYS_PARA_BEGIN:", "#MP1 [MP_C1U_GAIN_HV,F,32]", "SYS_PARA_END:",
                  "#MP1 [MP_C1U_GAIN_HV,F,33]"}),
            "");
  EXPECT_EQ(read_float_parameter(0, 4), 32.0f);
  EXPECT_EQ(load({"SYS_PARA_BEGIN:", "#MP1 [MP_C1U_GAIN_HV,F,34]"}), "");  // no end line
  EXPECT_EQ(read_float_parameter(0, 4), 34.0f);
}

TEST_F(SetupBody, TextsAreAppliedInCapitalsAndXEntriesInTheParameterType) {
  ASSERT_GE(start_emulation(1), 0);
  EXPECT_EQ(load({"SYS_PARA_BEGIN:", "#mp1 [mp_snu,s,km0042x]", "#MP1 [MP_C1U_P5,X,1]", "#MP1 [MP_C1U_GAIN_HV,X,50]",
                  "SYS_PARA_END:"}),
            "");
  EXPECT_STREQ(read_parameter(modusb[0], 0).data, "KM0042X");
  EXPECT_EQ(read_int_parameter(0, 1), 1);
  EXPECT_EQ(read_float_parameter(0, 4), 50.0f);
}

// Every bad line is reported once and changes nothing; the sound line after it applies.
TEST_F(SetupBody, BadLinesAreReportedOnceAndSkipped) {
  ASSERT_GE(start_emulation(2), 0);
  const struct {
    std::string line;
    const char *report;
  } cases[] = {
      {"MP1 [MP_C1U_GAIN_HV,F,20]", "IO_ERR_USCMD"},
      {"#MP0 [MP_C1U_GAIN_HV,F,20]", "IO_ERR_USCMD"},
      {"#MP5 [MP_C1U_GAIN_HV,F,20]", "IO_ERR_USCMD"},
      {"#MP12 [MP_C1U_GAIN_HV,F,20]", "IO_ERR_USCMD"},
      {"#MP [MP_C1U_GAIN_HV,F,20]", "IO_ERR_USCMD"},
      {"#MP1 MP_C1U_GAIN_HV,F,20]", "IO_ERR_USCMD"},
      {"#MP1 [MP_C1U_GAIN_HV F 20]", "IO_ERR_USCMD"},
      {"#MP1 [MP_C1U_GAIN_HV,F20]", "IO_ERR_USCMD"},
      {"#MP1 [MP_C1U_GAIN_HV,F,20", "IO_ERR_USCMD"},
      {"#MP1 [MP_C1U_GAIN_HV,", "IO_ERR_USCMD"},
      {"#MP1 [MP_C1U_GAIN_HV,F,NAN]", "IO_ERR_USCMD"},
      {"#MP1 [MP_C1U_GAIN_HV,F,1E39]", "IO_ERR_USCMD"},
      {"#MP1 " + std::string(300, 'A'), "IO_ERR_USCMD"},
      {"#MP1 [MP_C9U_GAIN_HV,F,20]", "UNKNOWN_PAR"},
      {"#MP1 [" + std::string(300, 'N') + ",F,20]", "UNKNOWN_PAR"},
      {"#MP1 [MP_C1U_GAIN_HV,B,20]", "WRONG_TYPE"},
      {"#MP1 [MP_C1U_GAIN_HV,,20]", "IO_ERR_USCMD"},
      {"#MP1 [MP_C1U_GAIN_HV,I,20]", "WRONG_TYPE"},
      {std::string("#MP1 [MP_C1U_GAIN_HV,F,\x01\xff\x80]"), nullptr},  // junk reads as 0
  };
  for (const auto &c : cases) {
    set_float(0, 4, 7.0f);
    set_float(0, 11, 0.0f);
    const std::string log = load({"SYS_PARA_BEGIN:", c.line, "#MP1 [MP_C2U_GAIN_HV,F,9]", "SYS_PARA_END:"});
    if (c.report == nullptr) {
      EXPECT_EQ(log, "") << c.line;
      continue;
    }
    EXPECT_EQ(reports(log), 1) << c.line << "\n" << log;
    EXPECT_THAT(log, HasSubstr(c.report)) << c.line;
    EXPECT_LT(log.size(), 400u) << c.line;
    EXPECT_EQ(read_float_parameter(0, 4), 7.0f) << c.line;
    EXPECT_EQ(read_float_parameter(0, 11), 9.0f) << c.line;
  }
}

TEST_F(SetupBody, ALoneModuleTakesOnlyTheFirstBlock) {
  // One module in slot 3: the blocks behind the first are another module's
  // settings and reach no module, whichever number comes first.
  ASSERT_GE(start_emulation(1, 3), 0);
  ASSERT_EQ(st_trq, 2);
  const struct {
    const char *first, *second;
  } orders[] = {{"#MP1", "#MP2"}, {"#MP2", "#MP1"}, {"#MP3", "#MP4"}};
  for (const auto &o : orders) {
    set_float(2, 4, 0.0f);
    set_int(2, 29, 0);
    // Bad entries of the other block are still reported.
    const std::string log =
        load({"SYS_PARA_BEGIN:", std::string(o.first) + " [MP_C1U_GAIN_HV,F,11]", std::string(o.second) + " [MP_C1U_GAIN_HV,F,22]",
              std::string(o.second) + " [MP_C5U_DIGOUT,I,7]", std::string(o.second) + " [MP_C9U_P5,B,1]", "SYS_PARA_END:"});
    EXPECT_EQ(reports(log), 1) << o.first;
    EXPECT_THAT(log, HasSubstr("UNKNOWN_PAR")) << o.first;
    EXPECT_EQ(read_float_parameter(2, 4), 11.0f) << o.first;
    EXPECT_EQ(read_int_parameter(2, 29), 0) << o.first;
    for (short m : {0, 1, 3}) EXPECT_EQ(read_float_parameter(m, 4), 0.0f) << m;
  }
}

// A module on the bus that takes a block saved from another module hears so
// once a load, with both serial numbers; the values are applied all the same.
TEST_F(SetupBody, ABlockSavedFromAnotherModuleIsReportedOnceAndApplied) {
  ASSERT_GE(start_hardware(), 0);
  ASSERT_EQ(hardware, 1);
  ASSERT_STREQ(usbmod_info[0].serial_no, "KM0010");
  ASSERT_STREQ(usbmod_info[1].serial_no, "KM0020");
  const std::string a = "M1 (S/N KM0010)", b = "M2 (S/N KM0020)";
  const struct {
    const char *what;
    std::vector<std::string> first, second;  // the serial entries of the two blocks
    std::vector<std::string> reports;        // "<saved with> -> <module>"
    const char *bad_line;                    // the report of a bad serial entry
  } cases[] = {
      {"each block from its own module", {"[MP_SNU,S,KM0010]"}, {"[MP_SNU,S,KM0020]"}, {}, nullptr},
      {"in small letters and blanks", {"[mp_snu,s, km0010 ]"}, {"[MP_SNU,X,KM0020]"}, {}, nullptr},
      {"no serial entries (an old file)", {}, {}, {}, nullptr},
      {"empty serial entries", {"[MP_SNU,S,]"}, {"[MP_SNU,S,]"}, {}, nullptr},
      {"a serial entry of the wrong type", {"[MP_SNU,B,7]"}, {}, {}, "WRONG_TYPE"},
      {"the second block from another module", {"[MP_SNU,S,KM0010]"}, {"[MP_SNU,S,KM0099]"}, {"KM0099 -> " + b},
       nullptr},
      {"the blocks swapped", {"[MP_SNU,S,KM0020]"}, {"[MP_SNU,S,KM0010]"}, {"KM0020 -> " + a, "KM0010 -> " + b},
       nullptr},
      {"twice in one block", {"[MP_SNU,S,KM0077]", "[MP_SNU,S,KM0078]"}, {}, {"KM0077 -> " + a}, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    set_float(0, 4, 0.0f);
    set_int(1, 29, 0);
    std::vector<std::string> body{"SYS_PARA_BEGIN:"};
    for (const std::string &e : c.first) body.push_back("#MP1 " + e);
    body.push_back("#MP1 [MP_C1U_GAIN_HV,F,11]");
    for (const std::string &e : c.second) body.push_back("#MP2 " + e);
    body.push_back("#MP2 [MP_C5U_DIGOUT,I,7]");
    body.push_back("SYS_PARA_END:");
    const std::string log = load(body);
    EXPECT_EQ(reports(log), static_cast<int>(c.reports.size()) + (c.bad_line != nullptr ? 1 : 0)) << log;
    if (c.bad_line != nullptr) {
      EXPECT_THAT(log, HasSubstr(c.bad_line));
    }
    for (const std::string &r : c.reports) {
      const std::string saved = r.substr(0, r.find(" -> ")), module = r.substr(r.find(" -> ") + 4);
      EXPECT_THAT(log, HasSubstr("SETUP_OTHER_MODULE Setup values saved from module S/N " + saved +
                                 " were applied to " + module));
    }
    EXPECT_EQ(read_float_parameter(0, 4), 11.0f);
    EXPECT_EQ(read_int_parameter(1, 29), 7);
    // A module keeps its own serial number.
    EXPECT_STREQ(read_parameter(modusb[0], 0).data, "KM0010");
    EXPECT_STREQ(read_parameter(modusb[1], 0).data, "KM0020");
  }
}

// An emulated module takes the serial number of the block it is given: no
// module of its own to tell, nothing to report.
TEST_F(SetupBody, AnEmulatedModuleTakesTheBlocksSerialNumberSilently) {
  ASSERT_GE(start_emulation(1), 0);
  ASSERT_EQ(hardware, 0);
  EXPECT_EQ(load({"SYS_PARA_BEGIN:", "#MP1 [MP_SNU,S,KM0010]", "#MP1 [MP_C1U_GAIN_HV,F,11]", "SYS_PARA_END:"}), "");
  EXPECT_STREQ(read_parameter(modusb[0], 0).data, "KM0010");
  EXPECT_EQ(read_float_parameter(0, 4), 11.0f);
}

TEST_F(SetupBody, CountsTheModuleBlocks) {
  const struct {
    std::vector<std::string> body;
    int count;
  } cases[] = {
      {{"SYS_PARA_BEGIN:", "SYS_PARA_END:"}, 0},
      {{"#MP1 [A,B,1]", "#MP1 [A,B,1]"}, 1},
      {{"#MP1 [A,B,1]", "#MP4 [A,B,1]"}, 2},
      {{"#MP3 [A,B,1]", "#MP4 [A,B,1]"}, 1},
      {{"x #MP  2", "#MP-7"}, 2},
      {{"#MPX", "#mp1"}, 0},
      {{"#MP99999999999999999999"}, 1},
  };
  for (const auto &c : cases) {
    std::string body = list(c.body);
    EXPECT_EQ(count_setup_modules(body.data()), c.count) << c.body[0];
  }
}

}  // namespace
