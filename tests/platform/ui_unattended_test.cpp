// The program without an operator: the loop on the real clock, popups that
// take their defaults, and SIGINT/SIGTERM as an orderly quit.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <string>

#include "platform/ui/ui.h"
#include "platform/win/clock.h"
#include "tests/platform/ui_fixture.h"

using namespace uitest;
namespace ui = platform::ui;
namespace headless = platform::ui::headless;

namespace {

class Unattended : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    ui::set_unattended(true);
  }
  void TearDown() override {
    ui::stop_quit_signals();
    UiTest::TearDown();
  }
  // The panel of all controls with its one timer at the given interval.
  int load_with_timer(double interval) {
    const int p = load_all();
    EXPECT_EQ(SetCtrlAttribute(p, ALL_TIMER, ATTR_INTERVAL, interval), 0);
    return p;
  }
};

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

TEST_F(Unattended, LoopWaitsOnTheRealClockWithoutSpinning) {
  ASSERT_FALSE(platform::clock::is_virtual());
  load_with_timer(0.05);
  int ticks = 0;
  timer_hook = [&](int, int) {
    if (++ticks == 4) QuitUserInterface(3);
    return 0;
  };
  const auto wall0 = std::chrono::steady_clock::now();
  const double cpu0 = cpu_seconds();
  EXPECT_EQ(RunUserInterface(), 3);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = cpu_seconds() - cpu0;
  EXPECT_EQ(ticks, 4);
  EXPECT_GE(wall, 0.15);      // the ticks came at their time
  EXPECT_LT(cpu, wall / 2);   // and the loop slept in between
}

TEST_F(Unattended, PopupsTakeTheirDefaultsAndSayItOnStandardError) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessagePopup("Error", "Module 1 lost"), 0);
  EXPECT_EQ(ConfirmPopup("Save", "File exists - Overwrite ?"), 1);
  EXPECT_EQ(GenericMessagePopup("Warning", "Selected directory does not exist", "Yes", "Cancel", nullptr, nullptr,
                                0, 0, 1, 2, 2),
            2);
  char path[260] = "x";
  EXPECT_EQ(FileSelectPopup("/data", "*.set", "", "Select a File to Load", VAL_LOAD_BUTTON, 0, 1, 1, 0, path), 0);
  EXPECT_EQ(DirSelectPopup("/data", "Select Setup Files Directory", 1, 1, path), 0);
  // A script still answers first.
  ui::headless::script_answers({2});
  EXPECT_EQ(GenericMessagePopup("Q", "?", "A", "B", nullptr, nullptr, 0, 0, 1, 1, 2), 2);
  const std::string err = testing::internal::GetCapturedStderr();
  for (const char *part : {"Error: Module 1 lost -> OK", "File exists - Overwrite ? -> Yes",
                           "Selected directory does not exist -> Cancel", "Select a File to Load",
                           "Select Setup Files Directory", "nothing chosen"})
    EXPECT_NE(err.find(part), std::string::npos) << part << " in:\n" << err;
  EXPECT_EQ(err.find("Q: ?"), std::string::npos);
}

TEST_F(Unattended, AModalLoopServesWhatIsPendingAndWaitsForNobody) {
  const int main = load_with_timer(10.0);
  const int popup = LoadPanel(main, resource().c_str(), PNL_POPUP);
  ASSERT_EQ(InstallPopup(popup), 0);
  int p = 0, c = 0;
  // A queued key still commits the popup's focused button.
  SetActiveCtrl(popup, POPUP_QUIT);
  FakeKeystroke(VAL_ENTER_VKEY);
  EXPECT_EQ(GetUserEvent(1, &p, &c), EVENT_COMMIT);
  EXPECT_EQ(c, POPUP_QUIT);
  // Then nobody answers; the timer ten seconds away is not waited for.
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(GetUserEvent(1, &p, &c), UIE_NO_INPUT);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 5.0);
  RemovePopup(0);
  // A dialog shown as a panel of its own waits for nobody either.
  EXPECT_EQ(GetUserEvent(1, &p, &c), UIE_NO_INPUT);
}

TEST_F(Unattended, NothingToWaitForEndsTheLoop) {
  const int p = load_all();
  SetCtrlAttribute(p, ALL_TIMER, ATTR_ENABLED, 0);
  EXPECT_EQ(RunUserInterface(), UIE_NO_INPUT);
}

TEST_F(Unattended, ASignalEndsTheLoopAndThenNobodyIsAsked) {
  load_with_timer(0.01);
  ASSERT_EQ(ui::quit_on_signals(), 0);
  int ticks = 0;
  timer_hook = [&](int, int) {
    if (++ticks == 2) std::raise(SIGTERM);
    return 0;
  };
  EXPECT_EQ(RunUserInterface(), 0);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(ui::quit_signal(), SIGTERM);
  // The quit path that follows runs unasked.
  int p = 0, c = 0;
  EXPECT_EQ(GetUserEvent(1, &p, &c), UIE_NO_INPUT);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ConfirmPopup("Quit", "Save the setup?"), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Save the setup? -> Yes"), std::string::npos);
}

TEST_F(Unattended, TheProgramsHandlerRunsOnTheLoopOnce) {
  load_with_timer(0.01);
  std::vector<int> seen;
  int ticks = 0;
  ASSERT_EQ(ui::quit_on_signals([&](int signo) {
              seen.push_back(signo);
              QuitUserInterface(7);
            }),
            0);
  timer_hook = [&](int, int) {
    if (++ticks == 1) {
      std::raise(SIGINT);
      std::raise(SIGTERM);  // the same request again
      EXPECT_TRUE(seen.empty());  // not inside the signal's own moment
    }
    return 0;
  };
  EXPECT_EQ(RunUserInterface(), 7);
  EXPECT_EQ(seen, (std::vector<int>{SIGINT}));
  // Stopping gives the signals back their earlier handling.
  ui::stop_quit_signals();
  struct sigaction now {};
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  EXPECT_EQ(ui::quit_signal(), 0);
}

TEST_F(Unattended, ASignalFromOutsideWakesABlockedLoop) {
  const int p = load_all();
  SetCtrlAttribute(p, ALL_TIMER, ATTR_ENABLED, 0);  // nothing but the signal can end the wait
  ASSERT_EQ(ui::quit_on_signals(), 0);
  const pid_t parent = getpid();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    usleep(100 * 1000);
    kill(parent, SIGTERM);
    _exit(0);
  }
  EXPECT_EQ(RunUserInterface(), 0);
  EXPECT_EQ(ui::quit_signal(), SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
}

}  // namespace
