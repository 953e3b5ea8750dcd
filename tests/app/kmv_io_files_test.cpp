// Whole setup files: a save loads back into the same values, the bytes are
// the format's, and bad files are reported without harm.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/kmv_io_files.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_io_ident.h"
#include "app/kmv_io_write.h"
#include "app/kmv_syst.h"
#include "platform/win/clock.h"
#include "platform/win/files.h"
#include "support/Qv_file.h"
#include "support/Util_fun_registry.h"
#include "tests/app/app_fixture.h"
#include "tests/app/setup_files.h"
#include "tests/support/string_lists.h"

using testing::HasSubstr;

namespace {

using testsupport::strings;

class SetupFiles : public apptest::AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    platform::clock::set_wall_time(setup_test::local_time(2025, 11, 3, 14, 30, 0));
  }
  void TearDown() override {
    platform::files::set_fault_hook({});
    platform::clock::set_wall_time(0);
    EXPECT_EQ(setup_file->state, FILE_STATE_EMPTY);
    EXPECT_EQ(setup_file->header, nullptr);
    AppFixture::TearDown();
  }

  // A distinct value for every parameter of a module, within its limits.
  // Literals only: computed floats may round differently on a 32-bit build.
  void set_all(short m, bool with_serial) {
    static const float gain[2][4] = {{12.34f, 22.34f, 32.34f, 42.34f}, {13.34f, 23.34f, 33.34f, 43.34f}};
    static const float volt[2][4] = {{0.7f, 1.4f, 2.1f, 2.8f}, {0.8f, 1.5f, 2.2f, 2.9f}};
    static const float curr[2][4] = {{0.35f, 0.7f, 1.05f, 1.4f}, {0.4f, 0.75f, 1.1f, 1.45f}};
    if (with_serial) {
      ParameterValue sn{};
      std::snprintf(sn.data, sizeof sn.data, "SN-%d.X", m);
      set_usbmodule_parameter(m, 0, sn);
    }
    for (int c = 0; c < 4; ++c) {
      const int b = 7 * c;
      set_usbmodule_parameter(m, b + 1, int_value((c + m) % 2));
      set_usbmodule_parameter(m, b + 2, int_value((c + m + 1) % 2));
      set_usbmodule_parameter(m, b + 3, int_value(1));
      set_usbmodule_parameter(m, b + 4, float_value(gain[m][c]));
      set_usbmodule_parameter(m, b + 5, int_value(c % 2));
      set_usbmodule_parameter(m, b + 6, float_value(volt[m][c]));
      set_usbmodule_parameter(m, b + 7, float_value(curr[m][c]));
    }
    set_usbmodule_parameter(m, 29, int_value(170 + m));
  }
  void clear_all(short m) {
    for (int j = 1; j < KMV_PARAMETERS; ++j)
      set_usbmodule_parameter(m, j, parameter_type(modusb[m], j) == 'F' ? float_value(0.0f) : int_value(0));
  }
  std::vector<ParameterValue> values(short m) {
    std::vector<ParameterValue> out;
    for (int j = 0; j < KMV_PARAMETERS; ++j) out.push_back(read_parameter(modusb[m], j));
    return out;
  }
  static bool same(const ParameterValue &a, const ParameterValue &b) {
    return std::memcmp(a.data, b.data, sizeof a.data) == 0;
  }
  void round_trip(bool emulation) {
    for (short m : {0, 1}) set_all(m, emulation);
    const auto v0 = values(0), v1 = values(1);
    const std::string path = dir_.file("two.set");
    ASSERT_EQ(save_usb(path.c_str(), nullptr), 0);
    for (short m : {0, 1}) clear_all(m);
    if (emulation) set_usbmodule_parameter(0, 0, ParameterValue{});
    ASSERT_EQ(load_usb(path.c_str(), 3, 1), 0);
    const auto w0 = values(0), w1 = values(1);
    for (int j = 0; j < KMV_PARAMETERS; ++j) {
      EXPECT_TRUE(same(v0[j], w0[j])) << "module 0, parameter " << j;
      EXPECT_TRUE(same(v1[j], w1[j])) << "module 1, parameter " << j;
    }
    EXPECT_EQ(error_log(), "");
  }
};

