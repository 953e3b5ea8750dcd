#define _FILE_OFFSET_BITS 64
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "support/qv_zip.h"
#include "tests/support/zip_fixture.h"
#include "tests/testsupport/testsupport.h"

namespace {
using namespace ziptest;

// The progress and abort globals are the process's: every test leaves them clear.
class ZipWriter : public ::testing::Test {
 protected:
  void TearDown() override {
    save_abort = 0;
    update_zip_progress = nullptr;
  }
  testsupport::TempDir dir;
};

std::vector<std::string> names_of(const std::string &zip) {
  std::vector<std::string> out;
  UnzipHandle u = nullptr;
  if (UnzipOpenBuffer(&u, zip.data(), zip.size(), nullptr) != ZIP_OK) return out;
  UnzipEntry e{};
  e.index = -1;
  UnzipGetItemA(u, &e);
  const int32_t n = e.index;
  for (int32_t i = 0; i < n; ++i) {
    e.index = i;
    if (UnzipGetItemA(u, &e) == ZIP_OK) out.emplace_back(e.name);
  }
  UnzipClose(u);
  return out;
}

TEST_F(ZipWriter, RecordsOfASeekableTarget) {
  const std::string data = sample(5000);
  const std::string zip = archive({{"curve.txt", data}, {"packed.ZIP", "abc"}, {"x.Gz", "gz"}, {"a.tgzx", "t"}});
  ASSERT_FALSE(zip.empty());
  // Local header of the first entry: sizes known, so no descriptor bit and no descriptor.
  EXPECT_EQ(get32(zip, 0), 0x04034b50u);
  EXPECT_EQ(get16(zip, 4), 20);
  EXPECT_EQ(get16(zip, 6), 0);
  EXPECT_EQ(get16(zip, 8), 8);
  EXPECT_EQ(get32(zip, 14), crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
  EXPECT_EQ(get32(zip, 22), data.size());
  EXPECT_EQ(get16(zip, 28), 0);  // no extra field
  EXPECT_LT(get32(zip, 18), data.size());
  const size_t second = 30 + 9 + get32(zip, 18);
  EXPECT_EQ(get32(zip, second), 0x04034b50u) << "no data descriptor between entries";

  // Central records: made by 0x0B17, methods by extension (case ignored, last one only).
  size_t c = central(zip);
  const std::vector<std::pair<std::string, int>> methods = {
      {"curve.txt", 8}, {"packed.ZIP", 0}, {"x.Gz", 0}, {"a.tgzx", 8}};
  for (const auto &[name, method] : methods) {
    ASSERT_EQ(get32(zip, c), 0x02014b50u);
    EXPECT_EQ(get16(zip, c + 4), 0x0B17);
    EXPECT_EQ(get16(zip, c + 10), method) << name;
    EXPECT_EQ(zip.substr(c + 46, get16(zip, c + 28)), name);
    EXPECT_EQ(get32(zip, c + 38) >> 16, 0x8180u) << "a regular file, read and write";
    c += 46 + get16(zip, c + 28);
  }
  const size_t end = end_record(zip);
  EXPECT_EQ(c, end);
  EXPECT_EQ(get16(zip, end + 8), 4);
  EXPECT_EQ(get16(zip, end + 10), 4);
  EXPECT_EQ(get32(zip, end + 12), end - central(zip));
}

TEST_F(ZipWriter, UnseekableTargetWritesDescriptors) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateHandle(&z, fds[1], nullptr), ZIP_OK);
  close(fds[1]);
  const std::string data = sample(3000);
  ASSERT_EQ(ZipAddBufferA(z, "a.txt", data.data(), data.size()), ZIP_OK);
  ASSERT_EQ(ZipClose(z), ZIP_OK);
  std::string zip;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) zip.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  EXPECT_EQ(get16(zip, 6), 8) << "sizes follow the data";
  EXPECT_EQ(get32(zip, 14), 0u);
  const size_t desc = 30 + 5 + get32(zip, central(zip) + 20);
  EXPECT_EQ(get32(zip, desc), 0x08074b50u);
  EXPECT_EQ(get32(zip, desc + 12), data.size());
  int code = -1;
  EXPECT_EQ(extract(zip, 0, &code), data);
  EXPECT_EQ(code, ZIP_OK);
}

