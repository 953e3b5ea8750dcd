// Client and server of the DDE library end to end: the server on the headless
// loop of this thread, the client on a second thread.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cstring>

#include "tests/dde/dde_fixture.h"

using namespace ddetest;

namespace {

TEST_F(DdeTest, ConversationCarriesPokeReadExecuteAndDisconnect) {
  ASSERT_EQ(serve(), 0);
  on_txn = [](const Txn &t, char *data, int size) {
    if (t.type == DDE_REQUESTDATA && size >= 5) std::memcpy(data, "ready", 5);
    return 1;
  };
  int h = -1;
  int results[6] = {};
  char got[16] = {};
  with_client([&] {
    results[0] = ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr);
    results[1] = ClientDDEWrite(h, "File_Name", DDE_TEXT, "/data/a.set", 11, 20000);
    results[2] = ClientDDERead(h, "Svr_Space", DDE_TEXT, got, sizeof got, 10000);
    results[3] = ClientDDEExecute(h, "Quit", 20000);
    results[4] = DisconnectFromDDEServer(h);
    results[5] = ClientDDEWrite(h, "File_Name", DDE_TEXT, "x", 1, 1000);  // after the disconnect
  });
  EXPECT_EQ(results[0], 0);
  EXPECT_GT(h, 0);
  EXPECT_EQ(results[1], 0);
  EXPECT_EQ(results[2], 5);
  EXPECT_STREQ(got, "ready");
  EXPECT_EQ(results[3], 0);
  EXPECT_EQ(results[4], 0);
  EXPECT_EQ(results[5], DDE_ERR_BAD_CONVERSATION);
  settle();
  ASSERT_EQ(log.size(), 5u);
  const unsigned int s = log[0].handle;
  const std::vector<Txn> want = {
      {s, kTopic, "", DDE_CONNECT, 0, ""},
      {s, kTopic, "File_Name", DDE_DATAREADY, DDE_TEXT, "/data/a.set"},
      {s, kTopic, "Svr_Space", DDE_REQUESTDATA, DDE_TEXT, ""},
      {s, kTopic, "Quit", DDE_EXECUTE, DDE_TEXT, ""},
      {s, kTopic, "", DDE_DISCONNECT, 0, ""},
  };
  EXPECT_EQ(log, want);
}

// What the callback refuses comes back as refused; the conversation goes on.
TEST_F(DdeTest, RefusalsReachTheClient) {
  ASSERT_EQ(serve(), 0);
  on_txn = [](const Txn &t, char *, int) {
    if (t.type == DDE_CONNECT) return t.topic == kTopic ? 1 : 0;
    if (t.type == DDE_DATAREADY) return t.format == DDE_TEXT ? 1 : 0;
    if (t.type == DDE_EXECUTE) return t.item == "Quit" ? 1 : 0;
    return 0;
  };
  int other = -1, h = -1;
  int r[6] = {};
  char buf[8] = {};
  with_client([&] {
    r[0] = ConnectToDDEServer(&other, kService, "Another Topic", nullptr, nullptr);
    r[1] = ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr);
    r[2] = ClientDDEWrite(h, "File_Name", 2, "abc", 3, 5000);
    r[3] = ClientDDEExecute(h, "quit", 5000);
    r[4] = ClientDDERead(h, "Svr_Space", DDE_TEXT, buf, sizeof buf, 5000);
    r[5] = ClientDDEExecute(h, "Quit", 5000);
    DisconnectFromDDEServer(h);
  });
  EXPECT_EQ(r[0], DDE_ERR_REFUSED);
  EXPECT_EQ(other, -1);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(r[2], DDE_ERR_REFUSED);
  EXPECT_EQ(r[3], DDE_ERR_REFUSED);
  EXPECT_EQ(r[4], DDE_ERR_REFUSED);
  EXPECT_EQ(r[5], 0);
}

