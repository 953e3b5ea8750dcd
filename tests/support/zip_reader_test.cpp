#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "support/qv_zip.h"
#include "tests/support/zip_fixture.h"
#include "tests/testsupport/testsupport.h"

namespace {
using namespace ziptest;
namespace fs = std::filesystem;

class ZipReader : public ::testing::Test {
 protected:
  void TearDown() override {
    load_abort = 0;
    update_load_progress = nullptr;
  }
  testsupport::TempDir dir;
};

int open_code(const std::string &zip) {
  UnzipHandle u = nullptr;
  const int code = UnzipOpenBuffer(&u, zip.data(), zip.size(), nullptr);
  if (code == ZIP_OK) UnzipClose(u);
  return code;
}

// Sets a comment of n bytes behind the end record.
std::string with_comment(std::string zip, const std::string &comment) {
  set16(zip, end_record(zip) + 20, static_cast<uint16_t>(comment.size()));
  return zip + comment;
}

TEST_F(ZipReader, EndRecordFoundBehindCommentsOfAnyLength) {
  const std::string zip = archive({{"a.txt", sample(3000)}});
  for (size_t n : {size_t{0}, size_t{1}, size_t{1017}, size_t{1018}, size_t{1019}, size_t{1020}, size_t{1021},
                   size_t{1022}, size_t{1023}, size_t{1024}, size_t{1025}, size_t{2046}, size_t{65535}}) {
    const std::string z = with_comment(zip, std::string(n, 'c'));
    int code = -1;
    EXPECT_EQ(extract(z, 0, &code), sample(3000)) << n;
    EXPECT_EQ(code, ZIP_OK) << n;
  }
  // A signature inside the comment does not fool it.
  std::string fake(200, 'c');
  fake.replace(50, 4, "PK\x05\x06");
  int code = -1;
  EXPECT_EQ(extract(with_comment(zip, fake), 0, &code), sample(3000));
  EXPECT_EQ(code, ZIP_OK);
  // A comment longer than what follows leaves no end record: 65536 bytes behind it.
  EXPECT_EQ(open_code(zip + std::string(65536, 'x')), ZIP_ERR_NOTZIP);
}

TEST_F(ZipReader, DamagedRecordsGiveCodesNotCrashes) {
  const std::string zip = archive({{"a.txt", sample(3000)}, {"b.txt", "bbbb"}});
  const size_t end = end_record(zip);
  struct Case {
    const char *what;
    size_t at;
    uint32_t value;
    int width;
    int code;
  };
  const std::vector<Case> cases = {
      {"disk number", end + 4, 1, 2, ZIP_ERR_ENDRECORD},
      {"directory disk", end + 6, 1, 2, ZIP_ERR_ENDRECORD},
      {"counts differ", end + 8, 1, 2, ZIP_ERR_ENDRECORD},
      {"more entries than records", end + 8, 3, 2, ZIP_ERR_ENDRECORD},
      {"directory past the end record", end + 16, static_cast<uint32_t>(end), 4, ZIP_ERR_ENDRECORD},
      {"directory far beyond", end + 16, 0x7FFFFFF0, 4, ZIP_ERR_ENDRECORD},
      {"directory size too large", end + 12, 0x10000, 4, ZIP_ERR_ENDRECORD},
      {"ZIP64 marker", end + 16, 0xFFFFFFFF, 4, ZIP_ERR_UNSUPPORTED},
      {"central signature", central(zip), 0x12345678, 4, ZIP_ERR_ENDRECORD},
      {"name longer than the directory", central(zip) + 28, 0xFFFF, 2, ZIP_ERR_ENDRECORD},
  };
  for (const Case &c : cases) {
    std::string z = zip;
    if (c.width == 2) set16(z, c.at, static_cast<uint16_t>(c.value));
    else set32(z, c.at, c.value);
    if (std::string(c.what) == "more entries than records") set16(z, end + 10, 3);
    EXPECT_EQ(open_code(z), c.code) << c.what;
  }
  EXPECT_EQ(open_code(""), ZIP_ERR_NOTZIP);
  EXPECT_EQ(open_code("PK\x05\x06"), ZIP_ERR_NOTZIP);
  // Every truncation of the archive either fails to open or fails to extract, never crashes.
  for (size_t cut = 0; cut < zip.size(); cut += 7) {
    const std::string z = zip.substr(0, cut);
    int code = -1;
    extract(z, 0, &code);
    EXPECT_NE(code, ZIP_OK) << cut;
  }
}

TEST_F(ZipReader, EntryRecordsAreCheckedAgainstTheSource) {
  const std::string data = sample(5000);
  const std::string zip = archive({{"a.txt", data}, {"s.zip", "stored bytes"}});
  const size_t c1 = central(zip);
  const size_t c2 = c1 + 46 + 5;
  const size_t local2 = get32(zip, c2 + 42);
  struct Case {
    const char *what;
    size_t at;
    uint32_t value;
    int width;
    int32_t index;
    int code;
  };
  const std::vector<Case> cases = {
      {"local offset beyond the source", c1 + 42, 0x7FFFFFFF, 4, 0, ZIP_ERR_CORRUPT},
      {"local offset onto the directory", c1 + 42, static_cast<uint32_t>(c1), 4, 0, ZIP_ERR_CORRUPT},
      {"compressed size beyond the source", c1 + 20, 0x7FFFFFFF, 4, 0, ZIP_ERR_CORRUPT},
      {"uncompressed size too small", c1 + 24, 100, 4, 0, ZIP_ERR_CORRUPT},
      {"uncompressed size too large", c1 + 24, 100000, 4, 0, ZIP_ERR_CORRUPT},
      {"CRC", c1 + 16, 0x01020304, 4, 0, ZIP_ERR_CORRUPT},
      {"compressed size short: truncated stream", c1 + 20, 10, 4, 0, ZIP_ERR_CORRUPT},
      {"stored sizes differ", c2 + 24, 5, 4, 1, ZIP_ERR_CORRUPT},
      {"local name length beyond", local2 + 26, 0xFFFF, 2, 1, ZIP_ERR_CORRUPT},
      {"method", c1 + 10, 12, 2, 0, ZIP_ERR_UNSUPPORTED},
      {"AES", c1 + 10, 99, 2, 0, ZIP_ERR_UNSUPPORTED},
      {"strong encryption", c1 + 8, 0x41, 2, 0, ZIP_ERR_UNSUPPORTED},
      {"ZIP64 size", c1 + 20, 0xFFFFFFFF, 4, 0, ZIP_ERR_UNSUPPORTED},
  };
  for (const Case &c : cases) {
    std::string z = zip;
    if (c.width == 2) set16(z, c.at, static_cast<uint16_t>(c.value));
    else set32(z, c.at, c.value);
    int code = -1;
    extract(z, c.index, &code);
    EXPECT_EQ(code, c.code) << c.what;
  }
  // A flipped data byte, stored or deflated.
  for (int32_t index : {0, 1}) {
    std::string z = zip;
    const size_t c = index == 0 ? c1 : c2;
    const size_t local = get32(z, c + 42);
    const size_t data_at = local + 30 + get16(z, local + 26);
    z[data_at + 3] = static_cast<char>(z[data_at + 3] ^ 0x10);
    int code = -1;
    extract(z, index, &code);
    EXPECT_EQ(code, ZIP_ERR_CORRUPT) << index;
  }
}

TEST_F(ZipReader, ListingAndFinding) {
  const std::string zip = archive({{"Dir/One.txt", "1"}, {"two.txt", "22"}});
  UnzipHandle u = nullptr;
  ASSERT_EQ(UnzipOpenBuffer(&u, zip.data(), zip.size(), nullptr), ZIP_OK);
  UnzipEntry e{};
  e.index = -1;
  ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
  EXPECT_EQ(e.index, 2);
  e.index = 1;
  ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
  EXPECT_STREQ(e.name, "two.txt");
  EXPECT_EQ(e.uncompressed_size, 2);
  EXPECT_EQ(e.crc, crc32(0, reinterpret_cast<const Bytef *>("22"), 2));
  e.index = 2;
  EXPECT_EQ(UnzipGetItemA(u, &e), ZIP_ERR_ARGS);

  std::snprintf(e.name, sizeof e.name, "%s", "dir\\one.TXT");
  EXPECT_EQ(UnzipFindItemA(u, &e, 0), ZIP_ERR_NOTFOUND);
  ASSERT_EQ(UnzipFindItemA(u, &e, UNZIP_IGNORE_CASE), ZIP_OK);
  EXPECT_EQ(e.index, 0);
  EXPECT_STREQ(e.name, "Dir/One.txt");
  char one = 0;
  EXPECT_EQ(UnzipItemToBuffer(u, &one, 1, &e), ZIP_OK);
  EXPECT_EQ(one, '1');

  UnzipEntryW w{};
  std::wcsncpy(w.name, L"two.txt", ZIP_NAME_SIZE);
  ASSERT_EQ(UnzipFindItemW(u, &w, 0), ZIP_OK);
  EXPECT_EQ(w.index, 1);
  EXPECT_EQ(std::wstring(w.name), L"two.txt");
  EXPECT_EQ(UnzipClose(u), ZIP_OK);
  EXPECT_EQ(UnzipClose(u), ZIP_ERR_ARGS);
  EXPECT_EQ(UnzipGetItemA(u, &e), ZIP_ERR_ARGS);

  EXPECT_EQ(UnzipOpenBuffer(&u, nullptr, 100, nullptr), ZIP_ERR_RESOURCE);
  EXPECT_EQ(UnzipOpenFileA(&u, dir.file("none.zip").c_str(), nullptr), ZIP_ERR_OPEN);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(UnzipOpenHandle(&u, fds[0], nullptr), ZIP_ERR_SEEK);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(ZipReader, NamesNeverLeaveTheBaseDirectory) {
  struct Case {
    const char *stored;
    const char *cleaned;
  };
  const std::vector<Case> cases = {
      {"../evil.txt", "evil.txt"},
      {"/etc/evil.txt", "etc/evil.txt"},
      {"C:\\Windows\\evil.txt", "Windows/evil.txt"},
      {"c:evil.txt", "evil.txt"},
      {"a/../../b.txt", "a/b.txt"},
      {"..\\..\\up.txt", "up.txt"},
      {"./x/./y.txt", "x/y.txt"},
      {"//server/share/z.txt", "server/share/z.txt"},
  };
  // The writer stores names as given: patch them in afterwards, same length.
  std::string zip;
  {
    ZipHandle z = nullptr;
    ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 1 << 16, nullptr), ZIP_OK);
    for (const Case &c : cases) {
      const std::string placeholder(std::strlen(c.stored), 'n');
      ASSERT_EQ(ZipAddBufferA(z, placeholder.c_str(), c.stored, std::strlen(c.stored)), ZIP_OK);
    }
    void *base = nullptr;
    uint32_t len = 0;
    ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
    zip.assign(static_cast<const char *>(base), len);
    ZipClose(z);
  }
  size_t c = central(zip);
  for (const Case &k : cases) {
    const size_t n = get16(zip, c + 28);
    zip.replace(c + 46, n, k.stored);
    const size_t local = get32(zip, c + 42);
    zip.replace(local + 30, n, k.stored);
    c += 46 + n;
  }
  const std::string base = dir.file("base");
  fs::create_directories(base);
  UnzipHandle u = nullptr;
  ASSERT_EQ(UnzipOpenBuffer(&u, zip.data(), zip.size(), nullptr), ZIP_OK);
  ASSERT_EQ(UnzipSetBaseDirA(u, base.c_str()), ZIP_OK);
  for (size_t i = 0; i < cases.size(); ++i) {
    UnzipEntry e{};
    e.index = static_cast<int32_t>(i);
    ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
    EXPECT_STREQ(e.name, cases[i].cleaned) << cases[i].stored;
    EXPECT_EQ(UnzipItemToFileA(u, nullptr, &e), ZIP_OK) << cases[i].stored;
    EXPECT_EQ(testsupport::read_file(base + "/" + cases[i].cleaned), cases[i].stored);
  }
  // A caller's name is cleaned the same way.
  UnzipEntry e{};
  ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
  EXPECT_EQ(UnzipItemToFileA(u, "../../outside.txt", &e), ZIP_OK);
  EXPECT_TRUE(fs::exists(base + "/outside.txt"));
  EXPECT_EQ(UnzipItemToFileA(u, "..", &e), ZIP_ERR_NAME);
  // A link inside the base that leads out is not followed.
  const std::string outside = dir.file("outside");
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, base + "/link");
  EXPECT_EQ(UnzipItemToFileA(u, "link/escaped.txt", &e), ZIP_ERR_NAME);
  EXPECT_FALSE(fs::exists(outside + "/escaped.txt"));
  fs::create_symlink(outside + "/target.txt", base + "/file_link.txt");
  EXPECT_EQ(UnzipItemToFileA(u, "file_link.txt", &e), ZIP_ERR_OPEN);
  EXPECT_FALSE(fs::exists(outside + "/target.txt"));
  UnzipClose(u);
  // Nothing was written beside the base directory.
  std::vector<std::string> beside;
  for (const auto &f : fs::directory_iterator(dir.path())) beside.push_back(f.path().filename().string());
  std::sort(beside.begin(), beside.end());
  EXPECT_EQ(beside, (std::vector<std::string>{"base", "outside"}));
}