TEST_F(ZipWriter, HandleTargetAtAnOffsetCountsItsStart) {
  const std::string path = dir.write("pre.zip", "PREFIX");
  const int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(lseek(fd, 0, SEEK_END), 6);
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateHandle(&z, fd, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "one", "1111", 4), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "two", "2222", 4), ZIP_OK);
  ASSERT_EQ(ZipClose(z), ZIP_OK);
  close(fd);
  const std::string zip = testsupport::read_file(path);
  EXPECT_EQ(zip.substr(0, 6), "PREFIX");
  size_t c = central(zip);
  EXPECT_EQ(get32(zip, c), 0x02014b50u) << "the directory offset counts the prefix";
  EXPECT_EQ(get32(zip, c + 42), 6u) << "so do the local header offsets";
  c += 46 + 3;
  EXPECT_EQ(get32(zip, get32(zip, c + 42)), 0x04034b50u);
  int code = -1;
  EXPECT_EQ(extract(zip, 1, &code), "2222");
  EXPECT_EQ(code, ZIP_OK);
}

TEST_F(ZipWriter, DosTimeFromTheFileClampedToTheFormat) {
  struct Case {
    const char *when;  // local time, "" for the epoch
    int64_t seconds;
    uint16_t date, time;
  };
  auto local = [](int y, int mo, int d, int h, int mi, int s) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&tm));
  };
  std::vector<Case> cases = {
      {"2024-03-15 13:45:31", local(2024, 3, 15, 13, 45, 31), (44 << 9) | (3 << 5) | 15, (13 << 11) | (45 << 5) | 15},
      {"1970 (before the format)", 0, (0 << 9) | (1 << 5) | 1, 0},
  };
  if (sizeof(time_t) >= 8)  // a 32-bit time ends in 2038
    cases.push_back({"2200 (after it)", local(2200, 6, 1, 0, 0, 0), (127 << 9) | (12 << 5) | 31,
                     (23 << 11) | (59 << 5) | 29});
  for (const Case &k : cases) {
    const std::string src = dir.write("t.txt", "x");
    struct timespec ts[2] = {{static_cast<time_t>(k.seconds), 0}, {static_cast<time_t>(k.seconds), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, src.c_str(), ts, 0), 0);
    ZipHandle z = nullptr;
    ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 4096, nullptr), ZIP_OK);
    ASSERT_EQ(ZipAddFileA(z, "t.txt", src.c_str()), ZIP_OK);
    void *base = nullptr;
    uint32_t len = 0;
    ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
    const std::string zip(static_cast<const char *>(base), len);
    ZipClose(z);
    EXPECT_EQ(get16(zip, 10), k.time) << k.when;
    EXPECT_EQ(get16(zip, 12), k.date) << k.when;
  }
}

TEST_F(ZipWriter, MemoryArchiveFullIsStickyAndExactFitWorks) {
  const std::string data = "stored data";
  // One stored entry: local header + name + data, central record + name, end record.
  const size_t need = 30 + 5 + data.size() + 46 + 5 + 22;
  std::vector<char> mem(need);
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateBuffer(&z, mem.data(), need, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "a.zip", data.data(), data.size()), ZIP_OK);
  EXPECT_EQ(ZipClose(z), ZIP_OK);
  int code = -1;
  EXPECT_EQ(extract(std::string(mem.data(), need), 0, &code), data);
  EXPECT_EQ(code, ZIP_OK);

  ASSERT_EQ(ZipCreateBuffer(&z, mem.data(), need - 1, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "a.zip", data.data(), data.size()), ZIP_OK);
  EXPECT_EQ(ZipClose(z), ZIP_ERR_MEMSIZE) << "the end record does not fit";

  ASSERT_EQ(ZipCreateBuffer(&z, mem.data(), 40, nullptr), ZIP_OK);
  EXPECT_EQ(ZipAddBufferA(z, "a.zip", data.data(), data.size()), ZIP_ERR_MEMSIZE);
  EXPECT_EQ(ZipAddBufferA(z, "b.zip", "", 0), ZIP_ERR_MEMSIZE) << "sticky";
  EXPECT_EQ(ZipClose(z), ZIP_ERR_MEMSIZE);

  EXPECT_EQ(ZipCreateBuffer(&z, nullptr, 0, nullptr), ZIP_ERR_MEMSIZE);
  EXPECT_EQ(z, nullptr);
}