// Each conversation has its own handle; two at once, one ending alone.
TEST_F(DdeTest, ConversationsKeepTheirOwnHandles) {
  ASSERT_EQ(serve(), 0);
  int a = -1, b = -1;
  with_client([&] {
    ConnectToDDEServer(&a, kService, kTopic, nullptr, nullptr);
    ConnectToDDEServer(&b, kService, kTopic, nullptr, nullptr);
    ClientDDEWrite(b, "File_Name", DDE_TEXT, "b", 1, 5000);
    DisconnectFromDDEServer(a);
    ClientDDEWrite(b, "File_Name", DDE_TEXT, "b2", 2, 5000);
    DisconnectFromDDEServer(b);
  });
  settle();
  ASSERT_EQ(types(), (std::vector<int>{DDE_CONNECT, DDE_CONNECT, DDE_DATAREADY, DDE_DISCONNECT, DDE_DATAREADY,
                                       DDE_DISCONNECT}));
  EXPECT_NE(log[0].handle, log[1].handle);
  EXPECT_EQ(log[2].handle, log[1].handle);
  EXPECT_EQ(log[3].handle, log[0].handle);
  EXPECT_EQ(log[4].handle, log[1].handle);
  EXPECT_EQ(log[5].handle, log[1].handle);
}

TEST_F(DdeTest, ServiceNamesIgnoreCaseAndEscapeTheirCharacters) {
  ASSERT_EQ(serve("KMV-USB"), 0);
  ASSERT_EQ(serve("Odd/Name ..x"), 0);
  EXPECT_EQ(platform::dde::socket_path("kmv-usb"), platform::dde::socket_path("KMV-USB"));
  const std::string odd = platform::dde::socket_path("Odd/Name ..x");
  EXPECT_EQ(odd.substr(odd.rfind('/')), "/odd%2Fname%20%2E%2Ex.sock");
  int r[2] = {};
  with_client([&] {
    int h = -1;
    r[0] = ConnectToDDEServer(&h, "kmv-usb", kTopic, nullptr, nullptr);
    DisconnectFromDDEServer(h);
    r[1] = ConnectToDDEServer(&h, "odd/name ..X", kTopic, nullptr, nullptr);
    DisconnectFromDDEServer(h);
  });
  EXPECT_EQ(r[0], 0);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(serve("kmv-usb"), DDE_ERR_SERVICE_TAKEN);  // the same service in this program
}

TEST_F(DdeTest, BadArgumentsAndMissingServers) {
  int h = -1;
  char buf[4];
  const std::string long_name(DDE_MAX_NAME + 1, 'n');
  struct Case {
    const char *what;
    int result;
    int want;
  };
  const Case cases[] = {
      {"no server", ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr), DDE_ERR_NO_SERVER},
      {"no handle", ConnectToDDEServer(nullptr, kService, kTopic, nullptr, nullptr), DDE_ERR_BAD_ARGUMENT},
      {"empty service", ConnectToDDEServer(&h, "", kTopic, nullptr, nullptr), DDE_ERR_BAD_ARGUMENT},
      {"long service", ConnectToDDEServer(&h, long_name.c_str(), kTopic, nullptr, nullptr), DDE_ERR_BAD_ARGUMENT},
      {"long topic", ConnectToDDEServer(&h, kService, long_name.c_str(), nullptr, nullptr), DDE_ERR_BAD_ARGUMENT},
      {"write, no conversation", ClientDDEWrite(77, "File_Name", DDE_TEXT, "a", 1, 100), DDE_ERR_BAD_CONVERSATION},
      {"read, no conversation", ClientDDERead(77, "x", DDE_TEXT, buf, 4, 100), DDE_ERR_BAD_CONVERSATION},
      {"execute, no conversation", ClientDDEExecute(77, "Quit", 100), DDE_ERR_BAD_CONVERSATION},
      {"disconnect, no conversation", DisconnectFromDDEServer(77), DDE_ERR_BAD_CONVERSATION},
      {"read without time", ClientDDERead(77, "x", DDE_TEXT, buf, 4, 0), DDE_ERR_BAD_ARGUMENT},
      {"write, 1 MiB", ClientDDEWrite(77, "x", DDE_TEXT, long_name.c_str(), 1u << 20, 100), DDE_ERR_TOO_LARGE},
      {"register, no callback", RegisterDDEServer(kService, nullptr, nullptr), DDE_ERR_BAD_ARGUMENT},
      {"unregister, not registered", UnregisterDDEServer(kService), DDE_ERR_NOT_REGISTERED},
  };
  for (const Case &c : cases) EXPECT_EQ(c.result, c.want) << c.what;
  EXPECT_EQ(h, -1);
}

