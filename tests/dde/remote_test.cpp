// trq_remote as a child process against a server on this test's loop.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "tests/dde/dde_fixture.h"

extern char **environ;

using namespace ddetest;

namespace {

struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr
};

class Remote : public DdeTest {
 protected:
  // Runs trq_remote in the folder cwd while the loop serves, until it ends.
  Outcome run(const std::vector<std::string> &args, const std::string &cwd) {
    int out[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, out[1], 2);
    posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    std::vector<std::string> all = {TRQ_REMOTE};
    all.insert(all.end(), args.begin(), args.end());
    all = testsupport::program_command(all);
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    Outcome o;
    const int watch = platform::ui::watch_fd(out[0], [&](int fd) {
      char buf[512];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) o.output.append(buf, static_cast<std::size_t>(n));
      else QuitUserInterface(0);  // the command has ended
    });
    RunUserInterface();
    platform::ui::unwatch_fd(watch);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
  }
};

TEST_F(Remote, LoadPokesTheFullFileNameAndQuitExecutes) {
  ASSERT_EQ(serve(), 0);
  dir_.write("a.set", "setup");
  const Outcome load = run({"load", "a.set"}, dir_.path());
  EXPECT_EQ(load.status, 0) << load.output;
  EXPECT_EQ(load.output, "");
  const Outcome quit = run({"quit"}, dir_.path());
  EXPECT_EQ(quit.status, 0) << quit.output;
  settle();
  ASSERT_EQ(types(), (std::vector<int>{DDE_CONNECT, DDE_DATAREADY, DDE_DISCONNECT, DDE_CONNECT, DDE_EXECUTE,
                                       DDE_DISCONNECT}));
  EXPECT_EQ(log[0].topic, kTopic);
  EXPECT_EQ(log[1].item, "File_Name");
  EXPECT_EQ(log[1].format, DDE_TEXT);
  EXPECT_EQ(log[1].data, dir_.path() + "/a.set");
  EXPECT_EQ(log[4].item, "Quit");
}

TEST_F(Remote, ServiceOptionNamesTheServer) {
  ASSERT_EQ(serve("Bench-2"), 0);
  const Outcome o = run({"--service", "Bench-2", "quit"}, dir_.path());
  EXPECT_EQ(o.status, 0) << o.output;
  const Outcome none = run({"quit"}, dir_.path());  // nobody serves the default name
  EXPECT_EQ(none.status, 3);
  EXPECT_EQ(none.output, "trq_remote: no program serves \"KMV-USB\" (is TRQ running?)\n");
}

TEST_F(Remote, RefusedAndTimedOut) {
  ASSERT_EQ(serve(), 0);
  on_txn = [](const Txn &t, char *, int) {
    if (t.type != DDE_EXECUTE) return 1;
    poll(nullptr, 0, 700);  // the quit confirmation stays open a while
    return 0;
  };
  const Outcome refused = run({"quit"}, dir_.path());
  EXPECT_EQ(refused.status, 4);
  EXPECT_EQ(refused.output, "trq_remote: the program serving \"KMV-USB\" refused the request\n");
  const Outcome late = run({"--timeout", "0.2", "quit"}, dir_.path());
  EXPECT_EQ(late.status, 5);
  EXPECT_EQ(late.output, "trq_remote: no answer from \"KMV-USB\" within 0.2 s (is a dialog open?)\n");
  // A program that goes away in the middle has not refused anything.
  on_txn = [](const Txn &t, char *, int) { return t.type == DDE_EXECUTE ? UnregisterDDEServer(kService) : 1; };
  const Outcome gone = run({"quit"}, dir_.path());
  EXPECT_EQ(gone.status, 6);
  EXPECT_EQ(gone.output, "trq_remote: the program serving \"KMV-USB\" ended the conversation before it answered\n");
}