TEST_F(ZipWriter, GetMemoryOwnershipAndReset) {
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateFileA(&z, dir.file("f.zip").c_str(), nullptr), ZIP_OK);
  void *base = reinterpret_cast<void *>(1);
  uint32_t len = 7;
  EXPECT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_ERR_NOTMEM);
  EXPECT_EQ(base, nullptr);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(ZipResetMemory(z), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipClose(z), ZIP_OK);

  std::vector<char> own(1024);
  ASSERT_EQ(ZipCreateBuffer(&z, own.data(), own.size(), nullptr), ZIP_OK);
  EXPECT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_ERR_NOTMEM) << "the caller's block is not the archive's own";
  EXPECT_EQ(ZipClose(z), ZIP_OK);

  // Without a mapping the writer stays; closing does not write the directory twice.
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 4096, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "one", "1", 1), ZIP_OK);
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  const std::string first(static_cast<const char *>(base), len);
  EXPECT_EQ(ZipAddBufferA(z, "late", "x", 1), ZIP_ERR_ARGS) << "the directory is written";
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  EXPECT_EQ(std::string(static_cast<const char *>(base), len), first);

  // Reset: only what follows is listed.
  ASSERT_EQ(ZipResetMemory(z), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "two", "22", 2), ZIP_OK);
  ZipMappingHandle mapping = nullptr;
  ASSERT_EQ(ZipGetMemory(z, &base, &len, &mapping), ZIP_OK);
  ASSERT_NE(mapping, nullptr);
  const std::string second(static_cast<const char *>(base), len);
  EXPECT_EQ(names_of(second), std::vector<std::string>{"two"});
  EXPECT_EQ(names_of(first), std::vector<std::string>{"one"});
  EXPECT_EQ(ZipClose(z), ZIP_ERR_ARGS) << "the writer went with the mapping";
  EXPECT_EQ(ZipCloseMapping(mapping), 0);
  EXPECT_EQ(ZipCloseMapping(mapping), -1);
}

TEST_F(ZipWriter, BadArgumentsAndStaleWriters) {
  ZipHandle z = nullptr;
  EXPECT_EQ(ZipCreateFileA(&z, dir.file("missing/dir/x.zip").c_str(), nullptr), ZIP_ERR_OPEN);
  EXPECT_EQ(ZipCreateHandle(&z, -1, nullptr), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipCreateHandle(nullptr, 0, nullptr), ZIP_ERR_ARGS);
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 4096, nullptr), ZIP_OK);
  EXPECT_EQ(ZipOptions(z, 0x1), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipAddBufferA(z, "", "x", 1), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipAddBufferA(z, "x", nullptr, 1), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipAddFileA(z, "x", dir.file("none").c_str()), ZIP_ERR_OPEN);
  EXPECT_EQ(ZipAddFileA(z, "x", dir.path().c_str()), ZIP_ERR_OPEN) << "a folder is no file";
  EXPECT_EQ(ZipAddBufferA(z, "ok", "x", 1), ZIP_OK) << "refusals leave the archive usable";
  EXPECT_EQ(ZipAddBufferRaw(z, "g", "x", 1), ZIP_ERR_ARGS) << "no gzip stream inside an archive";
  EXPECT_EQ(ZipOptions(z, ZIP_OPTION_GZIP), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipClose(z), ZIP_OK);
  EXPECT_EQ(ZipClose(z), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipAddBufferA(z, "x", "x", 1), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipOptions(z, 0), ZIP_ERR_ARGS);
}

