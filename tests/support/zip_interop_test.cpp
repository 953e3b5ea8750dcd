// Archives and gzip streams against Debian's zip, unzip, funzip and gzip,
// run as child processes; skipped where a tool is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/qv_zip.h"
#include "tests/support/zip_fixture.h"
#include "tests/testsupport/testsupport.h"

namespace {
using namespace ziptest;
namespace fs = std::filesystem;

#define REQUIRE_TOOL(t) \
  if (!have(t)) GTEST_SKIP() << t << " is not installed"

class ZipInterop : public ::testing::Test {
 protected:
  std::string q(const std::string &s) { return "'" + s + "'"; }
  testsupport::TempDir dir;
};

// Every entry of an archive file read here: name and bytes.
std::vector<Item> read_all(const std::string &path, const char *password, int *code, bool gzip = false) {
  std::vector<Item> out;
  UnzipHandle u = nullptr;
  *code = gzip ? UnzipOpenFileRawA(&u, path.c_str(), password) : UnzipOpenFileA(&u, path.c_str(), password);
  if (*code != ZIP_OK) return out;
  UnzipEntry e{};
  e.index = -1;
  UnzipGetItemA(u, &e);
  const int32_t n = e.index;
  for (int32_t i = 0; i < n && *code == ZIP_OK; ++i) {
    e.index = i;
    *code = UnzipGetItemA(u, &e);
    if (*code != ZIP_OK) break;
    std::string data(static_cast<size_t>(e.uncompressed_size), '\0');
    *code = UnzipItemToBuffer(u, data.data(), data.size(), &e);
    out.push_back({e.name, data});
  }
  UnzipClose(u);
  return out;
}

TEST_F(ZipInterop, ArchiveWrittenHereListsAndExtractsWithUnzip) {
  REQUIRE_TOOL("unzip");
  const std::string big = sample(200000, 5);
  const std::string raw = noise(70000);
  const std::string src = dir.write("from_disk.dat", sample(1234, 9));
  const std::string zip = dir.file("here.zip");
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateFileA(&z, zip.c_str(), nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "curve.txt", big.data(), big.size()), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "noise.bin", raw.data(), raw.size()), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "inner.zip", "stored as it is", 15), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "empty.txt", "", 0), ZIP_OK);
  ASSERT_EQ(ZipAddFolderA(z, "sub"), ZIP_OK);
  ASSERT_EQ(ZipAddFileA(z, "sub/from_disk.dat", src.c_str()), ZIP_OK);
  ASSERT_EQ(ZipClose(z), ZIP_OK);

  const Result t = run("unzip -t " + q(zip));
  EXPECT_EQ(t.status, 0) << t.out;
  const Result l = run("unzip -Z1 " + q(zip));
  EXPECT_EQ(l.out, "curve.txt\nnoise.bin\ninner.zip\nempty.txt\nsub/\nsub/from_disk.dat\n");
  EXPECT_EQ(run("unzip -p " + q(zip) + " curve.txt").out, big);
  EXPECT_EQ(run("unzip -p " + q(zip) + " noise.bin").out, raw);
  const std::string out = dir.file("out");
  ASSERT_EQ(run("unzip -q " + q(zip) + " -d " + q(out)).status, 0);
  EXPECT_EQ(testsupport::read_file(out + "/sub/from_disk.dat"), testsupport::read_file(src));
  EXPECT_EQ(testsupport::read_file(out + "/inner.zip"), "stored as it is");
  EXPECT_TRUE(fs::is_directory(out + "/sub"));
  EXPECT_TRUE(fs::exists(out + "/empty.txt"));
}

TEST_F(ZipInterop, EncryptedArchiveOpensWithUnzipAndItsPassword) {
  REQUIRE_TOOL("unzip");
  const std::string data = sample(50000, 2);
  const std::string zip = dir.write("secret.zip", archive({{"data.txt", data}, {"small.gz", "stored"}}, "s3cret!"));
  EXPECT_EQ(run("unzip -P s3cret! -p " + q(zip) + " data.txt").out, data);
  EXPECT_EQ(run("unzip -P s3cret! -p " + q(zip) + " small.gz").out, "stored");
  EXPECT_EQ(run("unzip -P s3cret! -t " + q(zip)).status, 0);
  EXPECT_NE(run("unzip -P wrong -t " + q(zip)).status, 0);
}

