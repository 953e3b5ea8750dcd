// Operator input and its events, the event loop, modal popups, timers,
// queued keys, watched descriptors, drops and menus.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/ui/internal.h"
#include "platform/win/clock.h"
#include "tests/platform/ui_fixture.h"

using namespace uitest;
namespace ui = platform::ui;
namespace headless = platform::ui::headless;

namespace {

using UiInput = UiTest;
using UiLoop = UiTest;

// Events of one control (and of panels, control 0), as (event, data1, data2).
std::vector<std::tuple<int, int, int>> of(int panel, int control) {
  std::vector<std::tuple<int, int, int>> out;
  for (const Ev &e : headless::events())
    if (e.panel == panel && e.control == control) out.emplace_back(e.event, e.data1, e.data2);
  return out;
}

std::vector<int> kinds(int panel, int control) {
  std::vector<int> out;
  for (const auto &[e, d1, d2] : of(panel, control)) out.push_back(e);
  return out;
}

TEST_F(UiInput, ClickOnToggleSendsItsEventsInOrder) {
  const int p = load_all();
  SetActiveCtrl(p, ALL_COUNT);
  ASSERT_EQ(headless::click(p, ALL_POWER), 0);
  // Centre of the switch: top 30 + 12, left 130 + 30.
  const std::vector<Ev> want = {
      {p, ALL_POWER, EVENT_LEFT_CLICK, 42, 160},  {p, ALL_COUNT, EVENT_LOST_FOCUS, 0, 0},
      {p, ALL_POWER, EVENT_GOT_FOCUS, 0, 0},      {p, ALL_POWER, EVENT_VAL_CHANGED, 0, 0},
      {p, ALL_POWER, EVENT_COMMIT, 0, 0},         {p, ALL_POWER, EVENT_LEFT_CLICK_UP, 42, 160},
  };
  EXPECT_EQ(sent(), want);
  int on = 0;
  GetCtrlVal(p, ALL_POWER, &on);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(GetActiveCtrl(p), ALL_POWER);
  // A second click flips it back, without focus events.
  headless::clear_events();
  headless::click(p, ALL_POWER);
  EXPECT_EQ(kinds(p, ALL_POWER), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_VAL_CHANGED, EVENT_COMMIT,
                                                   EVENT_LEFT_CLICK_UP}));
  GetCtrlVal(p, ALL_POWER, &on);
  EXPECT_EQ(on, 0);
}

TEST_F(UiInput, ButtonCommitsOnRelease) {
  const int p = load_all();
  ASSERT_EQ(headless::press(p, ALL_LOAD), 0);
  EXPECT_EQ(kinds(p, ALL_LOAD), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_GOT_FOCUS}));
  ASSERT_EQ(headless::release(p, ALL_LOAD), 0);
  EXPECT_EQ(kinds(p, ALL_LOAD),
            (std::vector<int>{EVENT_LEFT_CLICK, EVENT_GOT_FOCUS, EVENT_COMMIT, EVENT_LEFT_CLICK_UP}));
  // A release without its press does nothing.
  headless::clear_events();
  EXPECT_EQ(headless::release(p, ALL_LOAD), UIE_NOT_OPERABLE);
  EXPECT_TRUE(headless::events().empty());
}

TEST_F(UiInput, FocusMovesBetweenPanelsAndPages) {
  const int p = load_all();
  const int first = page(p, 0);
  SetActiveCtrl(p, ALL_NAME);
  SetActivePanel(p);
  headless::clear_events();
  headless::click(first, 2);
  const std::vector<Ev> focus = {
      {first, 2, EVENT_LEFT_CLICK, 42, 50}, {p, ALL_NAME, EVENT_LOST_FOCUS, 0, 0}, {p, 0, EVENT_LOST_FOCUS, 0, 0},
      {first, 0, EVENT_GOT_FOCUS, 0, 0},   {first, 2, EVENT_GOT_FOCUS, 0, 0},
  };
  const std::vector<Ev> got = sent();
  ASSERT_GE(got.size(), focus.size());
  EXPECT_EQ(std::vector<Ev>(got.begin(), got.begin() + 5), focus);
  EXPECT_EQ(GetActivePanel(), first);
  // Programmatic calls send nothing.
  headless::clear_events();
  SetActiveCtrl(p, ALL_COUNT);
  SetActivePanel(p);
  SetCtrlVal(p, ALL_POWER, 1);
  EXPECT_TRUE(headless::events().empty());
}