// Conversations left open by other clients fill the server's table; the
// next trq_remote is served all the same (it is not told "refused").
TEST_F(Remote, IdleConversationsDoNotLockItOut) {
  ASSERT_EQ(serve(), 0);
  std::vector<int> idle;
  for (int i = 0; i < 40; ++i) {
    const int fd = raw_connect();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(send_bytes(fd, frame(DDE_CONNECT, kTopic)));
    idle.push_back(fd);
  }
  // The loop takes a few connects per turn: turns until the table is full.
  int connects = 0;
  for (int turn = 0; turn < 100 && connects < 32; ++turn) {
    settle();
    connects = 0;
    for (const Txn &t : log) connects += t.type == DDE_CONNECT;
  }
  EXPECT_GE(connects, 32);
  const Outcome o = run({"quit"}, dir_.path());
  EXPECT_EQ(o.status, 0) << o.output;
  for (const int fd : idle) close(fd);
}

// A socket folder that is not this user's own is named as the cause; the
// command does not guess that TRQ is not running.
TEST_F(Remote, ASocketFolderNotOursIsNamed) {
  const std::string folder = platform::dde::socket_directory();
  struct Case {
    const char *what;
    std::function<bool()> make;  // false: cannot be made here
    const char *says;
  };
  const Case cases[] = {
      {"a link to a folder", [&] { return symlink(dir_.path().c_str(), folder.c_str()) == 0; }, "(not a folder)"},
      {"another user's folder",
       [&] {
         // Only root can give a folder away.
         return geteuid() == 0 && mkdir(folder.c_str(), 0700) == 0 && chown(folder.c_str(), 4242, 4242) == 0;
       },
       "(it belongs to user 4242)"},
  };
  for (const Case &c : cases) {
    if (!c.make()) {
      std::printf("skipped \"%s\": it cannot be made by user %u\n", c.what, static_cast<unsigned>(geteuid()));
      continue;
    }
    const Outcome o = run({"quit"}, dir_.path());
    EXPECT_EQ(o.status, 6) << c.what;
    EXPECT_NE(o.output.find(folder + " is not a folder of this user " + c.says), std::string::npos)
        << c.what << ": " << o.output;
    EXPECT_EQ(o.output.find("is TRQ running"), std::string::npos) << c.what;
    std::error_code ec;
    std::filesystem::remove(folder, ec);
  }
}

// Mistakes of the caller are found before anything is sent.
TEST_F(Remote, UsageErrors) {
  ASSERT_EQ(serve(), 0);
  dir_.write("notes.txt", "");
  ASSERT_EQ(mkdir(dir_.file("folder.set").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(dir_.file("pipe.set").c_str(), 0600), 0);
  const std::string deep = dir_.path() + "/" + std::string(250, 'd');
  ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  const std::string long_name = deep + "/x.set";
  std::FILE *f = std::fopen(long_name.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{}, "usage: trq_remote"},
      {{"load"}, "usage: trq_remote"},
      {{"quit", "now"}, "usage: trq_remote"},
      {{"stop"}, "usage: trq_remote"},
      {{"--verbose", "quit"}, "usage: trq_remote"},
      {{"--service"}, "usage: trq_remote"},
      {{"--timeout", "0", "quit"}, "--timeout wants seconds"},
      {{"--timeout", "soon", "quit"}, "--timeout wants seconds"},
      {{"load", "missing.set"}, "trq_remote: missing.set: no such file"},
      {{"load", "folder.set"}, "trq_remote: folder.set: is a folder, not a setup file"},
      {{"load", "pipe.set"}, "trq_remote: pipe.set: is a FIFO (named pipe), not a setup file"},
      {{"load", "notes.txt"}, "the program loads setup files (*.set) only"},
      {{"load", long_name}, "longer than 259 characters"},
      {{"--service", "", "quit"}, "trq_remote: invalid argument"},
  };
  for (const Case &c : cases) {
    const Outcome o = run(c.args, dir_.path());
    std::string line;
    for (const std::string &a : c.args) line += a + " ";
    EXPECT_EQ(o.status, 2) << line;
    EXPECT_NE(o.output.find(c.says), std::string::npos) << line << ": " << o.output;
  }
  EXPECT_TRUE(log.empty());
  const Outcome help = run({"--help"}, dir_.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("Exit status"), std::string::npos);
}

}  // namespace