TEST_F(DdeTest, FolderAndSocketAreTheUsersOnly) {
  ASSERT_EQ(serve(), 0);
  struct stat dir{}, sock{};
  ASSERT_EQ(stat(platform::dde::socket_directory().c_str(), &dir), 0);
  ASSERT_EQ(stat(platform::dde::socket_path(kService).c_str(), &sock), 0);
  EXPECT_EQ(dir.st_mode & 0777, 0700u);
  EXPECT_EQ(sock.st_mode & 0777, 0600u);
  EXPECT_TRUE(S_ISSOCK(sock.st_mode));
  EXPECT_EQ(platform::dde::socket_directory(), dir_.path() + "/qv-dde");
  // A folder opened to others is closed again; the socket goes with the server.
  ASSERT_EQ(UnregisterDDEServer(kService), 0);
  EXPECT_NE(access(platform::dde::socket_path(kService).c_str(), F_OK), 0);
  chmod(platform::dde::socket_directory().c_str(), 0755);
  ASSERT_EQ(serve(), 0);
  ASSERT_EQ(stat(platform::dde::socket_directory().c_str(), &dir), 0);
  EXPECT_EQ(dir.st_mode & 0777, 0700u);
}

TEST_F(DdeTest, FolderFallsBackWithoutARuntimeFolder) {
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(platform::dde::socket_directory(), "/tmp/qv-dde-" + std::to_string(geteuid()));
  setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
  EXPECT_EQ(platform::dde::socket_directory(), "/tmp/qv-dde-" + std::to_string(geteuid()));
  // A folder of that name that is not ours (here: a link) is not used.
  setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
  ASSERT_EQ(symlink("/tmp", (dir_.path() + "/qv-dde").c_str()), 0);
  EXPECT_EQ(serve(), DDE_ERR_UNSAFE_DIRECTORY);
  EXPECT_NE(platform::dde::last_error_detail().find("qv-dde"), std::string::npos);
}

// Another user's program is refused by the server before its callback hears
// anything, and a client does not talk to another user's server. (The
// library is made to believe it runs for another user.)
TEST_F(DdeTest, AnotherUserIsRefused) {
  ASSERT_EQ(serve(), 0);
  platform::dde::detail::set_owner_uid(geteuid() + 1);
  bool closed = false;
  int r = 0;
  with_client([&] {
    const int fd = raw_connect();
    send_bytes(fd, frame(DDE_CONNECT, kTopic));
    closed = closed_by_server(fd);
    close(fd);
    int h = -1;
    r = ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr);
  });
  EXPECT_TRUE(closed);
  EXPECT_EQ(r, DDE_ERR_FOREIGN_SERVER);
  EXPECT_TRUE(log.empty());
}

