// The socket folder is reached only through what was checked: another
// program that swaps it for a link to another folder, over and over, never
// gets the server's lock or socket into that folder, nor a client's
// conversation onto a socket there.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <filesystem>
#include <set>

#include "tests/dde/dde_fixture.h"

using namespace ddetest;

namespace {

using testsupport::names_in;

class DdeFolderSwap : public DdeTest {
 protected:
  void SetUp() override {
    DdeTest::SetUp();
    run_ = dir_.path();
    own_ = run_ + "/qv-dde";
    theirs_ = run_ + "/theirs";
    link_ = run_ + "/qv-dde.swap";
    // The runtime folder is open to the swapper; the other folder passes
    // every check the user's own does: only the link tells them apart.
    ASSERT_EQ(chmod(run_.c_str(), 0777), 0);
    ASSERT_EQ(mkdir(own_.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(theirs_.c_str(), 0700), 0);
    ASSERT_EQ(symlink(theirs_.c_str(), link_.c_str()), 0);
    // A listener in the other folder where the service's socket would be.
    decoy_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    (theirs_ + "/kmv-usb.sock").copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(decoy_, reinterpret_cast<const sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(decoy_, 64), 0);
    their_names_ = names_in(theirs_);
    own_fd_ = open(own_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(own_fd_, 0);
  }
  void TearDown() override {
    stop_swapper();
    if (decoy_ >= 0) close(decoy_);
    if (own_fd_ >= 0) close(own_fd_);
    DdeTest::TearDown();
  }

  // Swaps the folder and the link until stopped, as another user where
  // this test may be one.
  void start_swapper() {
    swapper_ = testsupport::start_folder_swapper(own_, link_);
    ASSERT_GT(swapper_, 0);
  }
  void stop_swapper() {
    testsupport::stop_folder_swapper(swapper_);
    swapper_ = -1;
  }
  // Whether anything connected to the listener in the other folder.
  bool decoy_reached() const {
    const int fd = accept4(decoy_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
  }
  // Enough rounds that the folder checked by its name took the other one every time tried.
  static bool more(int rounds, int used, int refused) {
    return (rounds < 300 || used < 20 || refused < 20) && rounds < 20000;
  }

  std::string run_, own_, theirs_, link_;
  std::set<std::string> their_names_;
  int decoy_ = -1;
  int own_fd_ = -1;
  pid_t swapper_ = -1;
};

TEST_F(DdeFolderSwap, AServerNeverLocksOrListensInTheOtherFolder) {
  start_swapper();
  int rounds = 0, used = 0, refused = 0, elsewhere = 0, other = 0;
  while (more(rounds, used, refused)) {
    ++rounds;
    const int r = RegisterDDEServer(kService, &DdeTest::callback, this);
    if (r == 0) {
      ++used;
      struct stat st{};
      if (fstatat(own_fd_, "kmv-usb.sock", &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(st.st_mode)) ++elsewhere;
      UnregisterDDEServer(kService);
    } else if (r == DDE_ERR_UNSAFE_DIRECTORY) {
      ++refused;
    } else {
      ++other;
      if (other == 1) ADD_FAILURE() << r << ": " << platform::dde::last_error_detail();
    }
    if (names_in(theirs_) != their_names_) break;
  }
  stop_swapper();
  std::printf("%d rounds: %d served, %d refused while the link stood\n", rounds, used, refused);
  EXPECT_EQ(names_in(theirs_), their_names_) << "files made or removed in the other folder";
  EXPECT_EQ(elsewhere, 0) << "served with no socket in the user's folder";
  EXPECT_EQ(other, 0);
  EXPECT_GT(used, 0);
  EXPECT_GT(refused, 0) << "the swap never came between check and use";
}

TEST_F(DdeFolderSwap, AClientNeverConnectsInTheOtherFolder) {
  ASSERT_EQ(serve(), 0);
  // A conversation caught by the silent listener fails in this time, not in the usual one.
  platform::dde::set_connect_timeout(2000);
  start_swapper();
  int rounds = 0, used = 0, refused = 0, other = 0, last = 0;
  with_client([&] {
    while (more(rounds, used, refused)) {
      ++rounds;
      int h = -1;
      const int r = ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr);
      if (r == 0) {
        ++used;
        DisconnectFromDDEServer(static_cast<unsigned int>(h));
      } else if (r == DDE_ERR_UNSAFE_DIRECTORY) {
        ++refused;
      } else {
        ++other;
        last = r;
        break;
      }
    }
  });
  stop_swapper();
  std::printf("%d rounds: %d conversations, %d refused while the link stood\n", rounds, used, refused);
  EXPECT_FALSE(decoy_reached()) << "a client connected to the socket in the other folder";
  EXPECT_EQ(other, 0) << "last: " << last << " " << platform::dde::error_text(last);
  EXPECT_GT(used, 0);
  EXPECT_GT(refused, 0) << "the swap never came between check and use";
  EXPECT_EQ(names_in(theirs_), their_names_);
}

}  // namespace

namespace {

// Both roads to a socket serve: through the checked folder's descriptor, and
// by the path where /proc is not there; neither moves the working folder.
TEST_F(DdeTest, BothRoadsToTheSocketServeAndTheWorkingFolderStays) {
  char before[4096], after[4096];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  for (const bool descriptor_paths : {true, false}) {
    platform::dde::detail::set_descriptor_paths(descriptor_paths);
    ASSERT_EQ(serve(), 0) << descriptor_paths;
    int r = -1;
    with_client([&] {
      int h = -1;
      r = ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr);
      if (r == 0) r = ClientDDEWrite(static_cast<unsigned int>(h), "File_Name", DDE_TEXT, "x", 1, 3000);
      if (h > 0) DisconnectFromDDEServer(static_cast<unsigned int>(h));
    });
    EXPECT_EQ(r, 0) << descriptor_paths;
    struct stat st{};
    EXPECT_EQ(lstat(platform::dde::socket_path(kService).c_str(), &st), 0) << descriptor_paths;
    EXPECT_TRUE(S_ISSOCK(st.st_mode)) << descriptor_paths;
    ASSERT_NE(getcwd(after, sizeof after), nullptr);
    EXPECT_STREQ(after, before) << descriptor_paths;
    ASSERT_EQ(UnregisterDDEServer(kService), 0);
  }
  platform::dde::detail::set_descriptor_paths(true);
}

}  // namespace