TEST_F(ZipWriter, AbortOptionAndSaveAbortGiveTwenty) {
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 1 << 20, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "a", "aaaa", 4), ZIP_OK);
  ASSERT_EQ(ZipOptions(z, ZIP_OPTION_ABORT), ZIP_OK);
  EXPECT_EQ(ZipAddBufferA(z, "b", "bbbb", 4), ZIP_ERR_ABORT);
  EXPECT_EQ(ZipAddBufferA(z, "c", "cccc", 4), ZIP_ERR_ABORT) << "sticky";
  EXPECT_EQ(ZipClose(z), ZIP_ERR_ABORT);

  // save_abort while a large source is read: an error, never a short entry closed as success.
  const std::string big = sample(1 << 20);
  static int calls;
  calls = 0;
  update_zip_progress = [] {
    if (++calls == 3) save_abort = 1;
  };
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 2 << 20, nullptr), ZIP_OK);
  EXPECT_EQ(ZipAddBufferA(z, "big", big.data(), big.size()), ZIP_ERR_ABORT);
  EXPECT_EQ(calls, 3);
  EXPECT_LT(ZipPartDone, 1.0);
  EXPECT_EQ(ZipClose(z), ZIP_ERR_ABORT);
}

TEST_F(ZipWriter, ProgressOverTheSourceAndEmptySources) {
  const std::string big = sample(300000);
  static std::vector<double> seen;
  seen.clear();
  update_zip_progress = [] { seen.push_back(ZipPartDone); };
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 1 << 20, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "big", big.data(), big.size()), ZIP_OK);
  ASSERT_GE(seen.size(), 4u);
  EXPECT_DOUBLE_EQ(seen.back(), 1.0);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
  ASSERT_EQ(ZipAddBufferA(z, "empty", "", 0), ZIP_OK);
  EXPECT_DOUBLE_EQ(ZipPartDone, 1.0) << "an empty source is done, not 0/0";
  EXPECT_FALSE(std::isnan(ZipPartDone));
  void *base = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  const std::string zip(static_cast<const char *>(base), len);
  ZipClose(z);
  int code = -1;
  EXPECT_EQ(extract(zip, 1, &code), "");
  EXPECT_EQ(code, ZIP_OK);
  // An empty deflated entry is the two bytes of an empty final block.
  const size_t c = central(zip) + 46 + 3;
  EXPECT_EQ(get32(zip, c + 16), 0u);
  EXPECT_EQ(get32(zip, c + 20), 2u);
}

TEST_F(ZipWriter, EntryCountAndSizeLimitsAreRefusedNotWrapped) {
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 16 << 20, nullptr), ZIP_OK);
  char name[16];
  for (int i = 0; i < 65534; ++i) {
    std::snprintf(name, sizeof name, "%05d.z", i);
    ASSERT_EQ(ZipAddBufferA(z, name, "", 0), ZIP_OK) << i;
  }
  EXPECT_EQ(ZipAddBufferA(z, "one.z", "", 0), ZIP_ERR_TOOBIG);
  void *base = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  const std::string zip(static_cast<const char *>(base), len);
  ZipClose(z);
  EXPECT_EQ(get16(zip, end_record(zip) + 10), 65534);

  // A file beyond 4 GiB (sparse) and a pipe announced as long: refused before any byte.
  const std::string huge = dir.file("huge.bin");
  const int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, (int64_t{5} << 30)), 0);
  close(fd);
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 4096, nullptr), ZIP_OK);
  EXPECT_EQ(ZipAddFileA(z, "huge", huge.c_str()), ZIP_ERR_TOOBIG);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(ZipAddPipeA(z, "pipe", fds[0], int64_t{1} << 32), ZIP_ERR_TOOBIG);
  EXPECT_EQ(ZipAddPipeA(z, "pipe", fds[0], -1), ZIP_ERR_ARGS);
  ASSERT_EQ(write(fds[1], "abc", 3), 3);
  close(fds[1]);
  EXPECT_EQ(ZipAddPipeA(z, "short", fds[0], 10), ZIP_ERR_READ) << "the pipe ended early";
  close(fds[0]);
  EXPECT_EQ(ZipClose(z), ZIP_ERR_READ);
}

