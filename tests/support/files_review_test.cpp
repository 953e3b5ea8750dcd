#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/File.h"
#include "support/Qv_file.h"
#include "support/Util_fun_paths.h"
#include "tests/testsupport/testsupport.h"

namespace {

// A directory whose path, with its trailing '/', is 256 characters: one more
// than the directory part of a split holds. Paths in it still fit 259.
class LongDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    const size_t k = 256 - dir.path().size() - 2;
    ASSERT_GT(k, 0u);
    ASSERT_LE(k, 255u);
    long_dir = dir.path() + "/" + std::string(k, 'd') + "/";
    ASSERT_EQ(long_dir.size(), 256u);
    ASSERT_EQ(mkdir(long_dir.c_str(), 0755), 0);
  }
  size_t entries() const {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(dir.path()); it != std::filesystem::directory_iterator(); ++it)
      ++n;
    return n;
  }

  testsupport::TempDir dir;
  std::string long_dir;
};

// A path whose directory a split cannot hold whole is never composed into a
// shorter, different path.
TEST_F(LongDirectory, ExtensionSwapNeverCutsTheDirectory) {
  const std::string path = long_dir + "a.b";
  ASSERT_EQ(path.size(), 259u);
  FileRecord rec{};
  create_empty_file(&rec);
  EXPECT_EQ(create_qvfile(&rec, path.c_str(), ".s"), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  EXPECT_EQ(rec.state, FILE_STATE_EMPTY);
  unlink_qvfile(&rec);
  EXPECT_EQ(entries(), 1u);  // nothing beside the long directory

  // A file of that cut name exists: it is not the one asked for.
  const std::string cut = long_dir.substr(0, 255) + "a.s";
  FILE *f = std::fopen(cut.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  create_empty_file(&rec);
  EXPECT_EQ(open_qvfile(&rec, path.c_str(), ".s"), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  unlink_qvfile(&rec);
}

// An old extension longer than a split holds is still swapped whole.
TEST_F(LongDirectory, LongOldExtensionIsSwapped) {
  const std::string want = dir.write("run.set", "x");
  FileRecord rec{};
  create_empty_file(&rec);
  ASSERT_EQ(open_qvfile(&rec, dir.file("run." + std::string(40, 'e')).c_str(), ".set"), 1);
  EXPECT_EQ(std::string(rec.path), want);
  unlink_qvfile(&rec);
}

TEST_F(LongDirectory, GetDirNeverCutsTheDirectory) {
  const std::string want = long_dir + "a.b";
  char path[QV_PATH_SIZE], d[QV_PATH_SIZE] = "/x/", name[QV_PATH_SIZE] = "?";
  std::strcpy(path, want.c_str());
  EXPECT_EQ(get_dir(path, d, name), -1);
  EXPECT_EQ(std::string(path), want);
  EXPECT_STREQ(d, "/x/");
  EXPECT_STREQ(name, "?");
}

}  // namespace