TEST_F(UiInput, KeypressCanBeSwallowed) {
  const int p = load_all();
  // The toggle swallows Space, as a momentary switch must.
  ctrl_hook = [](int, int c, int e, int d1, int) {
    return c == ALL_POWER && e == EVENT_KEYPRESS && (d1 & 0xFFFF) == ' ' ? 1 : 0;
  };
  EXPECT_EQ(headless::key(p, ALL_POWER, ' '), 1);
  int on = -1;
  GetCtrlVal(p, ALL_POWER, &on);
  EXPECT_EQ(on, 0);
  EXPECT_EQ(headless::events().back().result, 1);
  // Enter is not swallowed and operates the switch.
  headless::clear_events();
  EXPECT_EQ(headless::key(p, ALL_POWER, VAL_ENTER_VKEY), 0);
  EXPECT_EQ(kinds(p, ALL_POWER), (std::vector<int>{EVENT_KEYPRESS, EVENT_VAL_CHANGED, EVENT_COMMIT}));
  GetCtrlVal(p, ALL_POWER, &on);
  EXPECT_EQ(on, 1);
  // A shortcut commits its control from anywhere on the panel.
  headless::clear_events();
  EXPECT_EQ(headless::key(p, ALL_COUNT, VAL_F8_VKEY), 0);
  EXPECT_EQ(kinds(p, ALL_LOAD), (std::vector<int>{EVENT_COMMIT}));
  // Enter in a numeric commits it.
  headless::clear_events();
  headless::key(p, ALL_COUNT, VAL_ENTER_VKEY);
  EXPECT_EQ(kinds(p, ALL_COUNT), (std::vector<int>{EVENT_KEYPRESS, EVENT_COMMIT}));
}

TEST_F(UiInput, SetValueAsTheOperatorWould) {
  const int p = load_all();
  ASSERT_EQ(headless::set_value(p, ALL_GAIN, 2.5f), 0);
  EXPECT_EQ(kinds(p, ALL_GAIN), (std::vector<int>{EVENT_GOT_FOCUS, EVENT_VAL_CHANGED, EVENT_COMMIT}));
  float g = 0;
  GetCtrlVal(p, ALL_GAIN, &g);
  EXPECT_FLOAT_EQ(g, 2.5f);
  // Out of range is coerced; a wrong type sends nothing.
  headless::set_value(p, ALL_GAIN, 99.0);
  GetCtrlVal(p, ALL_GAIN, &g);
  EXPECT_FLOAT_EQ(g, 10.0f);
  headless::clear_events();
  EXPECT_EQ(headless::set_value(p, ALL_GAIN, std::string("x")), UIE_TYPE_MISMATCH);
  EXPECT_TRUE(headless::events().empty());
  // A ring by value, a string typed then committed with Enter.
  headless::set_value(p, ALL_MODE, 0);
  int mode = -1;
  GetCtrlVal(p, ALL_MODE, &mode);
  EXPECT_EQ(mode, 0);
  headless::clear_events();
  headless::edit_text(p, ALL_NAME, "Lab");
  EXPECT_EQ(kinds(p, ALL_NAME), (std::vector<int>{EVENT_GOT_FOCUS, EVENT_VAL_CHANGED}));
  headless::commit(p, ALL_NAME);
  EXPECT_EQ(kinds(p, ALL_NAME), (std::vector<int>{EVENT_GOT_FOCUS, EVENT_VAL_CHANGED, EVENT_COMMIT}));
  // A tab page change.
  headless::clear_events();
  EXPECT_EQ(headless::select_tab(p, ALL_TAB, 1), 0);
  EXPECT_EQ(of(p, ALL_TAB), (std::vector<std::tuple<int, int, int>>{{EVENT_ACTIVE_TAB_CHANGE, 0, 1}}));
  EXPECT_EQ(headless::select_tab(p, ALL_TAB, 2), UIE_INDEX_INVALID);
}