TEST_F(SetupFiles, EveryParameterOfTwoEmulatedModulesComesBack) {
  ASSERT_GE(start_emulation(2), 0);
  round_trip(true);
}

TEST_F(SetupFiles, EveryParameterOfTwoSimulatedModulesComesBack) {
  ASSERT_GE(start_hardware(), 0);
  ASSERT_EQ(hardware, 1);
  round_trip(false);
}

// The same bytes on every build: the 32-bit build checks against the same file.
TEST_F(SetupFiles, TheBytesAreTheFormats) {
  ASSERT_GE(start_emulation(2), 0);
  set_all(0, true);
  set_all(1, true);
  const std::string path = dir_.file("trq_auto.set");
  ASSERT_EQ(save_usb(path.c_str(), nullptr), 0);
  const std::string golden = testsupport::read_file(testsupport::source_path("tests/app/data/two_modules.set"));
  ASSERT_FALSE(golden.empty());
  const std::string written = testsupport::read_file(path);
  size_t at = 0;
  while (at < written.size() && at < golden.size() && written[at] == golden[at]) ++at;
  EXPECT_TRUE(written == golden) << "differs from tests/app/data/two_modules.set at byte " << at << ": \""
                                 << written.substr(at > 20 ? at - 20 : 0, 60) << "\"";
}

TEST_F(SetupFiles, IdentificationFromTheSaveDialog) {
  ASSERT_GE(start_emulation(1), 0);
  std::vector<std::string> texts(IDENT_VALUE_COUNT);
  char *values[IDENT_VALUE_COUNT] = {};
  texts[1] = "";
  texts[5] = "";
  texts[6] = "Beam lab";
  texts[7] = "first";
  texts[8] = "";  // an empty line in the middle of the contents
  for (int i = 9; i < 19; ++i) texts[i] = "line " + std::to_string(i);
  for (int i = 0; i < 19; ++i) values[i] = texts[i].data();
  const std::string path = dir_.file("beam.test.set");
  ASSERT_EQ(save_usb(path.c_str(), values), 0);
  const auto info = setup_test::info_of(path);
  ASSERT_EQ(info.size(), 18u);
  EXPECT_EQ(info[0], "Title : beam");
  EXPECT_EQ(info[1], "Version : 1");
  EXPECT_EQ(info[2], "Revision : 1.20");
  EXPECT_EQ(info[3], "Date : 11-03-2025");
  EXPECT_EQ(info[4], "Time : 14:30:00");
  EXPECT_EQ(info[5], "Author : Unknown");
  EXPECT_EQ(info[6], "Company : Beam lab");
  EXPECT_EQ(info[7], "Contents : first");
  EXPECT_EQ(info[8], "line 9");
  EXPECT_EQ(info[17], "line 18");
}

TEST_F(SetupFiles, BadFilesAreReportedAndApplyNothing) {
  ASSERT_GE(start_emulation(1), 0);
  set_usbmodule_parameter(0, 4, float_value(40.0f));
  const std::string good = dir_.file("good.set");
  ASSERT_EQ(save_usb(good.c_str(), nullptr), 0);
  set_usbmodule_parameter(0, 4, float_value(7.0f));
  const std::string bytes = testsupport::read_file(good);

  std::string flipped = bytes;
  flipped[13] = static_cast<char>(flipped[13] ^ 0x10);
  std::string pci = bytes;
  pci.replace(pci.find("TRQ Setup File"), 3, "KMV");
  const struct {
    std::string name, content, report;
  } cases[] = {
      {"missing.set", "", "BFILE_NOTEXIST"},
      {"folder.set", "", "BFILE_OPEN"},  // there, but no file
      {"flipped.set", flipped, "INV_SETUP"},
      {"short.set", bytes.substr(0, 30), "INV_SETUP"},
      {"text.set", "SYS_PARA_BEGIN:\r\n#MP1 [MP_C1U_GAIN_HV,F,20]\r\n", "INV_SETUP"},
      {"pci.set", pci, "INV_SETUP"},
      {"empty.set", "", "INV_SETUP"},
      {"binary.set", std::string("\x8f\x06\x00\xff\x01\x02junk\r\n\x00\x00", 14) + std::string(300, '\xA5'), "INV_SETUP"},
  };
  for (const auto &c : cases) {
    if (c.name == "folder.set") std::filesystem::create_directory(dir_.file(c.name));
    const std::string path = c.content.empty() && c.name != "empty.set" ? dir_.file(c.name) : dir_.write(c.name, c.content);
    const std::string before = error_log();
    EXPECT_EQ(load_usb(path.c_str(), 3, 1), -1) << c.name;
    const std::string log = error_log().substr(before.size());
    EXPECT_THAT(log, HasSubstr(c.report + " ")) << c.name;
    EXPECT_THAT(log, HasSubstr(path)) << c.name;
    EXPECT_EQ(read_float_parameter(0, 4), 7.0f) << c.name;
    EXPECT_EQ(setup_file->state, FILE_STATE_EMPTY) << c.name;
  }
}