// A server that dies leaves its socket behind: the next one takes its place.
// While one runs, a second program is refused and told who serves.
TEST_F(DdeTest, SecondServerRefusedAndStaleSocketReplaced) {
  int up[2];
  ASSERT_EQ(pipe(up), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int r = RegisterDDEServer(kService, [](unsigned, char *, char *, int, int, int, void *, void *) { return 1; },
                                    nullptr);
    (void)!write(up[1], r == 0 ? "y" : "n", 1);
    pause();  // killed by the test, leaving its socket
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(up[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(serve(), DDE_ERR_SERVICE_TAKEN);
  EXPECT_NE(platform::dde::last_error_detail().find("process " + std::to_string(child)), std::string::npos)
      << platform::dde::last_error_detail();
  EXPECT_STREQ(platform::dde::error_text(DDE_ERR_SERVICE_TAKEN), "another program already serves this service");
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(up[0]);
  close(up[1]);
  ASSERT_EQ(access(platform::dde::socket_path(kService).c_str(), F_OK), 0);  // left behind
  ASSERT_EQ(serve(), 0);
  int r = -1;
  with_client([&] {
    int h = -1;
    r = ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr);
    DisconnectFromDDEServer(h);
  });
  EXPECT_EQ(r, 0);
}

// A request arriving while a callback runs a modal loop (a dialog, a load)
// waits until that callback has returned.
TEST_F(DdeTest, RequestsWaitWhileACallbackRuns) {
  ASSERT_EQ(serve(), 0);
  std::atomic<bool> second_sent{false};
  bool busy = false;
  std::vector<std::string> order;
  on_txn = [&](const Txn &t, char *, int) {
    if (t.type != DDE_DATAREADY) return 1;
    order.push_back(t.data + (busy ? " inside" : ""));
    if (t.data == "slow") {
      busy = true;
      // The dialog's own loop runs on while the second request comes in.
      while (!second_sent) ProcessSystemEvents();
      for (int i = 0; i < 20; ++i) {
        ProcessSystemEvents();
        poll(nullptr, 0, 5);
      }
      busy = false;
      order.push_back("slow ends");
    }
    return 1;
  };
  int r[2] = {-1, -1};
  with_client([&] {
    int a = -1, b = -1;
    ConnectToDDEServer(&a, kService, kTopic, nullptr, nullptr);
    ConnectToDDEServer(&b, kService, kTopic, nullptr, nullptr);
    r[0] = ClientDDEWrite(a, "File_Name", DDE_TEXT, "slow", 4, 0);  // not waited for
    poll(nullptr, 0, 50);
    second_sent = true;
    r[1] = ClientDDEWrite(b, "File_Name", DDE_TEXT, "second", 6, 10000);
    DisconnectFromDDEServer(a);
    DisconnectFromDDEServer(b);
  });
  EXPECT_EQ(r[0], 0);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(order, (std::vector<std::string>{"slow", "slow ends", "second"}));
}

// A conversation the server ends is gone for the client too, whose callback
// hears the disconnect.
TEST_F(DdeTest, ServerGoingAwayEndsTheClientsConversation) {
  ASSERT_EQ(serve(), 0);
  static std::vector<int> heard;
  heard.clear();
  const DDEFuncPtr client_cb = [](unsigned, char *, char *, int type, int, int, void *, void *) {
    heard.push_back(type);
    return 1;
  };
  int h = -1;
  ASSERT_EQ((with_client([&] { ConnectToDDEServer(&h, kService, kTopic, client_cb, nullptr); }), h > 0), true);
  ASSERT_EQ(UnregisterDDEServer(kService), 0);
  EXPECT_EQ(ClientDDEWrite(h, "File_Name", DDE_TEXT, "a", 1, 2000), DDE_ERR_CONVERSATION_ENDED);
  EXPECT_EQ(heard, std::vector<int>{DDE_DISCONNECT});
  EXPECT_EQ(ClientDDEWrite(h, "File_Name", DDE_TEXT, "a", 1, 2000), DDE_ERR_BAD_CONVERSATION);
}

// An answer that does not come in time is a time-out; a late answer does not
// pass for the answer of the next request.
TEST_F(DdeTest, TimeOutAndLateAnswer) {
  ASSERT_EQ(serve(), 0);
  on_txn = [](const Txn &t, char *, int) {
    if (t.data == "slow") poll(nullptr, 0, 400);  // a dialog the operator answers late
    return t.data == "refuse" ? 0 : 1;
  };
  int r[3] = {};
  with_client([&] {
    int h = -1;
    ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr);
    r[0] = ClientDDEWrite(h, "File_Name", DDE_TEXT, "slow", 4, 100);
    r[1] = ClientDDEWrite(h, "File_Name", DDE_TEXT, "refuse", 6, 5000);
    r[2] = ClientDDEWrite(h, "File_Name", DDE_TEXT, "fine", 4, 5000);
    DisconnectFromDDEServer(h);
  });
  EXPECT_EQ(r[0], DDE_ERR_TIMEOUT);
  EXPECT_EQ(r[1], DDE_ERR_REFUSED);  // not the late "accepted" of "slow"
  EXPECT_EQ(r[2], 0);
}

}  // namespace
