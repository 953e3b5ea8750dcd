// A setup file is written whole or not at all: a failed save reports the
// file's name with the file error and leaves the previous file as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "app/kmv_io_ident.h"
#include "app/kmv_io_write.h"
#include "support/Qv_file.h"
#include "tests/app/setup_files.h"

namespace {

using testsupport::list;
using testsupport::strings;

class SafeWrite : public ::testing::Test {
 protected:
  int write(const std::string &path, const std::vector<std::string> &body_lines) {
    const std::string body = list(body_lines);
    return write_setup_file(&record, path.c_str(), setupusb_identifier, 104 << 4, info.data(), body.data(),
                            body.size());
  }
  std::vector<std::string> body_of(const std::string &path) {
    FileRecord r{};
    create_empty_file(&r);
    EXPECT_EQ(open_qvfile(&r, path.c_str(), nullptr), 1);
    EXPECT_NE(valid_qvfile(&r, setupusb_identifier, 0), 0);
    std::vector<char> buf(static_cast<size_t>(std::max(get_body(&r, nullptr), 0)) + 2, '\0');
    get_body(&r, buf.data());
    unlink_qvfile(&r);
    return strings(buf);
  }

  testsupport::TempDir dir;
  setup_test::Reports reports{dir};
  FileRecord record{0, 0, FILE_STATE_EMPTY, "", nullptr};
  const std::string info = list({"TITLE : a", "AUTHOR : System"});
};

TEST_F(SafeWrite, WritesTheFileAndLeavesNothingElse) {
  const std::string path = dir.file("a.set");
  ASSERT_EQ(write(path, {"SYS_PARA_BEGIN:", "#MP1 [MP_C1U_P5,B,1]", "SYS_PARA_END:"}), 0);
  EXPECT_EQ(body_of(path), (std::vector<std::string>{"SYS_PARA_BEGIN:", "#MP1 [MP_C1U_P5,B,1]", "SYS_PARA_END:"}));
  EXPECT_EQ(setup_test::entries(dir.path()), (std::vector<std::string>{"a.set"}));
  EXPECT_EQ(record.state, FILE_STATE_EMPTY);
  EXPECT_EQ(record.header, nullptr);
  EXPECT_EQ(reports.log(), "");
}

TEST_F(SafeWrite, ReplacesTheOldFileAndKeepsItsPermissions) {
  const std::string path = dir.write("a.set", "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(write(path, {"SYS_PARA_BEGIN:", "SYS_PARA_END:"}), 0);
  EXPECT_EQ(body_of(path), (std::vector<std::string>{"SYS_PARA_BEGIN:", "SYS_PARA_END:"}));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(SafeWrite, AFullDiskLeavesTheOldFileByteForByte) {
  const std::string old = "previous setup file, kept whole";
  const std::string path = dir.write("trq_auto.set", old);
  std::vector<std::string> body{"SYS_PARA_BEGIN:"};
  for (int i = 0; i < 40; ++i) body.push_back("#MP1 [MP_C1U_GAIN_HV,F,62.5]");
  body.push_back("SYS_PARA_END:");

  // A file-size limit makes the writes fail part-way as a full disk does.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 400;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int result = write(path, body);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(result, -1);
  EXPECT_EQ(testsupport::read_file(path), old);
  EXPECT_EQ(setup_test::entries(dir.path()), (std::vector<std::string>{"trq_auto.set", "trq_err.out"}));
  EXPECT_EQ(reports.count("BFILE_WRITE"), 1) << reports.log();
  EXPECT_EQ(reports.count(path), 1);
  EXPECT_EQ(record.state, FILE_STATE_EMPTY);
}

TEST_F(SafeWrite, PlacesThatCannotTakeTheFileAreReported) {
  const std::string missing_dir = dir.file("no/such/dir/a.set");
  EXPECT_EQ(write(missing_dir, {"SYS_PARA_BEGIN:", "SYS_PARA_END:"}), -1);
  EXPECT_EQ(reports.count("BFILE_OPEN"), 1);
  EXPECT_EQ(reports.count(missing_dir), 1);

  std::filesystem::create_directory(dir.file("d.set"));
  EXPECT_EQ(write(dir.file("d.set"), {"SYS_PARA_BEGIN:", "SYS_PARA_END:"}), -1);
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("d.set")));
  EXPECT_EQ(reports.count("BFILE_OPEN"), 2);

  const std::string too_long = dir.path() + "/" + std::string(270, 'x') + ".set";
  EXPECT_EQ(write(too_long, {"SYS_PARA_BEGIN:", "SYS_PARA_END:"}), -1);
  EXPECT_EQ(reports.count("BFILE_OPEN"), 3);
  EXPECT_EQ(setup_test::entries(dir.path()), (std::vector<std::string>{"d.set", "trq_err.out"}));
}

}  // namespace