TEST_F(UiInput, ClickBesideTheControlsGoesToThePanel) {
  const int p = load_all();
  const int first = page(p, 0);
  EXPECT_EQ(headless::press(p, 0, 50, 20), 0);
  EXPECT_EQ(headless::release(p, 0, 52, 21), 0);
  EXPECT_EQ(headless::click(first, 0), 0);  // the page's own callback, at its centre
  const ui::model::Panel *fp = ui::model::find_panel(first);
  const std::vector<Ev> want = {
      {p, 0, EVENT_LEFT_CLICK, 20, 50},
      {p, 0, EVENT_LEFT_CLICK_UP, 21, 52},
      {first, 0, EVENT_LEFT_CLICK, fp->height / 2, fp->width / 2},
      {first, 0, EVENT_LEFT_CLICK_UP, fp->height / 2, fp->width / 2},
  };
  EXPECT_EQ(sent(), want);
  // A release without its press on the panel, and a panel behind a popup, send nothing.
  headless::clear_events();
  EXPECT_EQ(headless::press(p, ALL_POWER), 0);
  EXPECT_EQ(headless::release(p, 0), UIE_NOT_OPERABLE);
  const int popup = LoadPanel(0, resource().c_str(), PNL_POPUP);
  InstallPopup(popup);
  headless::clear_events();
  EXPECT_EQ(headless::press(p, 0), UIE_NOT_OPERABLE);
  EXPECT_TRUE(sent().empty());
}

TEST_F(UiInput, RightClickAndIndicators) {
  const int p = load_all();
  EXPECT_EQ(headless::right_click(p, ALL_POWER), 0);
  EXPECT_EQ(kinds(p, ALL_POWER), (std::vector<int>{EVENT_GOT_FOCUS, EVENT_RIGHT_CLICK}));
  // The focus moves before the callback runs: an editor it makes active keeps it.
  ctrl_hook = [&](int pp, int c, int e, int, int) {
    if (c == ALL_GAIN && e == EVENT_RIGHT_CLICK) SetActiveCtrl(pp, ALL_NAME);
    return 0;
  };
  headless::clear_events();
  EXPECT_EQ(headless::right_click(p, ALL_GAIN), 0);
  EXPECT_EQ(GetActiveCtrl(p), ALL_NAME);
  EXPECT_TRUE(kinds(p, ALL_NAME).empty());
  ctrl_hook = nullptr;
  // An indicator is clicked but keeps its value and takes no focus.
  SetCtrlAttribute(p, ALL_ENABLE, ATTR_CTRL_MODE, VAL_INDICATOR);
  headless::clear_events();
  EXPECT_EQ(headless::click(p, ALL_ENABLE), 0);
  EXPECT_EQ(kinds(p, ALL_ENABLE), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_LEFT_CLICK_UP}));
  int on = 0;
  GetCtrlVal(p, ALL_ENABLE, &on);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(headless::set_value(p, ALL_ENABLE, 0), UIE_NOT_OPERABLE);
}

TEST_F(UiInput, NoInputWhereTheOperatorCannotReach) {
  struct Case {
    const char *what;
    std::function<void(int panel)> make;
    bool on_hidden_page;
  };
  const Case cases[] = {
      {"dimmed", [](int p) { SetCtrlAttribute(p, ALL_POWER, ATTR_DIMMED, 1); }, false},
      {"hidden", [](int p) { SetCtrlAttribute(p, ALL_POWER, ATTR_VISIBLE, 0); }, false},
      {"panel hidden", [](int p) { HidePanel(p); }, false},
      {"panel dimmed", [](int p) { SetPanelAttribute(p, ATTR_DIMMED, 1); }, false},
      {"panel minimised", [](int p) { SetPanelAttribute(p, ATTR_WINDOW_ZOOM, VAL_MINIMIZE); }, false},
      {"page not shown", [](int) {}, true},
      {"behind a popup", [](int) { InstallPopup(LoadPanel(0, resource().c_str(), PNL_POPUP)); }, false},
  };
  for (const Case &c : cases) {
    headless::reset();
    const int p = load_all();
    c.make(p);
    const int target = c.on_hidden_page ? page(p, 1) : p;
    const int control = c.on_hidden_page ? 2 : ALL_POWER;
    headless::clear_events();
    EXPECT_EQ(headless::click(target, control), UIE_NOT_OPERABLE) << c.what;
    EXPECT_EQ(headless::key(target, control, ' '), UIE_NOT_OPERABLE) << c.what;
    EXPECT_EQ(headless::set_value(target, control, 1), UIE_NOT_OPERABLE) << c.what;
    EXPECT_TRUE(headless::events().empty()) << c.what;
  }
  EXPECT_EQ(headless::click(9999, 2), UIE_PANEL_INVALID);
  EXPECT_EQ(headless::click(load_all(), 99), UIE_CTRL_INVALID);
}

