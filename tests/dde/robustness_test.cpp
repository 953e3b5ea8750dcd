// What may arrive on a service socket: silence, half frames, oversized and
// malformed frames, junk, bursts. None may stall the loop, crash, or reach
// the callback as a transaction; a good client gets through all the while.
#include <cstring>
#include <map>
#include <random>

#include "tests/dde/dde_fixture.h"

using namespace ddetest;

namespace {

using DdeRobustness = DdeTest;

// A well-behaved client's poke, with a short time-out: served means the loop ran.
int good_poke(const char *text) {
  int h = -1;
  if (const int r = ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr); r != 0) return r;
  const int r = ClientDDEWrite(h, "File_Name", DDE_TEXT, text, std::strlen(text), 3000);
  DisconnectFromDDEServer(h);
  return r;
}

// The transactions of the good client only.
std::vector<std::string> pokes(const std::vector<Txn> &log) {
  std::vector<std::string> out;
  for (const Txn &t : log)
    if (t.type == DDE_DATAREADY) out.push_back(t.data);
  return out;
}

TEST_F(DdeRobustness, SilenceAndHalfFramesDoNotHoldTheLoop) {
  ASSERT_EQ(serve(), 0);
  int r[3] = {-1, -1, -1};
  bool closed = false;
  with_client([&] {
    const int silent = raw_connect();
    r[0] = good_poke("after silence");
    const int half = raw_connect();
    const auto f = frame(DDE_CONNECT, kTopic);
    send(half, f.data(), 10, MSG_NOSIGNAL);  // ten bytes of a header, then nothing
    r[1] = good_poke("after half a header");
    // A connected conversation that stops in the middle of a poke.
    const int cut = raw_connect();
    send_bytes(cut, frame(DDE_CONNECT, kTopic));
    const auto poke = frame(DDE_DATAREADY, "File_Name", "/never/arrives.set");
    send(cut, poke.data(), poke.size() - 5, MSG_NOSIGNAL);
    r[2] = good_poke("after half a poke");
    close(cut);  // the rest never comes
    close(half);
    closed = closed_by_server(silent, 50) == false;  // the silent one is still open
    close(silent);
  });
  EXPECT_EQ(r[0], 0);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(r[2], 0);
  EXPECT_TRUE(closed);
  settle();
  EXPECT_EQ(pokes(log), (std::vector<std::string>{"after silence", "after half a header", "after half a poke"}));
  // The cut conversation was connected and ends with a disconnect, nothing else.
  int connects = 0, disconnects = 0;
  for (const Txn &t : log) connects += t.type == DDE_CONNECT, disconnects += t.type == DDE_DISCONNECT;
  EXPECT_EQ(connects, 4);
  EXPECT_EQ(disconnects, 4);
}

// Frames the server must not take, each after a good connect: the
// conversation is closed, the callback hears the disconnect and nothing else.
TEST_F(DdeRobustness, MalformedFramesEndTheConversation) {
  ASSERT_EQ(serve(), 0);
  auto with_header = [](auto change) {
    platform::dde::wire::Header h;
    h.kind = DDE_DATAREADY;
    h.format = DDE_TEXT;
    change(h);
    std::vector<std::uint8_t> b(sizeof h);
    std::memcpy(b.data(), &h, sizeof h);
    return b;
  };
  std::vector<std::uint8_t> oversized = with_header([](auto &h) { h.data_len = 1u << 20; });
  oversized.resize(oversized.size() + (1u << 20), 'A');  // 1 MiB of data behind it
  std::vector<std::uint8_t> junk(4096);
  std::mt19937 rng(14);
  for (auto &b : junk) b = static_cast<std::uint8_t>(rng());
  std::vector<std::uint8_t> nul_in_item = frame(DDE_DATAREADY, std::string_view("File\0Name", 9), "x");
  struct Case {
    const char *what;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"1 MiB poke", oversized},
      {"junk", junk},
      {"NUL inside the item", nul_in_item},
      {"second connect", frame(DDE_CONNECT, kTopic)},
      {"unknown type", frame(9, "File_Name")},
      {"execute with an item", frame(DDE_EXECUTE, "Quit", "Quit")},
      {"unknown flag", with_header([](auto &h) { h.flags = 0x40; })},
      {"bad magic", with_header([](auto &h) { h.magic = 0x12345678; })},
      {"long item", with_header([](auto &h) { h.item_len = DDE_MAX_NAME + 1; })},
      {"read of 1 MiB", with_header([](auto &h) { h.kind = DDE_REQUESTDATA, h.value = 1 << 20; })},
      {"connect with data", with_header([](auto &h) { h.kind = DDE_DISCONNECT, h.data_len = 1; })},
  };
  for (const Case &c : cases) {
    log.clear();
    bool closed = false;
    int good = -1;
    with_client([&] {
      const int fd = raw_connect();
      send_bytes(fd, frame(DDE_CONNECT, kTopic));
      send(fd, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL);  // may fail half-way once the server hung up
      closed = closed_by_server(fd);
      close(fd);
      good = good_poke("good");
    });
    EXPECT_TRUE(closed) << c.what;
    EXPECT_EQ(good, 0) << c.what;
    settle();
    EXPECT_EQ(types(), (std::vector<int>{DDE_CONNECT, DDE_DISCONNECT, DDE_CONNECT, DDE_DATAREADY, DDE_DISCONNECT}))
        << c.what;
  }
}

