#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/Util_fun_paths.h"
#include "support/app_hooks.h"
#include "tests/testsupport/testsupport.h"

namespace {

// Works in a fresh temporary directory as the current one.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char buf[PATH_MAX];
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    old_cwd = buf;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    cwd = buf;
  }
  void TearDown() override { ASSERT_EQ(chdir(old_cwd.c_str()), 0); }
  size_t entries() const {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(cwd); it != std::filesystem::directory_iterator(); ++it) ++n;
    return n;
  }

  testsupport::TempDir dir;
  std::string old_cwd;
  std::string cwd;
};

TEST(Paths, SplitPathGivesDriveDirectoryAndFileName) {
  struct Case {
    const char *path;
    int result;
    const char *drive, *dir, *file;
  };
  const std::string long_name(300, 'n');
  const std::string long_dir = "/" + std::string(258, 'd') + "/x.set";
  const Case cases[] = {
      {"/data/trq/run1.set", 0, "", "/data/trq/", "run1.set"},
      {"C:\\qv\\trq_auto.set", 0, "C:", "\\qv\\", "trq_auto.set"},
      {"run1.set", 0, "", "", "run1.set"},
      {"/data/trq/", 0, "", "/data/trq/", ""},
      {"", 0, "", "", ""},
      {long_name.c_str(), -1, "", "", ""},  // a part that would be cut: nothing
      {long_dir.c_str(), -1, "", "", ""},
  };
  for (const Case &c : cases) {
    char drive[FNSPLIT_DRIVE_SIZE] = "?", dir[QV_PATH_SIZE] = "?", file[QV_PATH_SIZE] = "?";
    EXPECT_EQ(SplitPath(c.path, drive, dir, file), c.result) << c.path;
    EXPECT_STREQ(drive, c.drive) << c.path;
    EXPECT_STREQ(dir, c.dir) << c.path;
    EXPECT_STREQ(file, c.file) << c.path;
  }
  char file[QV_PATH_SIZE];
  EXPECT_EQ(SplitPath("/a/b.set", nullptr, nullptr, file), 0);  // only the name asked for
  EXPECT_STREQ(file, "b.set");
  EXPECT_EQ(SplitPath(nullptr, nullptr, nullptr, file), -1);
}