// A file shorter than its header says (a full disk, a copy broken off) is
// reported with its name and nothing of it is applied, wherever it was cut.
TEST_F(SetupFiles, ACutFileIsReportedAsDamagedAndAppliesNothing) {
  ASSERT_GE(start_emulation(1), 0);
  set_usbmodule_parameter(0, 4, float_value(40.0f));
  set_usbmodule_parameter(0, 29, int_value(99));
  const std::string bytes = [&] {
    const std::string path = dir_.file("whole.set");
    EXPECT_EQ(save_usb(path.c_str(), nullptr), 0);
    return testsupport::read_file(path);
  }();
  const size_t cooling = bytes.find("  #MP1 [MP_C1U_COOLING");
  const size_t ends = bytes.rfind("*END");
  const size_t author = bytes.find("  Author");
  ASSERT_NE(cooling, std::string::npos);
  const struct {
    const char *what;
    size_t cut;
  } cases[] = {
      {"inside a body line", cooling + 10},
      {"at a line boundary of the body", cooling},
      {"before the closing *END", ends},
      {"inside the identification, behind its ID line", author},
      {"inside the identification, before its ID line", 60},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir_.write("cut.set", bytes.substr(0, c.cut));
    set_usbmodule_parameter(0, 4, float_value(7.0f));
    set_usbmodule_parameter(0, 29, int_value(1));
    const std::string before = error_log();
    EXPECT_EQ(load_usb(path.c_str(), 3, 1), -1);
    const std::string log = error_log().substr(before.size());
    EXPECT_THAT(log, HasSubstr("SETUP_DAMAGED Setup file " + path + " is damaged"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_EQ(read_float_parameter(0, 4), 7.0f);
    EXPECT_EQ(read_int_parameter(0, 29), 1);
  }
  // The whole file loads as ever.
  const std::string whole = dir_.write("cut.set", bytes);
  EXPECT_EQ(load_usb(whole.c_str(), 3, 1), 0);
  EXPECT_EQ(read_float_parameter(0, 4), 40.0f);
}

// Bad lines, however long and however many, each reach the operator once,
// and a flood of them ends in one count: each report is a box to close.
TEST_F(SetupFiles, BadLinesAreReportedOnceAndAFloodOfThemInSum) {
  ASSERT_GE(start_emulation(1), 0);
  auto file_of = [&](const std::vector<std::string> &entries) {
    std::vector<std::string> lines{"SYS_PARA_BEGIN:"};
    lines.insert(lines.end(), entries.begin(), entries.end());
    lines.push_back("#MP1 [MP_C1U_GAIN_HV,F,30]");
    lines.push_back("SYS_PARA_END:");
    const std::string body = testsupport::list(lines);
    const std::string info = testsupport::list({"TITLE : bad"});
    const std::string path = dir_.file("bad.set");
    EXPECT_EQ(write_setup_file(setup_file, path.c_str(), setupusb_identifier, get_app_ident(QV_APP_TRQ, 200) << 4,
                               info.c_str(), body.data(), body.size()),
              0);
    return path;
  };
  std::vector<std::string> flood(1000, "#MP1 [MP_C9U_P5,B,1]");
  flood.resize(3000, "X");
  const struct {
    const char *what;
    std::vector<std::string> entries;
    int reports;    // boxes for single lines
    bool summary;   // and one count of the rest
  } cases[] = {
      {"a 500-character line", {"#MP1 [MP_C1U_GAIN_HV,F,20" + std::string(474, '7')}, 1, false},
      {"a 5000-character line", {"#MP1 " + std::string(4995, 'Q')}, 1, false},
      {"five bad lines", std::vector<std::string>(5, "NOT AN ENTRY"), 5, false},
      {"three thousand bad lines", flood, 5, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    set_usbmodule_parameter(0, 4, float_value(7.0f));
    const std::string path = file_of(c.entries);
    const std::string before = error_log();
    EXPECT_EQ(load_usb(path.c_str(), 3, 1), 0);
    const std::string log = error_log().substr(before.size());
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), c.reports + (c.summary ? 1 : 0)) << log.substr(0, 2000);
    if (c.summary) {
      EXPECT_THAT(log, HasSubstr(std::to_string(c.entries.size() - 5) + " more bad lines in setup file"));
    }
    EXPECT_EQ(read_float_parameter(0, 4), 30.0f);  // the sound line behind them
  }
}

TEST_F(SetupFiles, TheFirstStartHasNoAutomaticFileAndSaysNothing) {
  ASSERT_GE(start_emulation(1), 0);
  EXPECT_EQ(load_usb(dir_.file("trq_auto.set").c_str(), 3, 2), -1);
  EXPECT_EQ(error_log(), "");
  // The automatic file, once written, is applied at start.
  set_usbmodule_parameter(0, 6, float_value(2.5f));
  ASSERT_EQ(save_usb(dir_.file("trq_auto.set").c_str(), nullptr), 0);
  set_usbmodule_parameter(0, 6, float_value(0.0f));
  EXPECT_EQ(load_usb(dir_.file("trq_auto.set").c_str(), 3, 2), 0);
  EXPECT_EQ(read_float_parameter(0, 6), 2.5f);
}

TEST_F(SetupFiles, IdentificationOnlyAndOtherModesApplyNothing) {
  ASSERT_GE(start_emulation(1), 0);
  set_usbmodule_parameter(0, 4, float_value(40.0f));
  const std::string path = dir_.file("a.set");
  ASSERT_EQ(save_usb(path.c_str(), nullptr), 0);
  set_usbmodule_parameter(0, 4, float_value(7.0f));
  EXPECT_EQ(load_usb(path.c_str(), 1, 1), 0);
  EXPECT_EQ(load_usb(path.c_str(), 3, 3), 0);
  EXPECT_EQ(load_usb(path.c_str(), 2, 1), -1);  // nothing to read
  EXPECT_EQ(read_float_parameter(0, 4), 7.0f);
  EXPECT_EQ(error_log(), "");
}

TEST_F(SetupFiles, AFailedSaveKeepsTheOldFile) {
  ASSERT_GE(start_emulation(2), 0);
  const std::string path = dir_.file("trq_auto.set");
  ASSERT_EQ(save_usb(path.c_str(), nullptr), 0);
  const std::string old = testsupport::read_file(path);
  set_usbmodule_parameter(0, 4, float_value(55.0f));
  int writes = 0;
  platform::files::set_fault_hook([&](platform::files::Op op, int, int64_t) {
    platform::files::Fault f;
    if (op == platform::files::Op::write && ++writes == 3) {
      f.fail = true;
      f.code = FMT_IO_DISK_FULL;
    }
    return f;
  });
  EXPECT_EQ(save_usb(path.c_str(), nullptr), -1);
  platform::files::set_fault_hook({});
  EXPECT_EQ(testsupport::read_file(path), old);
  EXPECT_THAT(error_log(), HasSubstr("BFILE_WRITE Cannot write file " + path));
  EXPECT_EQ(setup_test::entries(dir_.path()), (std::vector<std::string>{"kmvusb.ini", "trq_auto.set", "trq_err.out"}));
}

}  // namespace