// Before its connect a socket has no conversation: whatever it sends first,
// if not a connect, closes it without a word to the callback.
TEST_F(DdeRobustness, NothingButAConnectOpensAConversation) {
  ASSERT_EQ(serve(), 0);
  std::vector<std::uint8_t> junk(1000, 0xFF);
  const std::vector<std::uint8_t> firsts[] = {frame(DDE_DATAREADY, "File_Name", "/a.set"),
                                              frame(DDE_EXECUTE, {}, "Quit"), frame(DDE_DISCONNECT), junk};
  int closed = 0;
  with_client([&] {
    for (const auto &bytes : firsts) {
      const int fd = raw_connect();
      send_bytes(fd, bytes);
      closed += closed_by_server(fd);
      close(fd);
    }
  });
  EXPECT_EQ(closed, 4);
  EXPECT_TRUE(log.empty());
}

TEST_F(DdeRobustness, BurstOfConnectsAndDisconnects) {
  ASSERT_EQ(serve(), 0);
  int failures = 0, good = -1;
  with_client([&] {
    for (int i = 0; i < 100; ++i) {
      int h = -1;
      failures += ConnectToDDEServer(&h, kService, kTopic, nullptr, nullptr) != 0;
      failures += DisconnectFromDDEServer(h) != 0;
      close(raw_connect());  // a socket that goes at once
      const int fd = raw_connect();  // a connect nobody waits to hear answered
      send_bytes(fd, frame(DDE_CONNECT, kTopic));
      close(fd);
    }
    good = good_poke("after the burst");
  });
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(good, 0);
  settle();
  // Every conversation that was opened was closed once, on its own handle.
  std::map<unsigned int, int> open;
  for (const Txn &t : log) {
    if (t.type == DDE_CONNECT) {
      EXPECT_EQ(open[t.handle]++, 0);
    } else if (t.type == DDE_DISCONNECT) {
      EXPECT_EQ(open[t.handle]--, 1);
    }
  }
  EXPECT_EQ(open.size(), 201u);
  for (const auto &[h, n] : open) EXPECT_EQ(n, 0) << h;
  EXPECT_EQ(pokes(log), std::vector<std::string>{"after the burst"});
}

// Idle sockets beyond the server's room give way to a client that speaks.
TEST_F(DdeRobustness, IdleSocketsDoNotLockOutAClient) {
  ASSERT_EQ(serve(), 0);
  int good = -1;
  with_client([&] {
    std::vector<int> idle;
    for (int i = 0; i < 60; ++i) idle.push_back(raw_connect());
    good = good_poke("still room");
    for (int fd : idle) close(fd);
  });
  EXPECT_EQ(good, 0);
  EXPECT_EQ(pokes(log), std::vector<std::string>{"still room"});
}

// A full table of conversations (32) makes room for a new client: first a
// conversation the program let go, then the one idle longest.
TEST_F(DdeRobustness, AFullServiceFreesLetGoThenLongestIdleConversations) {
  ASSERT_EQ(serve(), 0);
  constexpr int kRoom = 32;
  std::vector<unsigned int> accepted;  // server-side handles in connect order
  on_txn = [&](const Txn &t, char *, int) {
    if (t.type == DDE_CONNECT) {
      accepted.push_back(t.handle);
      // The program lets the sixth go once the table is full.
      if (accepted.size() == kRoom) platform::dde::release_conversation(accepted[5]);
    }
    return 1;
  };
  int h[kRoom] = {};
  int opened = 0, newcomer = -1, late = -1;
  int let_go = 0, idle = 0, first = -1, third = -1, newest = -1, last = -1;
  with_client([&] {
    for (int &c : h) opened += ConnectToDDEServer(&c, kService, kTopic, nullptr, nullptr) == 0;
    // The first speaks again: the second is now idle longest.
    first = ClientDDEWrite(h[0], "File_Name", DDE_TEXT, "a", 1, 3000);
    int x = -1, y = -1;
    newcomer = ConnectToDDEServer(&x, kService, kTopic, nullptr, nullptr);
    let_go = ClientDDEWrite(h[5], "File_Name", DDE_TEXT, "b", 1, 3000);
    late = ConnectToDDEServer(&y, kService, kTopic, nullptr, nullptr);
    idle = ClientDDEWrite(h[1], "File_Name", DDE_TEXT, "c", 1, 3000);
    third = ClientDDEWrite(h[2], "File_Name", DDE_TEXT, "d", 1, 3000);
    newest = ClientDDEWrite(x, "File_Name", DDE_TEXT, "e", 1, 3000);
    last = ClientDDEWrite(y, "File_Name", DDE_TEXT, "f", 1, 3000);
    for (int c : h) DisconnectFromDDEServer(c);
    DisconnectFromDDEServer(x);
    DisconnectFromDDEServer(y);
  });
  EXPECT_EQ(opened, kRoom);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(newcomer, 0);
  EXPECT_EQ(let_go, DDE_ERR_CONVERSATION_ENDED);  // the one let go made room
  EXPECT_EQ(late, 0);
  EXPECT_EQ(idle, DDE_ERR_CONVERSATION_ENDED);  // then the one idle longest
  EXPECT_EQ(third, 0);
  EXPECT_EQ(newest, 0);
  EXPECT_EQ(last, 0);
  settle();
  // The callback heard each closed conversation end, once.
  std::map<unsigned int, int> ends;
  for (const Txn &t : log)
    if (t.type == DDE_DISCONNECT) ++ends[t.handle];
  ASSERT_GE(accepted.size(), 2u);
  EXPECT_EQ(ends[accepted[5]], 1);
  EXPECT_EQ(ends[accepted[1]], 1);
}

}  // namespace
