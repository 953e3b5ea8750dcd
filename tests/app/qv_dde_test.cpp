// The remote-control server's callback on the program's window in emulation:
// which requests it takes, the load of a poked file name and the quit.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/kmv_io_files.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "app/qv_dde.h"
#include "platform/dde/dde.h"
#include "platform/ui/headless.h"
#include "platform/ui/popups.h"
#include "platform/win/progdir.h"
#include "tests/app/ui_app_fixture.h"
#include "tests/dde/dde_fixture.h"

namespace ui = platform::ui::headless;

namespace {

constexpr const char *kTopic = "DDE Data Exchange";
constexpr int kGain = 4;  // gain of connector 1

class DdeServer : public apptest::UiAppFixture {
 protected:
  void SetUp() override {
    UiAppFixture::SetUp();
    setenv("QV_REGISTRY_DIR", reg_.path().c_str(), 1);
    platform::set_program_dir(testsupport::source_path("resources"));
    platform::ui::headless::clear();
    ASSERT_GE(start_emulation(2), 0);
    open_window();
    std::snprintf(data_dir, sizeof data_dir, "%s/", dir_.path().c_str());
    std::snprintf(setup_file_name, sizeof setup_file_name, "%s", dir_.file("trq_auto.set").c_str());
    std::snprintf(auto_set_file, sizeof auto_set_file, "%s", dir_.file("trq_auto.set").c_str());
    std::strcpy(client_fname, "untouched");
    dde_handle = -1;
    server_active = 1;
    done = 0;
  }
  void TearDown() override {
    dde_handle = -1;
    server_active = 0;
    cmd_load_file = 0;
    platform::ui::headless::clear();
    platform::set_program_dir("");
    unsetenv("QV_REGISTRY_DIR");
    UiAppFixture::TearDown();
  }

  static int request(unsigned int handle, int type, const char *item = "", std::string data = {},
                     int format = DDE_TEXT, const char *topic = kTopic) {
    std::string t = topic;
    std::string i = item;
    data.push_back('\0');  // the library's guard, not counted in the size
    return ddeServerCallback(handle, t.data(), i.data(), type, format, static_cast<int>(data.size() - 1), data.data(),
                             nullptr);
  }
  // A setup file whose connector-1 gain of the first module is gain.
  std::string saved(const std::string &name, float gain) {
    const float before = read_float_parameter(0, kGain);
    set_usbmodule_parameter(0, kGain, float_value(gain));
    const std::string path = dir_.file(name);
    EXPECT_EQ(save_usb(path.c_str(), nullptr), 0);
    set_usbmodule_parameter(0, kGain, float_value(before));
    return path;
  }
  float gain() { return read_float_parameter(0, kGain); }

