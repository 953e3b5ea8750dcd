#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/win/files.h"
#include "tests/testsupport/testsupport.h"

namespace {

TEST(PlatformFiles, ExistenceSizeAndAttributes) {
  testsupport::TempDir dir;
  const std::string f = dir.write("f.bin", "12345");
  int64_t size = -1;
  EXPECT_EQ(FileExists(f.c_str(), &size), 1);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(FileExists(dir.path().c_str(), nullptr), 0);  // a directory is no file
  EXPECT_EQ(FileExists(dir.file("none").c_str(), nullptr), 0);
  EXPECT_EQ(FileExists((f + "/below").c_str(), nullptr), 0);
  EXPECT_EQ(FileExists(("/" + std::string(5000, 'x')).c_str(), nullptr), -1);  // cannot tell

  EXPECT_EQ(GetFileSize(f.c_str(), &size), 0);
  EXPECT_EQ(size, 5);
  EXPECT_LT(GetFileSize(dir.path().c_str(), &size), 0);
  EXPECT_EQ(GetFileSize(dir.file("none").c_str(), &size), -FMT_IO_FILE_NOT_FOUND);

  int ro = -1;
  EXPECT_EQ(GetFileAttrs(f.c_str(), &ro, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(ro, 0);
  ASSERT_EQ(chmod(f.c_str(), 0444), 0);
  EXPECT_EQ(GetFileAttrs(f.c_str(), &ro, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(ro, 1);  // by the permission bits, also for root
  EXPECT_EQ(GetFileAttrs(dir.path().c_str(), nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_LT(GetFileAttrs(dir.file("none").c_str(), &ro, nullptr, nullptr, nullptr), 0);
}

TEST(PlatformFiles, OpenActionsAndResults) {
  testsupport::TempDir dir;
  const std::string f = dir.write("f.bin", "abc");
  EXPECT_EQ(OpenFile(dir.file("none").c_str(), VAL_READ_WRITE, VAL_OPEN_AS_IS, VAL_BINARY), -1);
  EXPECT_EQ(GetFmtIOError(), FMT_IO_FILE_NOT_FOUND);
  EXPECT_EQ(FileExists(dir.file("none").c_str(), nullptr), 0);  // as is never creates
  EXPECT_EQ(OpenFile(dir.path().c_str(), VAL_READ_ONLY, VAL_OPEN_AS_IS, VAL_BINARY), -1);
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(OpenFile(fifo.c_str(), VAL_READ_ONLY, VAL_OPEN_AS_IS, VAL_BINARY), -1);  // no wait for a writer

  int h = OpenFile(f.c_str(), VAL_READ_WRITE, VAL_APPEND, VAL_BINARY);
  ASSERT_GE(h, 0);
  EXPECT_EQ(SetFilePtr(h, 0, 1), 3);  // at the end
  EXPECT_EQ(SetFilePtr(h, 1, 0), 1);
  EXPECT_EQ(WriteFile(h, "X", 1), 1);  // positioned, not forced to the end
  char buf[8] = {};
  EXPECT_EQ(SetFilePtr(h, 0, 0), 0);
  EXPECT_EQ(ReadFile(h, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "aXc");
  EXPECT_EQ(ReadFile(h, buf, sizeof buf), 0);
  EXPECT_EQ(SetFilePtr(h, 0, 7), -1);
  EXPECT_EQ(CloseFile(h), 0);
  EXPECT_EQ(CloseFile(h), -1);
  EXPECT_EQ(GetFmtIOError(), FMT_IO_BAD_HANDLE);

  h = OpenFile(f.c_str(), VAL_READ_WRITE, VAL_TRUNCATE, VAL_BINARY);
  ASSERT_GE(h, 0);
  CloseFile(h);
  EXPECT_EQ(testsupport::read_file(f), "");
  h = OpenFile("/dev/full", VAL_WRITE_ONLY, VAL_OPEN_AS_IS, VAL_BINARY);
  ASSERT_GE(h, 0);
  EXPECT_EQ(WriteFile(h, "x", 1), -1);
  EXPECT_EQ(GetFmtIOError(), FMT_IO_DISK_FULL);
  CloseFile(h);
  EXPECT_EQ(SetCommitMode(0), 1);
  EXPECT_EQ(SetCommitMode(1), 0);
}

}  // namespace