TEST_F(ZipReader, FolderEntriesCreateFolders) {
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateBuffer(&z, nullptr, 4096, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddFolderA(z, "a/b"), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "c/d/e.txt", "e", 1), ZIP_OK);
  void *base = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(ZipGetMemory(z, &base, &len, nullptr), ZIP_OK);
  const std::string zip(static_cast<const char *>(base), len);
  ZipClose(z);
  UnzipHandle u = nullptr;
  ASSERT_EQ(UnzipOpenBuffer(&u, zip.data(), zip.size(), nullptr), ZIP_OK);
  ASSERT_EQ(UnzipSetBaseDirA(u, dir.file("out").c_str()), ZIP_OK);
  for (int32_t i = 0; i < 2; ++i) {
    UnzipEntry e{};
    e.index = i;
    ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
    EXPECT_EQ(UnzipItemToFileA(u, nullptr, &e), ZIP_OK);
  }
  UnzipClose(u);
  EXPECT_TRUE(fs::is_directory(dir.file("out/a/b")));
  EXPECT_EQ(testsupport::read_file(dir.file("out/c/d/e.txt")), "e");
}

TEST_F(ZipReader, ShortBufferAbortAndProgressNeverReportSuccess) {
  const std::string data = sample(400000);
  const std::string zip = archive({{"big.txt", data}});
  UnzipHandle u = nullptr;
  ASSERT_EQ(UnzipOpenBuffer(&u, zip.data(), zip.size(), nullptr), ZIP_OK);
  UnzipEntry e{};
  ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);

  std::string part(1000, '\0');
  EXPECT_EQ(UnzipItemToBuffer(u, part.data(), part.size(), &e), ZIP_ERR_FULL);
  EXPECT_EQ(part, data.substr(0, 1000)) << "the part that fits";

  static int calls;
  calls = 0;
  update_load_progress = [] {
    if (++calls == 2) load_abort = 1;
  };
  std::string out(data.size(), '\0');
  EXPECT_EQ(UnzipItemToBuffer(u, out.data(), out.size(), &e), ZIP_ERR_ABORT);
  EXPECT_EQ(calls, 2);
  EXPECT_LT(LoadPartDone, 1.0);

  load_abort = 0;
  static std::vector<double> seen;
  seen.clear();
  update_load_progress = [] { seen.push_back(LoadPartDone); };
  EXPECT_EQ(UnzipItemToBuffer(u, out.data(), out.size(), &e), ZIP_OK);
  EXPECT_EQ(out, data);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_DOUBLE_EQ(seen.back(), 1.0);

  // To a file: an aborted extraction reports the abort.
  update_load_progress = [] { load_abort = 1; };
  ASSERT_EQ(UnzipSetBaseDirA(u, dir.path().c_str()), ZIP_OK);
  EXPECT_EQ(UnzipItemToFileA(u, "aborted.txt", &e), ZIP_ERR_ABORT);
  UnzipClose(u);
}