  testsupport::TempDir reg_;
};

TEST_F(DdeServer, TakesRequestsOnlyOnItsConversationAndTopic) {
  struct Case {
    const char *what;
    unsigned int handle;
    int type;
    const char *topic;
    const char *item;
    int format;
    int result;
    int handle_after;
  };
  const Case cases[] = {
      {"connect on another topic", 7, DDE_CONNECT, "System", "", 0, 0, -1},
      {"request before any connect", 7, DDE_REQUESTDATA, kTopic, "File_Name", DDE_TEXT, 0, -1},
      {"connect", 7, DDE_CONNECT, kTopic, "", 0, 1, 7},
      {"poke on another conversation", 8, DDE_DATAREADY, kTopic, "Other", DDE_TEXT, 0, 7},
      {"poke on another topic", 7, DDE_DATAREADY, "System", "Other", DDE_TEXT, 0, 7},
      {"poke not in text format", 7, DDE_DATAREADY, kTopic, "Other", 2, 0, 7},
      {"poke of an unknown item", 7, DDE_DATAREADY, kTopic, "Other", DDE_TEXT, 1, 7},
      {"read", 7, DDE_REQUESTDATA, kTopic, "File_Name", DDE_TEXT, 1, 7},
      {"advise start", 7, DDE_ADVISELOOP, kTopic, "File_Name", DDE_TEXT, 1, 7},
      {"advise stop", 7, DDE_ADVISESTOP, kTopic, "File_Name", DDE_TEXT, 1, 7},
      {"unknown type", 7, 8, kTopic, "File_Name", DDE_TEXT, 0, 7},
      {"type 0", 7, 0, kTopic, "", DDE_TEXT, 0, 7},
      {"disconnect of another conversation", 8, DDE_DISCONNECT, "", "", 0, 0, 7},
      {"disconnect without a topic", 7, DDE_DISCONNECT, "", "", 0, 1, -1},
      {"request after the disconnect", 7, DDE_REQUESTDATA, kTopic, "File_Name", DDE_TEXT, 0, -1},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(request(c.handle, c.type, c.item, "x.set", c.format, c.topic), c.result) << c.what;
    EXPECT_EQ(dde_handle, c.handle_after) << c.what;
  }
  EXPECT_STREQ(client_fname, "untouched");
}

TEST_F(DdeServer, APokedFileNameIsLoadedAndShownInTheColumns) {
  const std::string file = saved("Beam.set", 33.0f);
  ASSERT_EQ(request(3, DDE_CONNECT), 1);
  EXPECT_EQ(request(3, DDE_DATAREADY, "File_Name", file), 1);
  EXPECT_EQ(gain(), 33.0f);
  EXPECT_EQ(fval(conf(), ghv_ctrls[0][0]), 33.0f);
  EXPECT_EQ(client_fname, file);
  EXPECT_EQ(cmd_load_file, 0);
  EXPECT_EQ(error_log(), "");
}

TEST_F(DdeServer, ASecondClientReplacesTheFirstConversation) {
  const std::string file = saved("Beam.set", 21.0f);
  ASSERT_EQ(request(1, DDE_CONNECT), 1);
  ASSERT_EQ(request(2, DDE_CONNECT), 1);
  EXPECT_EQ(dde_handle, 2);
  EXPECT_EQ(request(1, DDE_DATAREADY, "File_Name", file), 0);
  EXPECT_EQ(gain(), 0.0f);
  EXPECT_STREQ(client_fname, "untouched");
  EXPECT_EQ(request(1, DDE_DISCONNECT), 0);  // the first one leaving ends nothing
  EXPECT_EQ(dde_handle, 2);
  EXPECT_EQ(request(2, DDE_DATAREADY, "File_Name", file), 1);
  EXPECT_EQ(gain(), 21.0f);
}

TEST_F(DdeServer, DataEndChangesNothing) {
  saved("trq_auto.set", 12.0f);  // what a load would bring
  ASSERT_EQ(request(4, DDE_CONNECT), 1);
  EXPECT_EQ(request(4, DDE_DATAREADY, "Data_End", dir_.file("trq_auto.set")), 1);
  EXPECT_EQ(gain(), 0.0f);
  EXPECT_STREQ(client_fname, "untouched");
  EXPECT_TRUE(platform::ui::headless::shown().empty());
}

TEST_F(DdeServer, TheNameIsTakenUpToItsEndAndCutToFit) {
  const std::string long_name = "/" + std::string(290, 'd') + "/a.set";
  struct Case {
    const char *what;
    std::string poked;
    std::string kept;
  } const cases[] = {
      {"a name longer than 259 characters", long_name, long_name.substr(0, 259)},
      {"a name sent with its NUL", std::string("/tmp/a.set\0", 11), "/tmp/a.set"},
      {"text after a NUL", std::string("/tmp/a.set\0junk", 15), "/tmp/a.set"},
      {"nothing", "", ""},
  };
  ASSERT_EQ(request(5, DDE_CONNECT), 1);
  for (const Case &c : cases) {
    EXPECT_EQ(request(5, DDE_DATAREADY, "File_Name", c.poked), 1) << c.what;
    EXPECT_EQ(client_fname, c.kept) << c.what;
  }
  EXPECT_EQ(gain(), 0.0f);  // none of them names a file that exists
}

// The quit popup shows only for "Quit" while the server is registered. Nobody
// answers a popup here, which would quit as its default: an ignored command
// leaves done at 0; the one that asks is cancelled, and the program runs on.
TEST_F(DdeServer, OnlyQuitOpensTheQuitConfirmation) {
  ASSERT_EQ(request(6, DDE_CONNECT), 1);
  for (const char *command : {"quit", "QUIT", "Quit ", "Quit\n", ""}) {
    EXPECT_EQ(request(6, DDE_EXECUTE, command), 1) << command;
    EXPECT_EQ(done, 0) << "\"" << command << "\"";
  }
  server_active = 0;
  EXPECT_EQ(request(6, DDE_EXECUTE, "Quit"), 1);
  EXPECT_EQ(done, 0) << "without a registered server";

  server_active = 1;
  int asked = 0;
  ui::later([&] {
    asked = GetActivePanel();
    ui::click(asked, QUIT_CANCEL);
  });
  EXPECT_EQ(request(6, DDE_EXECUTE, "Quit"), 1);
  EXPECT_GT(asked, 0);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(ui::pending_actions(), 0u);
}

// On the real service: a client another one has taken over is the first to
// make room when all 32 places are taken, before sockets still in their
// handshake.
using DdeServerRoom = ddetest::DdeTest;

TEST_F(DdeServerRoom, AConversationTakenOverMakesRoomFirst) {
  dde_handle = -1;
  ASSERT_EQ(RegisterDDEServer(ddetest::kService, ddeServerCallback, nullptr), 0);
  int taken_over = 0, newcomer = -1, after = 0;
  with_client([&] {
    int a = -1, b = -1, d = -1;
    ConnectToDDEServer(&a, ddetest::kService, kTopic, nullptr, nullptr);
    ConnectToDDEServer(&b, ddetest::kService, kTopic, nullptr, nullptr);  // takes over from a
    taken_over = ClientDDEWrite(a, "Other", DDE_TEXT, "x", 1, 3000);  // a is the latest to speak
    std::vector<int> silent;  // 30 sockets that never say a word
    for (int i = 0; i < 30; ++i) silent.push_back(ddetest::raw_connect());
    newcomer = ConnectToDDEServer(&d, ddetest::kService, kTopic, nullptr, nullptr);
    after = ClientDDEWrite(a, "Other", DDE_TEXT, "x", 1, 3000);
    for (const int fd : silent) close(fd);
    DisconnectFromDDEServer(b);
    DisconnectFromDDEServer(d);
  });
  UnregisterDDEServer(ddetest::kService);
  dde_handle = -1;
  EXPECT_EQ(taken_over, DDE_ERR_REFUSED);
  EXPECT_EQ(newcomer, 0);
  EXPECT_EQ(after, DDE_ERR_CONVERSATION_ENDED);  // it made the room, not a silent socket
}

}  // namespace