TEST_F(ZipInterop, StreamedArchiveWithDescriptorsAndPrefix) {
  REQUIRE_TOOL("unzip");
  // Written through a pipe: no rewrites, every entry ends in a descriptor.
  const std::string zip = dir.file("streamed.zip");
  FILE *p = popen(("cat > " + q(zip)).c_str(), "w");
  ASSERT_NE(p, nullptr);
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateHandle(&z, fileno(p), nullptr), ZIP_OK);
  const std::string a = sample(40000, 4);
  ASSERT_EQ(ZipAddBufferA(z, "a.txt", a.data(), a.size()), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "b.txt", "bbb", 3), ZIP_OK);
  ASSERT_EQ(ZipClose(z), ZIP_OK);
  ASSERT_EQ(pclose(p), 0);
  EXPECT_EQ(run("unzip -t " + q(zip)).status, 0);
  EXPECT_EQ(run("unzip -p " + q(zip) + " a.txt").out, a);
  if (have("funzip")) {
    EXPECT_EQ(run("funzip < " + q(zip)).out, a) << "a streaming reader sees the first entry";
  }

  // Behind a prefix, offsets are counted from the start of the file: unzip finds no extra bytes.
  const std::string pre = dir.write("prefixed.zip", std::string(100, 'P'));
  const int fd2 = open(pre.c_str(), O_WRONLY);
  ASSERT_EQ(lseek(fd2, 100, SEEK_SET), 100);
  ASSERT_EQ(ZipCreateHandle(&z, fd2, nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferA(z, "a.txt", a.data(), a.size()), ZIP_OK);
  ASSERT_EQ(ZipClose(z), ZIP_OK);
  close(fd2);
  const Result t = run("unzip -t " + q(pre) + " 2>&1");
  EXPECT_EQ(t.status, 0) << t.out;
  EXPECT_EQ(t.out.find("extra bytes"), std::string::npos) << t.out;
}

TEST_F(ZipInterop, GzipStreamWrittenHereDecompressesWithGzip) {
  REQUIRE_TOOL("gzip");
  const std::string data = sample(300000, 8);
  const std::string src = dir.write("plain.txt", data);
  const std::string gz = dir.file("plain.txt.gz");
  ZipHandle z = nullptr;
  ASSERT_EQ(ZipCreateFileA(&z, gz.c_str(), nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddFileRawA(z, "plain.txt", src.c_str()), ZIP_OK);
  ASSERT_EQ(ZipClose(z), ZIP_OK);
  EXPECT_EQ(run("gzip -t " + q(gz)).status, 0);
  EXPECT_EQ(run("gzip -dc " + q(gz)).out, data);
  const Result l = run("gzip -lv " + q(gz));
  EXPECT_NE(l.out.find(std::to_string(data.size())), std::string::npos) << l.out;

  // An empty stream is valid too.
  const std::string empty = dir.file("empty.gz");
  ASSERT_EQ(ZipCreateFileA(&z, empty.c_str(), nullptr), ZIP_OK);
  ASSERT_EQ(ZipAddBufferRaw(z, "e", "", 0), ZIP_OK);
  ASSERT_EQ(ZipClose(z), ZIP_OK);
  const Result e = run("gzip -dc " + q(empty));
  EXPECT_EQ(e.status, 0);
  EXPECT_EQ(e.out, "");
}

TEST_F(ZipInterop, ArchivesMadeByZipAreReadHere) {
  REQUIRE_TOOL("zip");
  const fs::path src = fs::path(dir.path()) / "src";
  fs::create_directories(src / "nested" / "deep");
  const std::vector<Item> files = {{"a.txt", sample(100000, 1)},
                                   {"nested/b.bin", noise(30000)},
                                   {"nested/deep/c.txt", "small"},
                                   {"nested/empty.txt", ""}};
  for (const Item &f : files) dir.write("src/" + f.name, f.data);
  struct Case {
    const char *what;
    std::string options;
    const char *password;
  };
  const std::vector<Case> cases = {
      {"deflated", "", nullptr},
      {"stored", "-0", nullptr},
      {"encrypted", "-P Pa55word", "Pa55word"},
      {"encrypted and stored", "-0 -P Pa55word", "Pa55word"},
      {"without folder entries", "-D", nullptr},
  };
  for (const Case &c : cases) {
    const std::string zip = dir.file(std::string("z") + std::to_string(&c - cases.data()) + ".zip");
    const Result made = run("cd " + q(src.string()) + " && zip -q -r " + c.options + " " + q(zip) + " .");
    ASSERT_EQ(made.status, 0) << c.what;
    int code = -1;
    const std::vector<Item> got = read_all(zip, c.password, &code);
    ASSERT_EQ(code, ZIP_OK) << c.what;
    for (const Item &f : files) {
      bool found = false;
      for (const Item &g : got)
        if (g.name == f.name) {
          found = true;
          EXPECT_EQ(g.data, f.data) << c.what << ": " << f.name;
        }
      EXPECT_TRUE(found) << c.what << ": " << f.name;
    }
  }
}

TEST_F(ZipInterop, ZipVariantsThisReaderRefusesOrTolerates) {
  REQUIRE_TOOL("zip");
  const std::string data = sample(20000, 6);
  const std::string src = dir.write("f.txt", data);
  // A comment at the end (zip -z reads it from standard input).
  const std::string commented = dir.file("commented.zip");
  ASSERT_EQ(run("cd " + q(dir.path()) + " && printf 'a comment PK\\005\\006 inside' | zip -q -z " + q(commented) +
                " f.txt")
                .status,
            0);
  int code = -1;
  std::vector<Item> got = read_all(commented, nullptr, &code);
  EXPECT_EQ(code, ZIP_OK);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].data, data);

  // ZIP64 records and bzip2 entries are not read.
  const std::string z64 = dir.file("z64.zip");
  ASSERT_EQ(run("cd " + q(dir.path()) + " && zip -q -fz " + q(z64) + " f.txt").status, 0);
  read_all(z64, nullptr, &code);
  EXPECT_EQ(code, ZIP_ERR_UNSUPPORTED);
  const std::string bz = dir.file("bz.zip");
  if (run("cd " + q(dir.path()) + " && zip -q -Z bzip2 " + q(bz) + " f.txt").status == 0) {
    read_all(bz, nullptr, &code);
    EXPECT_EQ(code, ZIP_ERR_UNSUPPORTED);
  }
  // A wrong password is refused by the check byte (or at the latest by the CRC).
  const std::string enc = dir.file("enc.zip");
  ASSERT_EQ(run("cd " + q(dir.path()) + " && zip -q -P right " + q(enc) + " f.txt").status, 0);
  read_all(enc, "wrong", &code);
  EXPECT_TRUE(code == ZIP_ERR_PASSWORD || code == ZIP_ERR_CORRUPT) << code;
}