TEST_F(ZipReader, WrongPasswordIsRefusedBeforeAnyByte) {
  const std::string data = sample(2000);
  const std::string zip = archive({{"s.txt", data}, {"s.zip", data}}, "right");
  int refused = 0;
  for (int k = 0; k < 12; ++k) {
    const std::string wrong = "wrong" + std::to_string(k);
    for (int32_t index : {0, 1}) {
      UnzipHandle u = nullptr;
      ASSERT_EQ(UnzipOpenBuffer(&u, zip.data(), zip.size(), wrong.c_str()), ZIP_OK);
      UnzipEntry e{};
      e.index = index;
      ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
      std::string out(data.size(), '#');
      const int code = UnzipItemToBuffer(u, out.data(), out.size(), &e);
      UnzipClose(u);
      // The check byte lets one password in 256 through; the CRC stops those.
      ASSERT_TRUE(code == ZIP_ERR_PASSWORD || code == ZIP_ERR_CORRUPT) << code;
      if (code == ZIP_ERR_PASSWORD) {
        ++refused;
        EXPECT_EQ(out, std::string(data.size(), '#')) << "nothing written";
      }
    }
  }
  EXPECT_GT(refused, 20);
}

// A gzip member built by hand with every optional header field.
std::string gzip_member(const std::string &data, uint8_t flags, const std::string &name) {
  std::string s("\x1f\x8b\x08", 3);
  s += static_cast<char>(flags);
  s += std::string("\x01\x02\x03\x04\x00\x03", 6);
  if (flags & 0x04) s += std::string("\x04\x00" "XXXX", 6);
  if (flags & 0x08) s += name + '\0';
  if (flags & 0x10) s += std::string("a comment\0", 10);
  if (flags & 0x02) s += "HC";
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, data.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef *>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  s += out;
  std::string t(8, '\0');
  set32(t, 0, crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
  set32(t, 4, static_cast<uint32_t>(data.size()));
  return s + t;
}

TEST_F(ZipReader, GzipHeadersAndTrailers) {
  const std::string data = sample(10000);
  struct Case {
    const char *what;
    std::string stream;
    int code;
    const char *name;
  };
  std::string bad_crc = gzip_member(data, 0x08, "n");
  bad_crc[bad_crc.size() - 8] ^= 1;
  std::string bad_size = gzip_member(data, 0x08, "n");
  bad_size[bad_size.size() - 1] ^= 1;
  std::string cut = gzip_member(data, 0x08, "n");
  cut.erase(cut.size() - 20, 12);
  const std::vector<Case> cases = {
      {"all fields", gzip_member(data, 0x1E, "named.txt"), ZIP_OK, "named.txt"},
      {"no name", gzip_member(data, 0x00, ""), ZIP_OK, ""},
      {"extra only", gzip_member(data, 0x04, ""), ZIP_OK, ""},
      {"trailer CRC", bad_crc, ZIP_ERR_CORRUPT, "n"},
      {"trailer size", bad_size, ZIP_ERR_CORRUPT, "n"},
      {"truncated data", cut, ZIP_ERR_CORRUPT, "n"},
      {"reserved flag", gzip_member(data, 0x20, ""), ZIP_ERR_CORRUPT, nullptr},
      {"not gzip", "PK\x03\x04 and more bytes than that", ZIP_ERR_NOTZIP, nullptr},
      {"too short", std::string("\x1f\x8b\x08\x00", 4), ZIP_ERR_NOTZIP, nullptr},
      {"name without end", std::string("\x1f\x8b\x08\x08\0\0\0\0\0\x03nonamenonamenoname", 28), ZIP_ERR_CORRUPT, nullptr},
      {"method", std::string("\x1f\x8b\x07\x00\0\0\0\0\0\x03\x03\x00\0\0\0\0\0\0\0\0", 20), ZIP_ERR_UNSUPPORTED, nullptr},
  };
  for (const Case &c : cases) {
    UnzipHandle u = nullptr;
    int code = UnzipOpenBufferRaw(&u, c.stream.data(), c.stream.size(), nullptr);
    std::string out;
    if (code == ZIP_OK) {
      UnzipEntry e{};
      EXPECT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
      if (c.name != nullptr) {
        EXPECT_STREQ(e.name, c.name) << c.what;
      }
      EXPECT_EQ(e.mtime, 0x04030201) << c.what;
      out.resize(data.size() + 100);
      code = UnzipItemToBuffer(u, out.data(), out.size(), &e);
      out.resize(data.size());
      UnzipClose(u);
    }
    EXPECT_EQ(code, c.code) << c.what;
    if (c.code == ZIP_OK) {
      EXPECT_EQ(out, data) << c.what;
    }
  }
}

// A member cut inside its deflated data opens with the size of what can be
// recovered; the extraction gives that much, then the damage.
TEST_F(ZipReader, CutGzipMemberGivesItsSoundStartThenCorrupt) {
  const std::string data = sample(200000, 9);
  const std::string whole = gzip_member(data, 0x00, "");
  const std::string cut = whole.substr(0, whole.size() / 2);
  UnzipHandle u = nullptr;
  ASSERT_EQ(UnzipOpenBufferRaw(&u, cut.data(), cut.size(), nullptr), ZIP_OK);
  UnzipEntry e{};
  ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
  ASSERT_GT(e.uncompressed_size, 0);
  ASSERT_LT(e.uncompressed_size, static_cast<int64_t>(data.size()));
  std::string out(static_cast<size_t>(e.uncompressed_size), '#');
  EXPECT_EQ(UnzipItemToBuffer(u, out.data(), out.size(), &e), ZIP_ERR_CORRUPT);
  EXPECT_EQ(out, data.substr(0, out.size()));
  UnzipClose(u);
}

TEST_F(ZipReader, FilesAndHandlesAsSources) {
  const std::string data = sample(70000);
  const std::string path = dir.write("a.zip", archive({{"x.txt", data}}));
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(lseek(fd, 5, SEEK_SET), 5);
  UnzipHandle u = nullptr;
  ASSERT_EQ(UnzipOpenHandle(&u, fd, nullptr), ZIP_OK);
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5) << "the caller's position stays";
  close(fd);  // the reader holds its own copy
  UnzipEntry e{};
  ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
  const std::string outp = dir.file("copy.txt");
  const int out = open(outp.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  EXPECT_EQ(UnzipItemToHandle(u, out, &e), ZIP_OK);
  close(out);
  UnzipClose(u);
  EXPECT_EQ(testsupport::read_file(outp), data);

  ASSERT_EQ(UnzipOpenFileW(&u, std::wstring(path.begin(), path.end()).c_str(), nullptr), ZIP_OK);
  UnzipEntryW w{};
  ASSERT_EQ(UnzipGetItemW(u, &w), ZIP_OK);
  EXPECT_EQ(std::wstring(w.name), L"x.txt");
  ASSERT_EQ(UnzipSetBaseDirW(u, std::wstring(dir.path().begin(), dir.path().end()).c_str()), ZIP_OK);
  EXPECT_EQ(UnzipItemToFileW(u, L"wide/\u00e4.txt", &w), ZIP_OK);
  UnzipClose(u);
  EXPECT_EQ(testsupport::read_file(dir.file("wide/\xc3\xa4.txt")), data);
}

}  // namespace