TEST_F(ZipWriter, FilesHandlesAndPipes) {
  const std::string data = sample(100000, 3);
  const std::string src = dir.write("src.txt", data);
  chmod(src.c_str(), 0444);
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 1 << 20, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddFileA(z, "file", src.c_str()), ZIP_OK);
  int fd = open(src.c_str(), O_RDONLY);
  ASSERT_EQ(lseek(fd, 10, SEEK_SET), 10);
  ASSERT_EQ(ZipAddHandleA(z, "handle", fd), ZIP_OK);
  close(fd);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "0123456789", 10), 10);
  ASSERT_EQ(ZipAddPipeA(z, "pipe", fds[0], 6), ZIP_OK);
  close(fds[0]);
  close(fds[1]);
  ASSERT_EQ(ZipAddFolderA(z, "folder"), ZIP_OK);
  void *base = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  const std::string zip(static_cast<const char *>(base), len);
  ZipClose(z);
  EXPECT_EQ(names_of(zip), (std::vector<std::string>{"file", "handle", "pipe", "folder/"}));
  int code = -1;
  EXPECT_EQ(extract(zip, 0, &code), data);
  EXPECT_EQ(extract(zip, 1, &code), data.substr(10));
  EXPECT_EQ(extract(zip, 2, &code), "012345");
  size_t c = central(zip);
  EXPECT_EQ(get32(zip, c + 38), 0x01u | 0x20u | (0x8100u << 16)) << "read-only file";
  for (int i = 0; i < 3; ++i) c += 46 + get16(zip, c + 28);
  EXPECT_EQ(get32(zip, c + 38) & 0x10u, 0x10u);
  EXPECT_EQ(get32(zip, c + 38) >> 16, 0x41C0u);
}

TEST_F(ZipWriter, DirectoryTreeWithoutFollowingFolderLinks) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(dir.path()) / "tree";
  fs::create_directories(root / "sub" / "deeper");
  fs::create_directories(root / "empty");
  dir.write("tree/a.txt", "A");
  dir.write("tree/sub/b.txt", "B");
  dir.write("tree/sub/deeper/c.txt", "C");
  fs::create_directory_symlink("..", root / "sub" / "loop");
  fs::create_symlink(root / "a.txt", root / "link.txt");
  ASSERT_EQ(mkfifo((root / "fifo").c_str(), 0600), 0);
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 1 << 20, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddDirA(z, "top", root.c_str()), ZIP_OK);
  void *base = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  const std::string zip(static_cast<const char *>(base), len);
  ZipClose(z);
  EXPECT_EQ(names_of(zip), (std::vector<std::string>{"top/", "top/a.txt", "top/empty/", "top/link.txt", "top/sub/",
                                                     "top/sub/b.txt", "top/sub/deeper/", "top/sub/deeper/c.txt"}));
  int code = -1;
  EXPECT_EQ(extract(zip, 3, &code), "A");
  EXPECT_EQ(code, ZIP_OK);
}

