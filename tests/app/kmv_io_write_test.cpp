// A setup file is written whole or not at all: a failed save reports the
// file's name with the file error and leaves the previous file as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/kmv_io_ident.h"
#include "app/kmv_io_write.h"
#include "platform/win/files.h"
#include "support/Qv_file.h"
#include "tests/app/setup_files.h"

namespace {

using testsupport::list;
using testsupport::strings;

class SafeWrite : public ::testing::Test {
 public:
  // A file of one entry line.
  int save(const std::string &path, const std::string &entry) { return write(path, {"SYS_PARA_BEGIN:", entry, "SYS_PARA_END:"}); }

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

// A save of path in a child process that stops at its first write: killed
// there (it leaves its temporary), or held until release is written to.
class ChildSave {
 public:
  ChildSave(SafeWrite *fixture, const std::string &path, bool kill) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      bool stopped = false;
      platform::files::set_fault_hook([&](platform::files::Op op, int, int64_t) {
        if (op == platform::files::Op::write && !stopped) {
          stopped = true;
          if (kill) raise(SIGKILL);
          char c = 'r';
          if (::write(ready[1], &c, 1) != 1 || ::read(release[0], &c, 1) != 1) _exit(3);
        }
        return platform::files::Fault{};
      });
      _exit(fixture->save(path, "#MP2 [MP_C1U_P5,B,1]") == 0 ? 0 : 1);
    }
    close(ready[1]);
    close(release[0]);
    if (kill) {
      close(release[1]);
      waitpid(pid_, &status_, 0);
      pid_ = -1;
    } else {
      release_ = release[1];
      char c = 0;
      held_ = ::read(ready[0], &c, 1) == 1;
    }
    close(ready[0]);
  }
  ~ChildSave() { finish(); }
  bool held() const { return held_; }
  bool killed() const { return WIFSIGNALED(status_) && WTERMSIG(status_) == SIGKILL; }
  // Lets a held save go on; its exit code.
  int finish() {
    if (release_ >= 0) {
      if (::write(release_, "g", 1) != 1) ADD_FAILURE() << "the held save is gone";
      close(release_);
      release_ = -1;
    }
    if (pid_ > 0) {
      waitpid(pid_, &status_, 0);
      pid_ = -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  int status_ = 0;
  bool held_ = false;
};

std::vector<std::string> temporaries(const std::string &dir) {
  std::vector<std::string> out;
  for (const std::string &e : setup_test::entries(dir))
    if (e.find(".trq-") != std::string::npos) out.push_back(e);
  return out;
}

TEST_F(SafeWrite, ASaveClearsWhatKilledSavesOfTheSameFileLeft) {
  const std::string path = dir.file("trq_auto.set");
  const std::string other = dir.file("other.set");
  for (int i = 0; i < 3; ++i) {
    ChildSave killed(this, path, true);
    ASSERT_TRUE(killed.killed());
  }
  // Each killed save cleared the one its forerunner left.
  ASSERT_EQ(temporaries(dir.path()).size(), 1u);
  ChildSave other_killed(this, other, true);
  ASSERT_TRUE(other_killed.killed());
  ASSERT_EQ(temporaries(dir.path()).size(), 2u);
  // Names that only look alike are a person's own files.
  dir.write(".trq_auto.set.trq-notes.txt", "mine");
  dir.write(".trq_auto.set.trq-ab_12!", "mine");

  ASSERT_EQ(save(path, "#MP1 [MP_C1U_P5,B,1]"), 0);
  const auto left = temporaries(dir.path());
  EXPECT_EQ(left.size(), 3u);
  for (const std::string &t : left) EXPECT_TRUE(t.rfind(".other.set.trq-", 0) == 0 || t.find("trq-notes") != std::string::npos ||
                                                t.find("trq-ab_12") != std::string::npos) << t;
  EXPECT_EQ(body_of(path), (std::vector<std::string>{"SYS_PARA_BEGIN:", "#MP1 [MP_C1U_P5,B,1]", "SYS_PARA_END:"}));
  // The other file's own next save clears its leftover.
  ASSERT_EQ(save(other, "#MP1 [MP_C1U_P5,B,0]"), 0);
  EXPECT_EQ(temporaries(dir.path()).size(), 2u);
}

TEST_F(SafeWrite, ASaveNeverClearsTheTemporaryOfALiveSave) {
  const std::string path = dir.file("trq_auto.set");
  ChildSave live(this, path, false);
  ASSERT_TRUE(live.held());
  ASSERT_EQ(temporaries(dir.path()).size(), 1u);
  ASSERT_EQ(save(path, "#MP1 [MP_C1U_P5,B,1]"), 0);
  EXPECT_EQ(temporaries(dir.path()).size(), 1u);  // still the live one's
  EXPECT_EQ(live.finish(), 0);                   // which then ends well
  EXPECT_EQ(body_of(path), (std::vector<std::string>{"SYS_PARA_BEGIN:", "#MP2 [MP_C1U_P5,B,1]", "SYS_PARA_END:"}));
  EXPECT_TRUE(temporaries(dir.path()).empty());
}

// A setup file that is a symbolic link stays one: the file it points to is
// written, through a temporary beside that file.
TEST_F(SafeWrite, ALinkIsKeptAndItsTargetWritten) {
  namespace fs = std::filesystem;
  fs::create_directories(dir.file("real"));
  fs::create_directories(dir.file("links"));
  const struct {
    const char *what;
    std::vector<std::pair<std::string, std::string>> links;  // link, where it points
    std::string target;
  } cases[] = {
      {"relative", {{"links/a.set", "../real/a.set"}}, "real/a.set"},
      {"absolute chain", {{"links/b.set", dir.file("links/b2.set")}, {"links/b2.set", dir.file("real/b.set")}}, "real/b.set"},
      {"to a file not there yet", {{"links/c.set", "../real/new.set"}}, "real/new.set"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = dir.file(c.target);
    if (std::string(c.what) != "to a file not there yet") dir.write(c.target, "old target");
    for (const auto &[link, to] : c.links) fs::create_symlink(to, dir.file(link));
    const std::string path = dir.file(c.links.front().first);
    ASSERT_EQ(save(path, "#MP1 [MP_C1U_P5,B,1]"), 0) << reports.log();
    for (const auto &l : c.links) EXPECT_TRUE(fs::is_symlink(dir.file(l.first))) << l.first;
    EXPECT_EQ(body_of(target), (std::vector<std::string>{"SYS_PARA_BEGIN:", "#MP1 [MP_C1U_P5,B,1]", "SYS_PARA_END:"}));
    EXPECT_TRUE(temporaries(dir.file("real")).empty());
    EXPECT_TRUE(temporaries(dir.file("links")).empty());
  }
}

// In a folder another user can write, the temporary's name is theirs to
// swap: here, at the file layer's first call after the temporary was made, it
// becomes a link to a file of someone else's. Nothing is written through that
// link, the link is not renamed over the setup file, and it stays (not ours
// to remove).
TEST_F(SafeWrite, ALinkSwappedInForTheTemporaryWritesNothingThroughIt) {
  namespace fs = std::filesystem;
  const std::string path = dir.file("trq_auto.set");
  ASSERT_EQ(save(path, "#MP1 [MP_C1U_P5,B,0]"), 0);
  testsupport::TempDir elsewhere;
  const std::string victim = elsewhere.write("precious.txt", "not a setup file");
  std::string swapped;
  platform::files::set_fault_hook([&](platform::files::Op, int, int64_t) {
    if (swapped.empty())
      for (const std::string &t : temporaries(dir.path())) {
        swapped = dir.file(t);
        fs::remove(swapped);
        fs::create_symlink(victim, swapped);
      }
    return platform::files::Fault{};
  });
  const int r = save(path, "#MP1 [MP_C1U_P5,B,1]");
  platform::files::set_fault_hook({});
  ASSERT_FALSE(swapped.empty()) << "no temporary was seen";
  EXPECT_EQ(r, -1);
  EXPECT_EQ(testsupport::read_file(victim), "not a setup file");
  EXPECT_FALSE(fs::is_symlink(path));
  EXPECT_EQ(body_of(path), (std::vector<std::string>{"SYS_PARA_BEGIN:", "#MP1 [MP_C1U_P5,B,0]", "SYS_PARA_END:"}));
  EXPECT_TRUE(fs::is_symlink(swapped));
  EXPECT_EQ(reports.count("BFILE_CREATE"), 1) << reports.log();
}

// A leftover that looks like a temporary of this file but belongs to
// another user is theirs: a save removes only its own user's leftovers.
TEST_F(SafeWrite, ALeftoverOfAnotherUserIsNotRemoved) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  const std::string path = dir.file("trq_auto.set");
  const std::string theirs = dir.write(".trq_auto.set.trq-Ab12Cd", "another user's");
  const std::string mine = dir.write(".trq_auto.set.trq-Ef34Gh", "left by a killed save");
  ASSERT_EQ(chown(theirs.c_str(), 4321, 4321), 0);
  ASSERT_EQ(save(path, "#MP1 [MP_C1U_P5,B,1]"), 0);
  EXPECT_EQ(testsupport::read_file(theirs), "another user's");
  EXPECT_FALSE(std::filesystem::exists(mine));
}

// A setup file is replaced only where a plain file (or nothing) is: a FIFO,
// device or socket of that name stays what it is, and the report says what
// it is.
TEST_F(SafeWrite, ANameThatIsNoPlainFileIsNotReplaced) {
  namespace fs = std::filesystem;
  const std::string fifo = dir.file("fifo.set"), device = dir.file("device.set"), sock = dir.file("socket.set");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::pair<std::string, std::string>> cases = {{fifo, "a FIFO"}};
  if (mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) cases.emplace_back(device, "a device");
  if (testsupport::make_socket_file(sock)) cases.emplace_back(sock, "a socket");
  for (const auto &[name, kind] : cases) {
    SCOPED_TRACE(kind);
    const auto type = fs::symlink_status(name).type();
    EXPECT_EQ(save(name, "#MP1 [MP_C1U_P5,B,1]"), -1);
    EXPECT_EQ(fs::symlink_status(name).type(), type);
    EXPECT_EQ(reports.count(name + " (" + kind + ", not a plain file)"), 1) << reports.log();
  }
  EXPECT_TRUE(temporaries(dir.path()).empty());
}

}  // namespace