TEST_F(UiInput, CallbackMayDiscardItsOwnPanel) {
  const int p = load_all();
  ctrl_hook = [p](int panel, int c, int e, int, int) {
    if (panel == p && c == ALL_POWER && e == EVENT_LEFT_CLICK) DiscardPanel(p);
    return 0;
  };
  EXPECT_EQ(headless::click(p, ALL_POWER), 0);
  EXPECT_EQ(kinds(p, ALL_POWER), (std::vector<int>{EVENT_LEFT_CLICK}));
  EXPECT_EQ(ui::model::find_panel(p), nullptr);
}

TEST_F(UiInput, CloseBoxAndDrops) {
  const int p = load_all();
  ASSERT_EQ(headless::close_panel(p), 0);
  EXPECT_EQ(kinds(p, ALL_CLOSE), (std::vector<int>{EVENT_COMMIT}));
  // Without a close control the panel itself hears of it.
  SetPanelAttribute(p, ATTR_CLOSE_CTRL, 0);
  headless::clear_events();
  headless::close_panel(p);
  EXPECT_EQ(kinds(p, 0), (std::vector<int>{EVENT_CLOSE}));

  EXPECT_EQ(headless::drop_files(p, {"/tmp/a.set"}), UIE_NOT_OPERABLE);  // not enabled
  EnableDragAndDrop(p);
  std::vector<std::string> seen;
  int count = 0;
  panel_hook = [&](int, int e, int d1, int d2) {
    if (e == EVENT_FILESDROPPED) {
      count = d2;
      for (const char *const *f = GetDroppedFiles(d1); f && *f; ++f) seen.emplace_back(*f);
    }
    return 0;
  };
  headless::clear_events();
  ASSERT_EQ(headless::drop_files(p, {"/tmp/A.SET", "/tmp/b.txt"}), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(seen, (std::vector<std::string>{"/tmp/A.SET", "/tmp/b.txt"}));
  const int drop = headless::events().back().data1;
  EXPECT_EQ(GetDroppedFiles(drop), nullptr);  // gone after the callback
}

TEST_F(UiLoop, GetUserEventServesAModalPopup) {
  const int main = load_all();
  const int popup = LoadPanel(main, resource().c_str(), PNL_POPUP);
  ASSERT_EQ(InstallPopup(popup), 0);
  EXPECT_EQ(GetActivePanel(), popup);
  // The operator ticks the box, then presses Quit.
  headless::later([&] { headless::click(popup, POPUP_SAVE); });
  headless::later([&] { headless::click(main, ALL_LOAD); });  // behind the popup: nothing
  headless::later([&] { headless::click(popup, POPUP_QUIT); });
  int p = 0, c = 0;
  EXPECT_EQ(GetUserEvent(1, &p, &c), EVENT_COMMIT);
  EXPECT_EQ(p, popup);
  EXPECT_EQ(c, POPUP_SAVE);
  EXPECT_EQ(GetUserEvent(1, &p, &c), EVENT_COMMIT);
  EXPECT_EQ(c, POPUP_QUIT);
  EXPECT_TRUE(kinds(main, ALL_LOAD).empty());
  EXPECT_EQ(RemovePopup(0), 0);
  EXPECT_EQ(GetActivePanel(), main);
  EXPECT_EQ(RemovePopup(0), UIE_NO_POPUP);
  // Nothing more to come: a waiting loop without a view stops.
  EXPECT_EQ(GetUserEvent(1, &p, &c), UIE_NO_INPUT);
  EXPECT_TRUE(headless::stalled());
  EXPECT_EQ(GetUserEvent(0, &p, &c), 0);
}

TEST_F(UiLoop, RunUserInterfaceUntilQuit) {
  const int p = load_all();
  int quits = 0;
  ctrl_hook = [&](int, int c, int e, int, int) {
    if (c == ALL_CLOSE && e == EVENT_COMMIT) {
      ++quits;
      QuitUserInterface(7);
    }
    return 0;
  };
  headless::later([&] { headless::click(p, ALL_POWER); });
  headless::later([&] { headless::close_panel(p); });
  headless::later([&] { headless::click(p, ALL_POWER); });  // after the quit: never runs
  EXPECT_EQ(RunUserInterface(), 7);
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(headless::pending_actions(), 1u);
  EXPECT_EQ(QuitUserInterface(0), UIE_NOT_RUNNING);
  // A commit inside the loop is not left over for a later modal loop.
  int q = 0, c = 0;
  EXPECT_EQ(GetUserEvent(0, &q, &c), 0);
}

TEST_F(UiLoop, ModalLoopInsideACallback) {
  // The quit path: a commit opens a popup and takes its events while the outer loop waits.
  const int main = load_all();
  int answer = 0;
  ctrl_hook = [&](int panel, int c, int e, int, int) {
    if (panel == main && c == ALL_CLOSE && e == EVENT_COMMIT) {
      const int popup = LoadPanel(main, resource().c_str(), PNL_POPUP);
      InstallPopup(popup);
      int p = 0, ctl = 0;
      while (GetUserEvent(1, &p, &ctl) == EVENT_COMMIT && ctl != POPUP_QUIT && ctl != POPUP_CANCEL) {
      }
      answer = ctl;
      RemovePopup(0);
      DiscardPanel(popup);
      if (answer == POPUP_QUIT) QuitUserInterface(0);
    }
    return 0;
  };
  headless::later([&] { headless::click(main, ALL_CLOSE); });
  headless::later([&] { headless::close_panel(ui::model::top_popup()); });  // the popup's close box: Cancel
  headless::later([&] { headless::click(main, ALL_CLOSE); });
  headless::later([&] { headless::click(ui::model::top_popup(), POPUP_QUIT); });
  EXPECT_EQ(RunUserInterface(), 0);
  EXPECT_EQ(answer, POPUP_QUIT);
}

}  // namespace

