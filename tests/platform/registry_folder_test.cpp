// The settings folder is reached only through what was checked: no special
// file in it stops the program or is taken for the hive, and a folder that
// another program swaps for a link while the store works is never read or
// written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "platform/win/registry.h"
#include "tests/testsupport/testsupport.h"

namespace {

constexpr const char *kKey = "Software\\QV\\TRQ";
const std::string kPlanted = "[Software\\QV\\TRQ]\n\"DataDir\"=sz:\"/their/data/\"\n";

bool put_file(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  return static_cast<bool>(out.flush());
}

using testsupport::names_in;

// Runs fn in a child process, its standard error into err_file, ended by an
// alarm should it block (so that a call that waits for ever fails the test
// rather than hanging it): fn's result, or -1 when the child did not end by
// itself.
int in_child(const std::string &err_file, const std::function<int()> &fn) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(20);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (err >= 0) dup2(err, 2);
    _exit(fn());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// What a hive file that is no plain file is made as, and said to be.
struct Special {
  const char *kind;
  std::function<bool(const std::string &path)> make;  // false: cannot be made here
};


// A FIFO, a device, a socket, a folder or a link named user.reg in the
// user's own folder: the read answers at once, as for a file that cannot be
// read, a write is refused, the reason is said once, and nothing replaces
// what is there.
TEST(RegistryHiveFile, ASpecialFileIsNeitherWaitedOnNorReplaced) {
  const Special cases[] = {
      {"a FIFO", [](const std::string &p) { return mkfifo(p.c_str(), 0600) == 0; }},
      {"a device",
       [](const std::string &p) { return geteuid() == 0 && mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; }},
      {"a socket", testsupport::make_socket_file},
      {"a folder", [](const std::string &p) { return mkdir(p.c_str(), 0700) == 0; }},
      {"a symbolic link",
       [](const std::string &p) { return put_file(p + ".target", kPlanted) && symlink("user.reg.target", p.c_str()) == 0; }},
  };
  for (const Special &c : cases) {
    testsupport::TempDir dir;
    const std::string hive = dir.file("user.reg");
    if (!c.make(hive)) {
      std::printf("skipped %s: it cannot be made by user %u\n", c.kind, static_cast<unsigned>(geteuid()));
      continue;
    }
    struct stat before{};
    ASSERT_EQ(lstat(hive.c_str(), &before), 0) << c.kind;
    setenv("QV_REGISTRY_DIR", dir.path().c_str(), 1);
    const std::string says = hive + " is " + c.kind + ", not a plain file";
    const std::string err = dir.file("stderr");
    const int r = in_child(err, [&] {
      char buf[64] = "unchanged";
      if (RegReadString(HKEY_CURRENT_USER, kKey, "DataDir", buf, sizeof buf, nullptr) != REG_ERR_CANT_OPEN_KEY) return 1;
      if (RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/mine/") != REG_ERR_CANT_OPEN_KEY) return 2;
      if (RegWriteULong(HKEY_CURRENT_USER, kKey, "NoOfSETEntries", 1) != REG_ERR_CANT_OPEN_KEY) return 3;
      if (RegReadString(HKEY_CURRENT_USER, kKey, "DataDir", buf, sizeof buf, nullptr) != REG_ERR_CANT_OPEN_KEY) return 4;
      if (platform::registry::problem(HKEY_CURRENT_USER) != says) return 5;
      return 0;
    });
    unsetenv("QV_REGISTRY_DIR");
    EXPECT_EQ(r, 0) << c.kind << " (-1: the child was stopped, as by a read that never returns)";
    EXPECT_EQ(testsupport::read_file(err),
              "Settings: " + says + ": settings are neither read from nor written to it.\n")
        << c.kind;
    struct stat after{};
    ASSERT_EQ(lstat(hive.c_str(), &after), 0) << c.kind;
    EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT) << c.kind;
    EXPECT_EQ(after.st_ino, before.st_ino) << c.kind;
    std::set<std::string> expected = {"user.reg", "user.reg.lock", "stderr"};
    if (S_ISLNK(before.st_mode)) {
      expected.insert("user.reg.target");
      EXPECT_EQ(testsupport::read_file(hive + ".target"), kPlanted);
    }
    EXPECT_EQ(names_in(dir.path()), expected) << c.kind;
  }
}

// Another user who may write the folder above the settings folder (here an
// XDG_CONFIG_HOME open to everyone) swaps the checked folder with a link to
// a folder of their choosing, over and over, while the program reads and
// writes its settings. The settings are refused while the link stands, but
// never taken from or written into the other folder. (The other folder here
// passes every check a folder of the user's own passes: only the link tells
// it apart.)
TEST(RegistryFolder, AFolderSwappedForALinkIsNeverReadOrWritten) {
  testsupport::TempDir config;
  const std::string base = config.path();
  const std::string own = base + "/qv";
  const std::string theirs = base + "/theirs";
  const std::string link = base + "/qv.swap";
  ASSERT_EQ(chmod(base.c_str(), 0777), 0);
  ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(theirs.c_str(), 0700), 0);
  ASSERT_TRUE(put_file(own + "/user.reg", "[Software\\QV\\TRQ]\n\"DataDir\"=sz:\"/mine/\"\n"));
  ASSERT_TRUE(put_file(theirs + "/user.reg", kPlanted));
  ASSERT_EQ(symlink(theirs.c_str(), link.c_str()), 0);
  const std::set<std::string> their_names = names_in(theirs);

