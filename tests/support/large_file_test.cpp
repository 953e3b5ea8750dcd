#define _FILE_OFFSET_BITS 64
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/ui/popups.h"
#include "support/large_file.h"
#include "tests/testsupport/testsupport.h"

namespace {

int64_t position(int h) { return static_cast<int64_t>(lseek(h, 0, SEEK_CUR)); }

TEST(LargeFile, OpenModesAndActions) {
  testsupport::TempDir dir;
  const std::string p = dir.write("a.bin", "0123456789");

  int h = OpenLargeFile(p.c_str(), 0, 2);  // existing file, read/write as is
  ASSERT_GE(h, 0);
  EXPECT_EQ(GetLastLargeFileErr(), 0u);
  EXPECT_EQ(position(h), 0);
  EXPECT_EQ(CloseLargeFile(h), 0);

  h = OpenLargeFile(p.c_str(), 2, 1);  // append: at the end
  ASSERT_GE(h, 0);
  EXPECT_EQ(position(h), 10);
  EXPECT_EQ(WriteLargeFile(h, "AB", 2), 2);
  CloseLargeFile(h);
  EXPECT_EQ(testsupport::read_file(p), "0123456789AB");

  h = OpenLargeFile(p.c_str(), 1, 0);  // read-only: never truncated
  ASSERT_GE(h, 0);
  char buf[32] = {};
  EXPECT_EQ(ReadLargeFile(h, buf, sizeof buf), 12);
  EXPECT_EQ(WriteLargeFile(h, "x", 1), -1);
  EXPECT_NE(GetLastLargeFileErr(), 0u);
  CloseLargeFile(h);

  h = OpenLargeFile(p.c_str(), 0, 0);  // truncate
  ASSERT_GE(h, 0);
  CloseLargeFile(h);
  EXPECT_EQ(testsupport::read_file(p), "");

  const std::string created = dir.file("new.bin");
  h = OpenLargeFile(created.c_str(), 0, 2);
  ASSERT_GE(h, 0);
  CloseLargeFile(h);
  EXPECT_EQ(FileExists64(created.c_str(), nullptr), 1);

  EXPECT_EQ(OpenLargeFile(dir.file("missing").c_str(), 1, 2), -1);
  EXPECT_EQ(GetLastLargeFileErr(), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(OpenLargeFile(dir.path().c_str(), 1, 2), -1);
  EXPECT_EQ(CloseLargeFile(-1), -1);
}

TEST(LargeFile, SetFilePtr64MovesByUnitTimesCount) {
  testsupport::TempDir dir;
  const std::string p = dir.write("b.bin", std::string(4096, 'z'));
  const int h = OpenLargeFile(p.c_str(), 1, 2);
  ASSERT_GE(h, 0);
  EXPECT_EQ(SetFilePtr64(h, 512, 3, 0), 0);
  EXPECT_EQ(position(h), 1536);
  EXPECT_EQ(SetFilePtr64(h, 512, -1, 2), 0);
  EXPECT_EQ(position(h), 4096 - 512);
  EXPECT_EQ(SetFilePtr64(h, 16, -2, 1), 0);
  EXPECT_EQ(position(h), 4096 - 512 - 32);
  // The unit is unsigned and the product 64 bits wide.
  EXPECT_EQ(SetFilePtr64(h, 0x80000000u, 3, 0), 0);
  EXPECT_EQ(position(h), 3 * INT64_C(0x80000000));
  EXPECT_EQ(SetFilePtr64(h, 512, -1, 0), -1);
  EXPECT_EQ(GetLastLargeFileErr(), static_cast<uint32_t>(EINVAL));
  CloseLargeFile(h);
}

TEST(LargeFile, ErrorTextAndPopup) {
  EXPECT_STREQ(GetLargeFileErrorString(0), "");
  char buf[4];
  EXPECT_EQ(ReadLargeFile(-1, buf, sizeof buf), -1);
  const uint32_t code = GetLastLargeFileErr();
  EXPECT_EQ(code, static_cast<uint32_t>(EBADF));
  const std::string text = GetLargeFileErrorString(code);
  EXPECT_EQ(text, "ReadLargeFile failed with error " + std::to_string(EBADF) + ": " + std::strerror(EBADF));

  platform::ui::headless::clear();
  EXPECT_EQ(CheckLastLargeFileErr(), code);  // the code it found, not the cleared 0
  ASSERT_EQ(platform::ui::headless::shown().size(), 1u);
  EXPECT_EQ(platform::ui::headless::shown()[0].title, "File Access Error");
  EXPECT_EQ(platform::ui::headless::shown()[0].message, text);
  EXPECT_EQ(platform::ui::headless::shown()[0].cursor_while_shown, -1);
  EXPECT_EQ(GetLastLargeFileErr(), 0u);
  EXPECT_EQ(CheckLastLargeFileErr(), 0u);
  EXPECT_EQ(platform::ui::headless::shown().size(), 1u);
}

TEST(LargeFile, SizeIs64BitsAndOnlyForRegularFiles) {
  testsupport::TempDir dir;
  const std::string p = dir.write("sparse.bin", "");
  const int64_t size = INT64_C(3) << 30;  // 3 GiB, sparse
  ASSERT_EQ(truncate(p.c_str(), static_cast<off_t>(size)), 0);
  int64_t got = 0;
  EXPECT_EQ(GetFileSize64(p.c_str(), &got), 0);
  EXPECT_EQ(got, size);
  EXPECT_EQ(FileExists64(p.c_str(), nullptr), 1);

  EXPECT_EQ(GetFileSize64(dir.path().c_str(), &got), -1);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(FileExists64(dir.path().c_str(), nullptr), 0);
  EXPECT_EQ(FileExists64(dir.file("missing").c_str(), nullptr), 0);
  EXPECT_EQ(FileExists64("", nullptr), 0);
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(FileExists64(fifo.c_str(), nullptr), 0);  // and does not wait for a writer
}

}  // namespace