namespace {

class UiTimers : public UiTest {
 protected:
  testsupport::VirtualClock clock;
};

TEST_F(UiTimers, TicksWhenDue) {
  const int p = load_all();  // timer of 0.5 s, enabled
  int ticks = 0;
  timer_hook = [&](int, int) { return ++ticks; };
  EXPECT_EQ(headless::advance(0.4), 0);
  EXPECT_EQ(headless::advance(0.1), 1);
  EXPECT_EQ(headless::advance(1.0), 2);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(kinds(p, ALL_TIMER), (std::vector<int>(3, EVENT_TIMER_TICK)));
  // Disabled, it stays silent; enabled again it starts a fresh interval.
  SetCtrlAttribute(p, ALL_TIMER, ATTR_ENABLED, 0);
  EXPECT_EQ(headless::advance(2.0), 0);
  EXPECT_EQ(headless::tick(p, ALL_TIMER), UIE_NOT_OPERABLE);
  SetCtrlAttribute(p, ALL_TIMER, ATTR_ENABLED, 1);
  EXPECT_EQ(headless::advance(0.49), 0);
  EXPECT_EQ(headless::advance(0.01), 1);
  // A manual tick restarts the interval.
  EXPECT_EQ(headless::tick(p, ALL_TIMER), 0);
  EXPECT_EQ(headless::advance(0.49), 0);
  EXPECT_EQ(headless::advance(0.02), 1);
  EXPECT_EQ(headless::tick(p, ALL_POWER), UIE_ATTR_NOT_VALID);
}

TEST_F(UiTimers, NeverRunsInsideItself) {
  const int p = load_all();
  int depth = 0, deepest = 0, ticks = 0;
  timer_hook = [&](int, int) {
    ++ticks;
    deepest = std::max(deepest, ++depth);
    // A long tick that lets pending events run meanwhile.
    Delay(2.0);
    ProcessSystemEvents();
    --depth;
    return 1;
  };
  EXPECT_EQ(headless::advance(0.5), 1);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(ticks, 1);
  // The ticks missed while it ran are not made up in a burst.
  EXPECT_EQ(headless::advance(0.5), 1);
  (void)p;
}

TEST_F(UiTimers, RunningLoopWaitsForTheNextTick) {
  const int p = load_all();
  int ticks = 0;
  timer_hook = [&](int, int) {
    if (++ticks == 3) QuitUserInterface(3);
    return 0;
  };
  headless::set_running(true);
  EXPECT_EQ(RunUserInterface(), 3);
  EXPECT_DOUBLE_EQ(platform::clock::now(), 1.5);
  // Without timers or descriptors there is nothing to wait for.
  DiscardPanel(p);
  EXPECT_EQ(RunUserInterface(), UIE_NO_INPUT);
}

TEST_F(UiTimers, TicksGoOnDuringAModalLoop) {
  const int main = load_all();
  const int popup = LoadPanel(0, resource().c_str(), PNL_POPUP);
  InstallPopup(popup);
  int ticks = 0;
  timer_hook = [&](int, int) {
    if (++ticks == 2) headless::click(popup, POPUP_CANCEL);  // the operator answers meanwhile
    return 0;
  };
  headless::set_running(true);
  int p = 0, c = 0;
  EXPECT_EQ(GetUserEvent(1, &p, &c), EVENT_COMMIT);
  EXPECT_EQ(c, POPUP_CANCEL);
  EXPECT_EQ(ticks, 2);
  (void)main;
}

TEST_F(UiLoop, QueuedKeystrokeCommitsItsShortcutOnceTheLoopRuns) {
  const int p = LoadPanel(0, resource().c_str(), PNL_ALL);
  ASSERT_EQ(FakeKeystroke(VAL_F8_VKEY), 0);  // queued before the dialog shows
  InstallPopup(p);
  EXPECT_TRUE(kinds(p, ALL_LOAD).empty());
  int q = 0, c = 0;
  EXPECT_EQ(GetUserEvent(1, &q, &c), EVENT_COMMIT);
  EXPECT_EQ(q, p);
  EXPECT_EQ(c, ALL_LOAD);
  // A dimmed control does not answer its key.
  SetCtrlAttribute(p, ALL_LOAD, ATTR_DIMMED, 1);
  FakeKeystroke(VAL_F8_VKEY);
  EXPECT_EQ(GetUserEvent(1, &q, &c), UIE_NO_INPUT);
  EXPECT_EQ(FakeKeystroke(0), UIE_VALUE_INVALID);
}

TEST_F(UiLoop, WatchedDescriptorRunsOnTheLoop) {
  load_all();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string got;
  int id = 0;
  id = ui::watch_fd(fds[0], [&](int fd) {
    char buf[16];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    if (n <= 0) ui::unwatch_fd(id);  // the writer went away
    if (got == "Quit") QuitUserInterface(1);
  });
  ASSERT_GT(id, 0);
  ASSERT_EQ(write(fds[1], "Quit", 4), 4);
  EXPECT_EQ(RunUserInterface(), 1);
  EXPECT_EQ(got, "Quit");
  // A hang-up reaches the callback too, which stops watching.
  close(fds[1]);
  ProcessSystemEvents();
  EXPECT_EQ(ProcessSystemEvents(), 0);
  close(fds[0]);
  EXPECT_EQ(ui::watch_fd(-1, [](int) {}), UIE_BAD_ARGUMENT);
}

TEST_F(UiLoop, PopupMenuAndMenuBar) {
  const int p = load_all();
  const int bar = LoadMenuBar(0, resource().c_str(), MB_MAIN);
  headless::script_menu_choices({ITEM_TOGGLE, ITEM_INVERTED, ITEM_SCALE});
  EXPECT_EQ(RunPopupMenu(bar, MENU_COLUMN, p, 54, 130), ITEM_TOGGLE);
  EXPECT_EQ(RunPopupMenu(bar, MENU_COLUMN, p, 54, 130), 0);  // dimmed item
  EXPECT_EQ(RunPopupMenu(bar, MENU_COLUMN, p, 54, 130), 0);  // not in that menu
  EXPECT_EQ(RunPopupMenu(bar, MENU_COLUMN, p, 54, 130), 0);  // unscripted: closed
  ASSERT_EQ(headless::menus_shown().size(), 4u);
  EXPECT_EQ(headless::menus_shown()[0].top, 54);
  EXPECT_EQ(RunPopupMenu(bar, 99, p, 0, 0), UIE_MENU_ITEM_INVALID);
  EXPECT_EQ(RunPopupMenu(bar, MENU_COLUMN, p + 999, 0, 0), UIE_PANEL_INVALID);
  // A chosen item with a callback runs it.
  headless::script_menu_choices({ITEM_SCALE});
  EXPECT_EQ(RunPopupMenu(bar, MENU_FILE, p, 0, 0), ITEM_SCALE);
  ASSERT_EQ(menu_calls.size(), 1u);
  EXPECT_EQ(menu_calls[0].panel, p);
  // A bar shown in a panel is picked from.
  EXPECT_EQ(headless::pick_menu_item(bar, ITEM_QUIT), UIE_NOT_OPERABLE);  // not in a panel
  const int shown = LoadMenuBar(p, resource().c_str(), MB_MAIN);
  EXPECT_EQ(headless::pick_menu_item(shown, ITEM_QUIT), 0);
  EXPECT_EQ(headless::pick_menu_item(shown, ITEM_INVERTED), UIE_NOT_OPERABLE);
  EXPECT_EQ(headless::pick_menu_item(shown, 99), UIE_MENU_ITEM_INVALID);
  ASSERT_EQ(menu_calls.size(), 2u);
  EXPECT_EQ(menu_calls[1].item, ITEM_QUIT);
  EXPECT_EQ(menu_calls[1].menubar, shown);
}

// A view's modal message box: while it is open nothing reaches the program.
struct BlockingView : ui::PopupView {
  std::function<void()> while_open;
  int message(const ui::ShownPopup &) override {
    if (while_open) while_open();
    return 0;
  }
  int generic(const ui::ShownPopup &) override { return 1; }
};

TEST_F(UiLoop, NothingIsDeliveredWhileAMessageBoxIsOpen) {
  testsupport::VirtualClock clock;
  const int p = load_all();
  BlockingView view;
  int ticks = 0, clicked = 0, queued = 0;
  timer_hook = [&](int, int) { return ++ticks; };
  view.while_open = [&] {
    clicked = headless::click(p, ALL_POWER);
    platform::clock::sleep(5.0);
    FakeKeystroke(VAL_F8_VKEY);
    ProcessSystemEvents();
    int q = 0, c = 0;
    queued = GetUserEvent(0, &q, &c);
  };
  ui::set_popup_view(&view);
  ctrl_hook = [&](int, int c, int e, int, int) {
    if (c == ALL_COUNT && e == EVENT_COMMIT) MessagePopup("Error", "in a callback");
    return 0;
  };
  headless::commit(p, ALL_COUNT);
  ui::set_popup_view(nullptr);
  EXPECT_EQ(clicked, UIE_NOT_OPERABLE);
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(queued, 0);
  EXPECT_TRUE(kinds(p, ALL_POWER).empty());
  EXPECT_TRUE(kinds(p, ALL_LOAD).empty());
  // Once it closed, the queued key and the due tick go out.
  ProcessSystemEvents();
  EXPECT_EQ(kinds(p, ALL_LOAD), (std::vector<int>{EVENT_COMMIT}));
  EXPECT_EQ(ticks, 1);
}

}  // namespace