TEST_F(ZipWriter, GzipStreamLayout) {
  const std::string data = sample(20000);
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 1 << 20, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferRaw(z, "curve.gz", data.data(), data.size()), ZIP_OK) << "always deflated, whatever the name";
  EXPECT_EQ(ZipAddBufferRaw(z, "second", "x", 1), ZIP_ERR_ARGS) << "one stream";
  EXPECT_EQ(ZipAddBufferA(z, "entry", "x", 1), ZIP_ERR_ARGS);
  void *base = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  const std::string gz(static_cast<const char *>(base), len);
  ZipClose(z);
  EXPECT_EQ(gz.substr(0, 4), std::string("\x1f\x8b\x08\x08", 4));
  EXPECT_EQ(static_cast<uint8_t>(gz[8]), 2);
  EXPECT_EQ(static_cast<uint8_t>(gz[9]), 11);
  EXPECT_EQ(gz.substr(10, 9), std::string("curve.gz\0", 9));
  EXPECT_EQ(get32(gz, gz.size() - 4), data.size()) << "no directory after the member";
  EXPECT_EQ(get32(gz, gz.size() - 8), crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
  int code = -1;
  EXPECT_EQ(extract(gz, 0, &code, nullptr, true), data);
  EXPECT_EQ(code, ZIP_OK);

  // The option turns ordinary adds into the stream.
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 4096, nullptr), ZIP_OK);
  ASSERT_EQ(ZipOptions(z, ZIP_OPTION_GZIP), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "opt", "option", 6), ZIP_OK);
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  const std::string gz2(static_cast<const char *>(base), len);
  ZipClose(z);
  EXPECT_EQ(extract(gz2, 0, &code, nullptr, true), "option");
}

TEST_F(ZipWriter, EncryptedEntriesRoundTrip) {
  const std::string data = sample(10000);
  const std::string zip = archive({{"secret.txt", data}, {"stored.zip", "plain"}}, "pass word");
  ASSERT_FALSE(zip.empty());
  EXPECT_EQ(get16(zip, 6), 9) << "encrypted, sizes in a descriptor";
  const uint32_t csize = get32(zip, central(zip) + 20);
  const size_t desc = 30 + 10 + csize;
  EXPECT_EQ(get32(zip, desc), 0x08074b50u);
  int code = -1;
  EXPECT_EQ(extract(zip, 0, &code, "pass word"), data);
  EXPECT_EQ(code, ZIP_OK);
  EXPECT_EQ(extract(zip, 1, &code, "pass word"), "plain");
  EXPECT_EQ(code, ZIP_OK);
  extract(zip, 0, &code);
  EXPECT_EQ(code, ZIP_ERR_PASSWORD) << "no password";
}

TEST_F(ZipWriter, WideNamesAreUtf8) {
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 4096, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferW(z, L"Me\u00dfwerte/\u00b5A.txt", "x", 1), ZIP_OK);
  ASSERT_EQ(ZipAddBufferW(z, L"plain", "y", 1), ZIP_OK);
  void *base = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  const std::string zip(static_cast<const char *>(base), len);
  ZipClose(z);
  EXPECT_EQ(names_of(zip), (std::vector<std::string>{"Me\xc3\x9fwerte/\xc2\xb5\x41.txt", "plain"}));
  const size_t c = central(zip);
  EXPECT_EQ(get16(zip, c + 8) & 0x800, 0x800) << "UTF-8 flag for a non-ASCII name";
  EXPECT_EQ(get16(zip, c + 46 + get16(zip, c + 28) + 8) & 0x800, 0) << "none for an ASCII one";
  char text[64];
  EXPECT_GT(ZipFormatMessageA(ZIP_ERR_MEMSIZE, text, sizeof text), 0);
  EXPECT_STREQ(text, "The memory archive is too small");
  wchar_t wtext[8];
  EXPECT_EQ(ZipFormatMessageW(ZIP_ERR_ABORT, wtext, 8), 7);
  EXPECT_EQ(std::wstring(wtext), L"Aborted");
  EXPECT_EQ(ZipFormatMessageA(ZIP_ERR_MEMSIZE, text, 4), 3);
  EXPECT_STREQ(text, "The");
}

}  // namespace