TEST_F(ZipInterop, GzipStreamsMadeByGzipAreReadHere) {
  REQUIRE_TOOL("gzip");
  const std::string data = sample(150000, 3);
  const std::string src = dir.write("g.txt", data);
  ASSERT_EQ(run("gzip -k -9 " + q(src)).status, 0);
  int code = -1;
  std::vector<Item> got = read_all(src + ".gz", nullptr, &code, true);
  EXPECT_EQ(code, ZIP_OK);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].name, "g.txt");
  EXPECT_EQ(got[0].data, data);

  // gzip -n stores no name: the file's name without ".gz" stands in.
  const std::string n = dir.file("noname.dat.gz");
  ASSERT_EQ(run("gzip -n -c " + q(src) + " > " + q(n)).status, 0);
  got = read_all(n, nullptr, &code, true);
  EXPECT_EQ(code, ZIP_OK);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].name, "noname.dat");
  EXPECT_EQ(got[0].data, data);

  // Extracted to a file under a base directory.
  UnzipHandle u = nullptr;
  ASSERT_EQ(UnzipOpenFileRawA(&u, n.c_str(), nullptr), ZIP_OK);
  ASSERT_EQ(UnzipSetBaseDirA(u, dir.file("x").c_str()), ZIP_OK);
  UnzipEntry e{};
  ASSERT_EQ(UnzipGetItemA(u, &e), ZIP_OK);
  EXPECT_EQ(UnzipItemToFileA(u, nullptr, &e), ZIP_OK);
  UnzipClose(u);
  EXPECT_EQ(testsupport::read_file(dir.file("x/noname.dat")), data);
}


// Bytes after the member are not its trailer: the entry's size and data are
// what gzip -dc makes of the same file.
TEST_F(ZipInterop, GzipMemberFollowedByOtherBytesReadsAsGzipDoes) {
  REQUIRE_TOOL("gzip");
  const std::string noisy = "J" + noise(3000);  // no second member's magic
  const std::vector<std::pair<const char *, std::string>> tails = {
      {"a size of 4096", std::string("\x00\x10\x00\x00", 4)},
      {"one zero", std::string(1, '\0')},
      {"a trailer's worth of zeros", std::string(8, '\0')},
      {"a false trailer", std::string("\x12\x34\x56\x78\x05\x00\x00\x00", 8)},
      {"text", "trailing text\n"},
      {"noise", noisy},
  };
  for (const size_t size : {size_t{0}, size_t{1000}, size_t{10000}}) {
    const std::string src = dir.write("m.txt", sample(size, 5));
    const std::string member = dir.file("m.gz");
    ASSERT_EQ(run("gzip -n -c " + q(src) + " > " + q(member)).status, 0);
    for (const auto &[what, tail] : tails) {
      const std::string where = std::string(what) + " after " + std::to_string(size) + " bytes";
      const std::string gz = dir.write("t.gz", testsupport::read_file(member) + tail);
      const Result ref = run("gzip -dc " + q(gz));
      ASSERT_TRUE(ref.status == 0 || ref.status == 2) << where;  // 2: a warning on the trailing bytes
      UnzipHandle u = nullptr;
      ASSERT_EQ(UnzipOpenFileRawA(&u, gz.c_str(), nullptr), ZIP_OK) << where;
      UnzipEntry e{};
      EXPECT_EQ(UnzipGetItemA(u, &e), ZIP_OK) << where;
      EXPECT_EQ(e.uncompressed_size, static_cast<int64_t>(ref.out.size())) << where;
      std::string out(ref.out.size(), '\0');
      EXPECT_EQ(UnzipItemToBuffer(u, out.data(), out.size(), &e), ZIP_OK) << where;
      EXPECT_EQ(out, ref.out) << where;
      UnzipClose(u);
    }
  }
}

}  // namespace
