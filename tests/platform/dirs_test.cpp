// Directories and file copies of the run-time engine, and its drives.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/win/files.h"
#include "platform/win/progdir.h"
#include "tests/testsupport/testsupport.h"

namespace {

TEST(MakeDir, MakesOneDirectoryAndNamesWhatStopsIt) {
  testsupport::TempDir dir;
  const std::string made = dir.file("setups");
  EXPECT_EQ(MakeDir(made.c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(made));
  const std::string file = dir.write("plain", "x");
  struct Case {
    std::string path;
    int result;
  };
  const Case cases[] = {
      {made, DIR_IO_EXISTS},
      {file, DIR_IO_EXISTS},
      {dir.file("no/such/parent"), DIR_IO_PATH_NOT_FOUND},
      {file + "/below_a_file", DIR_IO_PATH_NOT_FOUND},
      {"", DIR_IO_INVALID_PATH},
      {dir.file(std::string(300, 'n')), DIR_IO_INVALID_PATH},
  };
  for (const Case &c : cases) EXPECT_EQ(MakeDir(c.path.c_str()), c.result) << c.path;
  EXPECT_EQ(MakeDir(nullptr), DIR_IO_INVALID_PATH);
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(made.c_str(), 0500), 0);
    EXPECT_EQ(MakeDir((made + "/inner").c_str()), DIR_IO_ACCESS_DENIED);
    chmod(made.c_str(), 0700);
  }
}

TEST(CopyFile, CopiesWholeOrLeavesTheTargetAlone) {
  testsupport::TempDir dir;
  const std::string source = dir.write("trq_auto.set", std::string(200000, 's'));
  chmod(source.c_str(), 0640);
  const std::string target = dir.file("copy.set");
  EXPECT_EQ(CVI_CopyFile(source.c_str(), target.c_str()), 0);
  EXPECT_EQ(testsupport::read_file(target), std::string(200000, 's'));
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // Into a directory under the source's name; over an older copy; onto itself.
  const std::string other = dir.file("other");
  ASSERT_EQ(MakeDir(other.c_str()), 0);
  dir.write("other/trq_auto.set", "old");
  EXPECT_EQ(CopyFile(source.c_str(), other.c_str()), 0);
  EXPECT_EQ(testsupport::read_file(other + "/trq_auto.set"), std::string(200000, 's'));
  EXPECT_EQ(CopyFile(source.c_str(), source.c_str()), 0);
  EXPECT_EQ(testsupport::read_file(source), std::string(200000, 's'));

  struct Case {
    std::string from, to;
    int result;
  };
  const Case cases[] = {
      {dir.file("missing.set"), target, DIR_IO_PATH_NOT_FOUND},
      {other, target, DIR_IO_INVALID_PATH},  // a directory is no file to copy
      {source, dir.file("no/such/dir/x.set"), DIR_IO_PATH_NOT_FOUND},
      {"", target, DIR_IO_INVALID_PATH},
  };
  for (const Case &c : cases) EXPECT_EQ(CopyFile(c.from.c_str(), c.to.c_str()), c.result) << c.from << " " << c.to;
  EXPECT_EQ(testsupport::read_file(target), std::string(200000, 's'));
  // Nothing half-written stays behind.
  std::size_t files = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 2u);
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(other.c_str(), 0500), 0);
    EXPECT_EQ(CopyFile(source.c_str(), (other + "/new.set").c_str()), DIR_IO_ACCESS_DENIED);
    chmod(other.c_str(), 0700);
  }
}

TEST(SetDrive, DrivesAreTakenWithoutEffect) {
  char before[260], after[260];
  ASSERT_EQ(GetDir(before), 0);
  EXPECT_EQ(SetDrive('C' - 'A'), 0);
  EXPECT_EQ(SetDrive(0), 0);
  EXPECT_EQ(SetDrive(25), 0);
  EXPECT_EQ(SetDrive(26), -1);
  EXPECT_EQ(SetDrive(-'A'), -1);  // the letter of an empty drive
  ASSERT_EQ(GetDir(after), 0);
  EXPECT_STREQ(before, after);
}

}  // namespace