TEST(Paths, FnsplitCases) {
  struct Case {
    const char *path;
    const char *drive, *dir, *name, *ext;
    int flags;
  };
  const Case cases[] = {
      {"/data/run.set", "", "/data/", "run", ".set", 2 + 4 + 8},
      {"C:\\data\\run.set", "C:", "\\data\\", "run", ".set", 30},
      {"../x", "", "../", "x", "", 4 + 8},
      {"..\\x", "", "..\\", "x", "", 4 + 8},
      {"*.set", "", "", "*", ".set", 1 + 2 + 4},
      {"/data/ru?.set", "", "/data/", "ru?", ".set", 1 + 2 + 4 + 8},
      {"/data/", "", "/data/", "", "", 8},
      {"C:", "C:", "", "", "", 16},
      {"ab:c", "", "", "ab:c", "", 4},  // ':' not second: an ordinary character
      {"/a.b/c", "", "/a.b/", "c", "", 4 + 8},
      {"/a*b/c", "", "/a*b/", "c", "", 4 + 8},  // wildcards count in the last part only
      {"x/..", "", "x/", "..", "", 4 + 8},
      {".", "", "", ".", "", 4},
      {"..x", "", "", "..x", "", 4},
      {"/d/.hidden", "", "/d/", ".hidden", "", 4 + 8},
      {"a.b.c", "", "", "a.b", ".c", 2 + 4},
      {"x.", "", "", "x", ".", 2 + 4},
      {"   /x.y", "", "/", "x", ".y", 2 + 4 + 8},
      {"", "", "", "", "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    char drive[FNSPLIT_DRIVE_SIZE] = "?", dir[FNSPLIT_DIR_SIZE] = "?", name[FNSPLIT_NAME_SIZE] = "?",
         ext[FNSPLIT_EXT_SIZE] = "?";
    EXPECT_EQ(fnsplit(c.path, drive, dir, name, ext), c.flags);
    EXPECT_STREQ(drive, c.drive);
    EXPECT_STREQ(dir, c.dir);
    EXPECT_STREQ(name, c.name);
    EXPECT_STREQ(ext, c.ext);
  }
  EXPECT_EQ(fnsplit("/d/n.e", nullptr, nullptr, nullptr, nullptr), 14);
  EXPECT_EQ(fnsplit(nullptr, nullptr, nullptr, nullptr, nullptr), 0);

  // Parts longer than their buffers are cut.
  char ext[FNSPLIT_EXT_SIZE];
  char dir[FNSPLIT_DIR_SIZE];
  const std::string long_path = "/" + std::string(258, 'd') + "/n." + std::string(40, 'e');
  fnsplit(long_path.c_str(), nullptr, dir, nullptr, nullptr);
  EXPECT_EQ(std::strlen(dir), FNSPLIT_DIR_SIZE - 1);
  fnsplit(("n." + std::string(40, 'e')).c_str(), nullptr, nullptr, nullptr, ext);
  EXPECT_EQ(std::string(ext), "." + std::string(30, 'e'));
}

TEST_F(InTempDir, FullPath) {
  struct Case {
    const char *path;
    std::string want;
  };
  const Case cases[] = {
      {"/a/b/.././c", "/a/c"},
      {"C:\\a\\b\\..\\.\\c", "C:/a/c"},
      {"/..", "/"},
      {"/a/../..", "/"},
      {"/", "/"},
      {"//srv/share/x", "/srv/share/x"},
      {"/a/b/", "/a/b"},
      {"x/./y", cwd + "/x/y"},
      {"..", std::filesystem::path(cwd).parent_path().string()},
      {"", cwd},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    char buf[QV_PATH_SIZE];
    ASSERT_NE(qv::_fullpath(buf, c.path, sizeof buf), nullptr);
    EXPECT_EQ(std::string(buf), c.want);
  }
  char small[5];
  EXPECT_EQ(qv::_fullpath(small, "/abcd", sizeof small), nullptr);
  EXPECT_NE(qv::_fullpath(small, "/abc", sizeof small), nullptr);
  char *grown = qv::_fullpath(nullptr, "/p/q/../r", 0);
  ASSERT_NE(grown, nullptr);
  EXPECT_STREQ(grown, "/p/r");
  std::free(grown);
}

TEST_F(InTempDir, GetDirCases) {
  ASSERT_EQ(mkdir("sub", 0755), 0);
  testsupport::TempDir other;
  std::string here_file = dir.write("here.set", "x");
  (void)here_file;
  struct Case {
    std::string path, dir;
    std::string want_path, want_dir, want_name;
  };
  const std::string o = other.path() + "/";
  const Case cases[] = {
      // Rooted: left as it is, the directory taken from it.
      {"/data/run.set", o, "/data/run.set", "/data/", "run.set"},
      {"/data/x/../run.set", o, "/data/run.set", "/data/", "run.set"},
      {"/data/", o, "/data/", "/data/", ""},
      {"\\data\\run.set", o, "/data/run.set", "/data/", "run.set"},
      {"C:\\data\\run.set", o, "C:/data/run.set", "C:/data/", "run.set"},
      // A relative directory goes under the given one.
      {"sub/x.set", o, o + "sub/x.set", o + "sub/", "x.set"},
      {"sub/x.set", other.path(), o + "sub/x.set", o + "sub/", "x.set"},
      // Wildcards: composed, not made full; the directory stays.
      {"sub/*.set", o, o + "sub/*.set", o, "*.set"},
      // A bare name found in the current directory wins.
      {"here.set", o, cwd + "/here.set", cwd + "/", "here.set"},
      {"there.set", o, o + "there.set", o, "there.set"},
      // Anything else stays.
      {"noext", o, "noext", o, "noext"},
      {"*.set", o, "*.set", o, "*.set"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    char path[QV_PATH_SIZE], d[QV_PATH_SIZE], name[QV_PATH_SIZE] = "?";
    std::strcpy(path, c.path.c_str());
    std::strcpy(d, c.dir.c_str());
    EXPECT_EQ(get_dir(path, d, name), 0);
    EXPECT_EQ(std::string(path), c.want_path);
    EXPECT_EQ(std::string(d), c.want_dir);
    EXPECT_EQ(std::string(name), c.want_name);
  }
  // Without a name buffer a missing bare name is taken in the current directory.
  char path[QV_PATH_SIZE] = "there.set", d[QV_PATH_SIZE] = "/x/";
  EXPECT_EQ(get_dir(path, d, nullptr), 0);
  EXPECT_EQ(std::string(path), cwd + "/there.set");
}

TEST_F(InTempDir, GetDirFailsInsteadOfOverflowing) {
  const std::string long_dir = "/" + std::string(240, 'd') + "/";
  char path[QV_PATH_SIZE] = "sub/name-of-twenty.set";
  char d[QV_PATH_SIZE];
  std::strcpy(d, long_dir.c_str());
  char name[QV_PATH_SIZE] = "?";
  EXPECT_EQ(get_dir(path, d, name), -1);
  EXPECT_STREQ(path, "sub/name-of-twenty.set");
  EXPECT_EQ(std::string(d), long_dir);
  EXPECT_STREQ(name, "?");
  std::strcpy(path, "bare-name-of-twenty.set");
  EXPECT_EQ(get_dir(path, d, name), -1);
  EXPECT_STREQ(path, "bare-name-of-twenty.set");
}

TEST(Paths, CheckFilepathCases) {
  struct Case {
    const char *path, *def_path, *def_dir, *def_ext;
    const char *want;
    int flags;
  };
  const Case cases[] = {
      {"", "/d/def.set", "/setups", ".set", "/d/def.set", 14},
      {"run", nullptr, "/setups", ".set", "/setups/run.set", 14},
      {"run", nullptr, "/setups/", ".set", "/setups/run.set", 14},
      {"data.txt", nullptr, "/setups", ".set", "/setups/data.txt.set", 14},
      {"run.SET", nullptr, "/setups", ".set", "/setups/run.SET", 14},
      {"/abs/run", nullptr, "/setups", ".set", "/abs/run.set", 14},
      {"sub/run.set", nullptr, "/setups", ".set", "sub/run.set", 14},
      {"run", nullptr, nullptr, nullptr, "run", 4},
      {"*.set", "/d/def.set", "/setups", ".set", "/d/def.set", 14},
      {"*.set", nullptr, "/setups", ".set", "*.set", 1 + 2},  // wildcards: no name flag
      {"/dir/", nullptr, "/setups", ".set", "/dir/", 8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    char path[QV_PATH_SIZE];
    std::strcpy(path, c.path);
    EXPECT_EQ(check_filepath(path, c.def_path, c.def_dir, c.def_ext), c.flags);
    EXPECT_STREQ(path, c.want);
  }
  // 255 + ".set" would pass the 259 characters: refused, path unchanged.
  const std::string name(256, 'n');
  char path[QV_PATH_SIZE];
  std::strcpy(path, name.c_str());
  EXPECT_EQ(check_filepath(path, nullptr, nullptr, ".set"), -1);
  EXPECT_EQ(std::string(path), name);
  std::strcpy(path, "run");
  const std::string deep = "/" + std::string(254, 'd');
  EXPECT_EQ(check_filepath(path, nullptr, deep.c_str(), ".set"), -1);
  EXPECT_STREQ(path, "run");
}

TEST_F(InTempDir, WritabilityProbesTouchNoFileOfTheUsers) {
  // A file of the probe's old fixed name survives every probe.
  const std::string users = dir.write("temp01.$$$", "mine");
  const std::string existing = dir.write("exists.set", "keep");
  const size_t before = entries();

  EXPECT_EQ(IsPathValid(existing.c_str()), 1);
  EXPECT_EQ(IsPathValid(dir.file("new.set").c_str()), 1);
  EXPECT_EQ(IsPathValid("bare.set"), 0);
  EXPECT_EQ(IsPathValid("/no/such/dir/x.set"), 0);

  char out[QV_PATH_SIZE];
  EXPECT_EQ(GetValidPath(dir.file("new.set").c_str(), "/def", out), 0);
  EXPECT_EQ(std::string(out), dir.file("new.set"));
  EXPECT_EQ(GetValidPath("/no/such/dir/x.set", "/def", out), 1);
  EXPECT_STREQ(out, "/def/x.set");
  EXPECT_EQ(GetValidPath("bare.set", "/def/", out), 1);
  EXPECT_STREQ(out, "/def/bare.set");
  EXPECT_EQ(GetValidPath("/no/such/x.set", ("/" + std::string(255, 'd')).c_str(), out), -1);

  int writable = -1;
  EXPECT_EQ(MyGetFileWritability(existing.c_str(), &writable), 0);
  EXPECT_EQ(writable, 1);
  EXPECT_EQ(MyGetFileWritability(dir.file("fresh.set").c_str(), &writable), 0);
  EXPECT_EQ(writable, 1);
  EXPECT_EQ(MyGetFileWritability("/no/such/dir/x.set", &writable), 0);
  EXPECT_EQ(writable, 0);

  EXPECT_EQ(testsupport::read_file(users), "mine");
  EXPECT_EQ(testsupport::read_file(existing), "keep");
  EXPECT_EQ(entries(), before);  // nothing left behind
}

TEST_F(InTempDir, DriveReadyDefault) {
  int ready = -1;
  EXPECT_EQ(IsDriveReady(cwd.c_str(), &ready), 0);
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(IsDriveReady("", &ready), 0);
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(IsDriveReady("/no/such/dir/", &ready), 0);
  EXPECT_EQ(ready, 0);
  EXPECT_LT(IsDriveReady(nullptr, &ready), 0);
}

}  // namespace