  // The swapper: another user where this test may be one, else this user.
  const pid_t swapper = testsupport::start_folder_swapper(own, link);
  ASSERT_GT(swapper, 0);

  const char *old_xdg = getenv("XDG_CONFIG_HOME");
  const std::string saved_xdg = old_xdg != nullptr ? old_xdg : "";
  setenv("XDG_CONFIG_HOME", base.c_str(), 1);
  unsetenv("QV_REGISTRY_DIR");
  int rounds = 0, used = 0, refused = 0, foreign = 0, other = 0;
  // Enough rounds that the old name-checked folder took the other one every time tried.
  while ((rounds < 400 || used < 20 || refused < 20) && rounds < 20000) {
    ++rounds;
    char buf[64] = "";
    const int w = RegWriteULong(HKEY_CURRENT_USER, kKey, "Round", static_cast<uint32_t>(rounds));
    const int r = RegReadString(HKEY_CURRENT_USER, kKey, "DataDir", buf, sizeof buf, nullptr);
    for (const int result : {w, r}) {
      if (result == 0) ++used;
      else if (result == REG_ERR_CANT_OPEN_KEY) ++refused;
      else ++other;
    }
    if (r == 0 && std::strcmp(buf, "/mine/") != 0) ++foreign;
  }
  testsupport::stop_folder_swapper(swapper);
  if (old_xdg != nullptr) setenv("XDG_CONFIG_HOME", saved_xdg.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");

  std::printf("%d rounds: %d calls used the folder, %d were refused while the link stood\n", rounds, used, refused);
  EXPECT_EQ(foreign, 0) << "values read from the other folder";
  EXPECT_EQ(other, 0);
  EXPECT_GT(used, 0);
  EXPECT_GT(refused, 0) << "the swap never came between check and use";
  EXPECT_EQ(names_in(theirs), their_names) << "files made in the other folder";
  EXPECT_EQ(testsupport::read_file(theirs + "/user.reg"), kPlanted);
  struct stat st{};
  const std::string now_own = lstat(own.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? own : link;
  EXPECT_NE(testsupport::read_file(now_own + "/user.reg").find("\"DataDir\"=sz:\"/mine/\""), std::string::npos);
  EXPECT_EQ(names_in(now_own), (std::set<std::string>{"user.reg", "user.reg.lock"}));
}

}  // namespace
