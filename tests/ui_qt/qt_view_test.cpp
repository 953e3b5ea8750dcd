// The Qt view on Qt's offscreen platform: widgets for the model, attributes
// followed, operator input turned into the model's events.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "platform/dde/dde.h"
#include "platform/ui/model.h"
#include "platform/ui_qt/qt_start.h"
#include "platform/ui_qt/qt_view.h"
#include "tests/platform/ui_fixture.h"
#include "tests/testsupport/qt_step.h"

using namespace uitest;
namespace ui = platform::ui;
namespace qt = platform::ui_qt;
namespace headless = platform::ui::headless;

namespace {

class QtView : public UiTest {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_ui_qt";
    static char *argv[] = {name, nullptr};
    ASSERT_TRUE(qt::start(argc, argv, true));
  }
  static void TearDownTestSuite() { qt::stop(); }
  void TearDown() override {
    UiTest::TearDown();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  template <class W>
  W *widget(int p, int c) {
    W *w = qobject_cast<W *>(qt::control_widget(p, c));
    EXPECT_NE(w, nullptr) << "control " << c;
    return w;
  }
  // Every timer off, so that only what a test sends wakes the loop.
  static void stop_timers() {
    for (int h : ui::model::panel_handles())
      if (const auto *pp = ui::model::find_panel(h))
        for (const auto &c : pp->controls)
          if (c.kind == ui::model::Kind::timer) SetCtrlAttribute(h, c.id, ATTR_ENABLED, 0);
  }
  std::vector<int> kinds(int p, int c) {
    std::vector<int> out;
    for (const Ev &e : headless::events())
      if (e.panel == p && e.control == c) out.push_back(e.event);
    return out;
  }
};

TEST_F(QtView, EveryControlHasAWidgetAtItsPlace) {
  const int p = load_all();
  QWidget *window = qt::panel_widget(p);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isWindow());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "All controls");
  EXPECT_EQ(qt::panel_content(p)->size(), QSize(640, 520));

  EXPECT_NE(widget<QPushButton>(p, ALL_LOAD), nullptr);
  EXPECT_NE(widget<QCheckBox>(p, ALL_ENABLE), nullptr);
  EXPECT_NE(widget<QSpinBox>(p, ALL_COUNT), nullptr);
  EXPECT_NE(widget<QSpinBox>(p, ALL_LIMIT), nullptr);
  EXPECT_NE(widget<QDoubleSpinBox>(p, ALL_GAIN), nullptr);
  EXPECT_NE(widget<QDoubleSpinBox>(p, ALL_VOLT), nullptr);
  EXPECT_NE(widget<QLineEdit>(p, ALL_NAME), nullptr);
  EXPECT_NE(widget<QLabel>(p, ALL_STATUS), nullptr);
  EXPECT_NE(widget<QPlainTextEdit>(p, ALL_CONTENTS), nullptr);
  EXPECT_NE(widget<QComboBox>(p, ALL_MODE), nullptr);
  EXPECT_NE(widget<QListWidget>(p, ALL_RECENT), nullptr);
  EXPECT_NE(widget<QComboBox>(p, ALL_DIR), nullptr);
  EXPECT_NE(qt::control_widget(p, ALL_POWER), nullptr);       // drawn switch
  EXPECT_NE(qt::control_widget(p, ALL_OVERLOAD), nullptr);    // drawn lamp
  EXPECT_NE(qt::control_widget(p, ALL_DECORATION), nullptr);
  EXPECT_EQ(qt::control_widget(p, ALL_TIMER), nullptr);       // a timer shows nothing

  EXPECT_EQ(qt::control_widget(p, ALL_VOLT)->geometry(), QRect(320, 92, 90, 22));
  EXPECT_EQ(widget<QPushButton>(p, ALL_LOAD)->text(), "Load");
  ASSERT_NE(qt::label_widget(p, ALL_COUNT), nullptr);
  EXPECT_EQ(qt::label_widget(p, ALL_COUNT)->text(), "Count");
  EXPECT_EQ(qt::label_widget(p, ALL_COUNT)->pos(), QPoint(20, 92 - 16));
  EXPECT_EQ(widget<QSpinBox>(p, ALL_COUNT)->value(), 5);
  EXPECT_EQ(widget<QSpinBox>(p, ALL_COUNT)->maximum(), 100);
  EXPECT_DOUBLE_EQ(widget<QDoubleSpinBox>(p, ALL_VOLT)->value(), -1.25);
  EXPECT_EQ(widget<QDoubleSpinBox>(p, ALL_VOLT)->decimals(), 3);
  EXPECT_EQ(widget<QComboBox>(p, ALL_MODE)->currentText(), "Emulation");
  EXPECT_EQ(widget<QLineEdit>(p, ALL_NAME)->maxLength(), 11);
  EXPECT_EQ(qt::led_colour(p, ALL_OVERLOAD), QColor(255, 0, 0));

  auto *tabs = widget<QTabWidget>(p, ALL_TAB);
  ASSERT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->tabText(0), "First");
  EXPECT_EQ(tabs->tabText(1), "Second");
  EXPECT_EQ(tabs->widget(0), qt::panel_widget(page(p, 0)));
  EXPECT_NE(qt::control_widget(page(p, 1), 2), nullptr);
}

TEST_F(QtView, WidgetsFollowAttributesAndValues) {
  const int p = load_all();
  QWidget *count = qt::control_widget(p, ALL_COUNT);
  SetCtrlAttribute(p, ALL_COUNT, ATTR_DIMMED, 1);
  EXPECT_FALSE(count->isEnabled());
  SetCtrlAttribute(p, ALL_COUNT, ATTR_VISIBLE, 0);
  EXPECT_FALSE(count->isVisible());
  EXPECT_FALSE(qt::label_widget(p, ALL_COUNT)->isVisible());
  SetCtrlAttribute(p, ALL_COUNT, ATTR_VISIBLE, 1);
  SetCtrlAttribute(p, ALL_COUNT, ATTR_LEFT, 33);
  SetCtrlAttribute(p, ALL_COUNT, ATTR_WIDTH, 70);
  EXPECT_EQ(count->geometry(), QRect(33, 92, 70, 22));
  SetCtrlAttribute(p, ALL_COUNT, ATTR_LABEL_TEXT, "Pieces");
  EXPECT_EQ(qt::label_widget(p, ALL_COUNT)->text(), "Pieces");
  SetCtrlAttribute(p, ALL_COUNT, ATTR_TOOLTIP_TEXT, "Simple/Expanded View");
  EXPECT_EQ(count->toolTip(), "Simple/Expanded View");
  SetCtrlAttribute(p, ALL_LOAD, ATTR_LABEL_TEXT, "Read");
  EXPECT_EQ(widget<QPushButton>(p, ALL_LOAD)->text(), "Read");

  SetCtrlVal(p, ALL_COUNT, 42);
  EXPECT_EQ(widget<QSpinBox>(p, ALL_COUNT)->value(), 42);
  SetCtrlVal(p, ALL_NAME, "Column A");
  EXPECT_EQ(widget<QLineEdit>(p, ALL_NAME)->text(), "Column A");
  SetCtrlVal(p, ALL_CONTENTS, "third\n");
  EXPECT_EQ(widget<QPlainTextEdit>(p, ALL_CONTENTS)->toPlainText(), "first line\nsecond line\nthird\n");
  SetCtrlVal(p, ALL_MODE, 0);
  EXPECT_EQ(widget<QComboBox>(p, ALL_MODE)->currentText(), "Hardware");
  InsertListItem(p, ALL_RECENT, 0, "new.set", "/x/new.set");
  EXPECT_EQ(widget<QListWidget>(p, ALL_RECENT)->item(0)->text(), "new.set");
  SetCtrlVal(p, ALL_STATUS, "Number of active modules = 1");
  EXPECT_EQ(widget<QLabel>(p, ALL_STATUS)->text(), "Number of active modules = 1");
  SetCtrlVal(p, ALL_OVERLOAD, 0);
  EXPECT_EQ(qt::led_colour(p, ALL_OVERLOAD), QColor(0x40, 0x40, 0x40));
  SetCtrlVal(p, ALL_POWER, 1);
  SetCtrlAttribute(p, ALL_POWER, ATTR_ON_COLOR, 0x0000FF);
  EXPECT_EQ(qt::switch_colour(p, ALL_POWER), QColor(0, 0, 255));
  SetActiveTabPage(p, ALL_TAB, 1);
  EXPECT_EQ(widget<QTabWidget>(p, ALL_TAB)->currentIndex(), 1);
  // Colours: the text, and behind the value the blinking one (transparent again after).
  SetCtrlAttribute(p, ALL_STATUS, ATTR_TEXT_COLOR, 0xFF0000);
  EXPECT_EQ(qt::control_widget(p, ALL_STATUS)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  SetCtrlAttribute(p, ALL_GAIN, ATTR_TEXT_BGCOLOR, 0xFFFF00);
  EXPECT_EQ(qt::control_widget(p, ALL_GAIN)->palette().color(QPalette::Base), QColor(255, 255, 0));
  SetCtrlAttribute(p, ALL_GAIN, ATTR_TEXT_BGCOLOR, VAL_TRANSPARENT);
  EXPECT_NE(qt::control_widget(p, ALL_GAIN)->palette().color(QPalette::Base), QColor(255, 255, 0));
  SetCtrlAttribute(p, ALL_POWER, ATTR_TEXT_BGCOLOR, 0xFFFF00);
  EXPECT_TRUE(qt::control_widget(p, ALL_POWER)->autoFillBackground());
  SetCtrlAttribute(p, ALL_DECORATION, ATTR_FILL_COLOR, VAL_TRANSPARENT);
  SetCtrlAttribute(p, ALL_COUNT, ATTR_LABEL_POINT_SIZE, 14);
  EXPECT_EQ(qt::label_widget(p, ALL_COUNT)->font().pointSize(), 14);

  // Panel attributes.
  QWidget *window = qt::panel_widget(p);
  SetPanelAttribute(p, ATTR_TITLE, "TRQ v.1.20");
  EXPECT_EQ(window->windowTitle(), "TRQ v.1.20");
  SetPanelAttribute(p, ATTR_FLOATING, VAL_FLOAT_ALWAYS);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
  SetPanelAttribute(p, ATTR_FLOATING, VAL_FLOAT_APP_ACTIVE);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowStaysOnTopHint);
  SetPanelAttribute(p, ATTR_SCALE_CONTENTS_ON_RESIZE, 1);
  SetPanelAttribute(p, ATTR_WIDTH, 320);
  EXPECT_EQ(qt::panel_content(p)->width(), 320);
  EXPECT_EQ(qt::control_widget(p, ALL_VOLT)->geometry().left(), 160);
  SetPanelAttribute(p, ATTR_WINDOW_ZOOM, VAL_MINIMIZE);
  EXPECT_TRUE(window->windowState() & Qt::WindowMinimized);
  SetPanelAttribute(p, ATTR_WINDOW_ZOOM, VAL_NO_ZOOM);
  EXPECT_FALSE(window->windowState() & Qt::WindowMinimized);
  HidePanel(p);
  EXPECT_FALSE(window->isVisible());
  // Discarding removes the window.
  DiscardPanel(p);
  EXPECT_EQ(qt::panel_widget(p), nullptr);
}

TEST_F(QtView, ClickOnTheSwitchBecomesTheModelsEvents) {
  const int p = load_all();
  QWidget *sw = qt::control_widget(p, ALL_POWER);
  QTest::mouseClick(sw, Qt::LeftButton, Qt::NoModifier, QPoint(30, 12));
  EXPECT_EQ(kinds(p, ALL_POWER), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_GOT_FOCUS, EVENT_VAL_CHANGED,
                                                   EVENT_COMMIT, EVENT_LEFT_CLICK_UP}));
  // Mouse position in panel coordinates.
  EXPECT_EQ(headless::events().front().data1, 30 + 12);
  EXPECT_EQ(headless::events().front().data2, 130 + 30);
  int on = 0;
  GetCtrlVal(p, ALL_POWER, &on);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(qt::switch_colour(p, ALL_POWER), QColor(0, 0xC0, 0));

  // The check box flips once per click, Qt's own toggling stays out.
  QTest::mouseClick(qt::control_widget(p, ALL_ENABLE), Qt::LeftButton);
  GetCtrlVal(p, ALL_ENABLE, &on);
  EXPECT_EQ(on, 0);
  EXPECT_FALSE(widget<QCheckBox>(p, ALL_ENABLE)->isChecked());

  // A button commits on release; a right click goes to the callback.
  headless::clear_events();
  QTest::mouseClick(qt::control_widget(p, ALL_LOAD), Qt::LeftButton);
  EXPECT_EQ(kinds(p, ALL_LOAD), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_GOT_FOCUS, EVENT_COMMIT,
                                                  EVENT_LEFT_CLICK_UP}));
  headless::clear_events();
  // Where the pointer is: the spin box's entry field.
  QTest::mouseClick(qt::control_widget(p, ALL_GAIN)->findChild<QLineEdit *>(), Qt::RightButton);
  EXPECT_EQ(kinds(p, ALL_GAIN), (std::vector<int>{EVENT_GOT_FOCUS, EVENT_RIGHT_CLICK}));

  // A dimmed control's widget takes nothing to the model.
  SetCtrlAttribute(p, ALL_POWER, ATTR_DIMMED, 1);
  headless::clear_events();
  QTest::mouseClick(sw, Qt::LeftButton);
  EXPECT_TRUE(headless::events().empty());
}

TEST_F(QtView, KeysAndTypedValues) {
  const int p = load_all();
  QWidget *sw = qt::control_widget(p, ALL_POWER);
  ctrl_hook = [](int, int c, int e, int d1, int) {
    return c == ALL_POWER && e == EVENT_KEYPRESS && (d1 & 0xFFFF) == ' ' ? 1 : 0;
  };
  QTest::keyClick(sw, Qt::Key_Space);
  int on = -1;
  GetCtrlVal(p, ALL_POWER, &on);
  EXPECT_EQ(on, 0);  // swallowed
  QTest::keyClick(sw, Qt::Key_Return);
  GetCtrlVal(p, ALL_POWER, &on);
  EXPECT_EQ(on, 1);

  // Typing into a numeric: the value arrives when Enter takes it.
  headless::clear_events();
  auto *count = widget<QSpinBox>(p, ALL_COUNT);
  count->selectAll();
  QTest::keyClicks(count, "42");
  int v = 0;
  GetCtrlVal(p, ALL_COUNT, &v);
  EXPECT_EQ(v, 5);
  QTest::keyClick(count, Qt::Key_Return);
  GetCtrlVal(p, ALL_COUNT, &v);
  EXPECT_EQ(v, 42);
  const std::vector<int> ks = kinds(p, ALL_COUNT);
  ASSERT_GE(ks.size(), 3u);
  EXPECT_EQ(std::vector<int>(ks.end() - 2, ks.end()), (std::vector<int>{EVENT_VAL_CHANGED, EVENT_COMMIT}));
  EXPECT_EQ(std::count(ks.begin(), ks.end(), EVENT_KEYPRESS), 3);  // '4', '2', Enter: one each

  // A string: every key changes the value, Enter commits once.
  headless::clear_events();
  auto *name = widget<QLineEdit>(p, ALL_NAME);
  name->clear();
  QTest::keyClicks(name, "Lab");
  QTest::keyClick(name, Qt::Key_Return);
  std::string text;
  GetCtrlVal(p, ALL_NAME, &text);
  EXPECT_EQ(text, "Lab");
  const std::vector<int> nk = kinds(p, ALL_NAME);
  EXPECT_EQ(std::count(nk.begin(), nk.end(), EVENT_VAL_CHANGED), 3);
  EXPECT_EQ(std::count(nk.begin(), nk.end(), EVENT_COMMIT), 1);

  // A shortcut typed in another control commits its own, once.
  headless::clear_events();
  QTest::keyClick(name, Qt::Key_F8);
  EXPECT_EQ(kinds(p, ALL_LOAD), (std::vector<int>{EVENT_COMMIT}));
}

// What is typed into a line edit or a spin box counts for the click that
// takes the focus from it, before that click's own commit.
TEST_F(QtView, ATypedTextOrNumberCommitsBeforeTheClickThatLeavesIt) {
  const int p = load_all();
  QWidget *window = qt::panel_widget(p);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  auto commits = [] {
    std::vector<int> out;
    for (const Ev &e : headless::events())
      if (e.event == EVENT_COMMIT) out.push_back(e.control);
    return out;
  };
  auto *name = widget<QLineEdit>(p, ALL_NAME);
  QTest::mouseClick(name, Qt::LeftButton);
  ASSERT_TRUE(name->hasFocus());
  name->clear();
  QTest::keyClicks(name, "new1");
  while (GetUserEvent(0, nullptr, nullptr) == EVENT_COMMIT) {
  }
  headless::clear_events();
  QTest::mouseClick(qt::control_widget(p, ALL_LOAD), Qt::LeftButton);
  EXPECT_EQ(commits(), (std::vector<int>{ALL_NAME, ALL_LOAD}));
  int ep = 0, ec = 0;
  ASSERT_EQ(GetUserEvent(0, &ep, &ec), EVENT_COMMIT);
  EXPECT_EQ(ec, ALL_NAME);
  ASSERT_EQ(GetUserEvent(0, &ep, &ec), EVENT_COMMIT);
  EXPECT_EQ(ec, ALL_LOAD);
  // Leaving it again without typing commits nothing more.
  QTest::mouseClick(name, Qt::LeftButton);
  headless::clear_events();
  QTest::mouseClick(qt::control_widget(p, ALL_LOAD), Qt::LeftButton);
  EXPECT_EQ(commits(), (std::vector<int>{ALL_LOAD}));

  auto *gain = widget<QDoubleSpinBox>(p, ALL_GAIN);
  QTest::mouseClick(gain, Qt::LeftButton);
  ASSERT_TRUE(gain->hasFocus());
  gain->selectAll();
  QTest::keyClicks(gain, "7.5");
  headless::clear_events();
  QTest::mouseClick(qt::control_widget(p, ALL_LOAD), Qt::LeftButton);
  EXPECT_EQ(commits(), (std::vector<int>{ALL_GAIN, ALL_LOAD}));
  float g = 0;
  GetCtrlVal(p, ALL_GAIN, &g);
  EXPECT_FLOAT_EQ(g, 7.5f);

  // Keys that reach a box while Qt's focus lies elsewhere (a window that no
  // window manager activated gets no focus events): the model still commits
  // the number when its focus leaves the box.
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  ASSERT_FALSE(window->isActiveWindow());
  auto *count = widget<QSpinBox>(p, ALL_COUNT);
  QTest::keyClicks(count, "3");
  const int typed = count->text().toInt();
  int before = -1;
  GetCtrlVal(p, ALL_COUNT, &before);
  EXPECT_NE(before, typed);
  headless::clear_events();
  QTest::mouseClick(qt::control_widget(p, ALL_LOAD), Qt::LeftButton);
  EXPECT_EQ(commits(), (std::vector<int>{ALL_COUNT, ALL_LOAD}));
  int now = -1;
  GetCtrlVal(p, ALL_COUNT, &now);
  EXPECT_EQ(now, typed);
}

// A dialog's keys: Enter presses the default button (never ticks the box
// that has the focus), Escape the cancel button.
TEST_F(QtView, EnterAndEscapeInAPopupPressItsButtons) {
  const int main = load_all();
  const int popup = LoadPanel(main, resource().c_str(), PNL_POPUP);
  SetCtrlAttribute(popup, POPUP_QUIT, ATTR_SHORTCUT_KEY, VAL_ENTER_VKEY);
  SetCtrlAttribute(popup, POPUP_CANCEL, ATTR_SHORTCUT_KEY, VAL_ESC_VKEY);
  SetCtrlVal(popup, POPUP_SAVE, 1);
  ASSERT_EQ(InstallPopup(popup), 0);
  auto *box = widget<QCheckBox>(popup, POPUP_SAVE);
  const struct {
    Qt::Key key;
    int control;
  } cases[] = {{Qt::Key_Return, POPUP_QUIT}, {Qt::Key_Enter, POPUP_QUIT}, {Qt::Key_Escape, POPUP_CANCEL}};
  for (const auto &c : cases) {
    while (GetUserEvent(0, nullptr, nullptr) == EVENT_COMMIT) {
    }
    QTest::keyClick(box, c.key);
    int ep = 0, ec = 0;
    ASSERT_EQ(GetUserEvent(0, &ep, &ec), EVENT_COMMIT) << c.key;
    EXPECT_EQ(ec, c.control) << c.key;
    int v = -1;
    GetCtrlVal(popup, POPUP_SAVE, &v);
    EXPECT_EQ(v, 1) << c.key;
    EXPECT_TRUE(box->isChecked());
  }
  // Escape with the focus on the panel itself.
  QTest::keyClick(qt::panel_widget(popup), Qt::Key_Escape);
  int ep = 0, ec = 0;
  ASSERT_EQ(GetUserEvent(0, &ep, &ec), EVENT_COMMIT);
  EXPECT_EQ(ec, POPUP_CANCEL);
  RemovePopup(0);
}

TEST_F(QtView, ChoicesTabsCloseAndDrops) {
  const int p = load_all();
  widget<QComboBox>(p, ALL_MODE)->activated(0);  // as the combo box reports the operator's choice
  int mode = -1;
  GetCtrlVal(p, ALL_MODE, &mode);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(kinds(p, ALL_MODE), (std::vector<int>{EVENT_GOT_FOCUS, EVENT_VAL_CHANGED, EVENT_COMMIT}));

  headless::clear_events();
  widget<QTabWidget>(p, ALL_TAB)->setCurrentIndex(1);
  EXPECT_EQ(kinds(p, ALL_TAB), (std::vector<int>{EVENT_ACTIVE_TAB_CHANGE}));
  int active = 0;
  GetActiveTabPage(p, ALL_TAB, &active);
  EXPECT_EQ(active, 1);

  headless::clear_events();
  qt::panel_widget(p)->close();
  EXPECT_EQ(kinds(p, ALL_CLOSE), (std::vector<int>{EVENT_COMMIT}));
  EXPECT_TRUE(qt::panel_widget(p)->isVisible());  // the program decides

  EnableDragAndDrop(p);
  std::vector<std::string> dropped;
  panel_hook = [&](int, int e, int d1, int) {
    if (e == EVENT_FILESDROPPED)
      for (const char *const *f = GetDroppedFiles(d1); f && *f; ++f) dropped.emplace_back(*f);
    return 0;
  };
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile("/tmp/run1.set")});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(qt::panel_widget(p), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(qt::panel_widget(p), &drop);
  EXPECT_EQ(dropped, (std::vector<std::string>{"/tmp/run1.set"}));
}

TEST_F(QtView, AControlThatChangesItsKindGetsNewWidgets) {
  const int p = load_all();
  ASSERT_NE(widget<QLineEdit>(p, ALL_NAME), nullptr);
  ASSERT_EQ(NewPathCtrl(p, ALL_NAME, 4, 1), 0);
  auto *path = widget<QComboBox>(p, ALL_NAME);
  ASSERT_NE(path, nullptr);
  EXPECT_TRUE(path->isEditable());
  EXPECT_EQ(path->geometry(), QRect(20, 160, 150, 22));
  EXPECT_EQ(SetPathCtrlAttribute(p, ALL_NAME, ATTR_PATH_CTRL_MAX_HISTORY, 32), 0);
  EXPECT_EQ(SetCtrlVal(p, ALL_NAME, "/data/trq/"), 0);
  EXPECT_EQ(AddItemToPathCtrlHistory(p, ALL_NAME, "/data/old/"), 0);
  EXPECT_EQ(path->currentText(), "/data/trq/");
  EXPECT_EQ(path->count(), 1);
  ASSERT_NE(qt::label_widget(p, ALL_NAME), nullptr);
  EXPECT_EQ(qt::label_widget(p, ALL_NAME)->text(), "Name");
  // The operator's choice from the history reaches the model.
  path->activated(0);
  std::string text;
  GetCtrlVal(p, ALL_NAME, &text);
  EXPECT_EQ(text, "/data/old/");
}

TEST_F(QtView, QtsOwnContextMenusStayShut) {
  const int p = load_all();
  std::vector<QWidget *> targets;
  for (int c : {ALL_GAIN, ALL_COUNT, ALL_NAME, ALL_CONTENTS, ALL_DIR}) {
    targets.push_back(qt::control_widget(p, c));
    for (QWidget *child : qt::control_widget(p, c)->findChildren<QWidget *>()) targets.push_back(child);
  }
  int opened = 0;
  for (QWidget *w : targets) {
    // A menu Qt opened would run its own loop; this closes it and counts it.
    QTimer::singleShot(0, [&] {
      if (QWidget *menu = QApplication::activePopupWidget()) {
        ++opened;
        menu->close();
      }
    });
    {
      testsupport::QtStep watch("a context menu event on a control");
      QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(4, 4), w->mapToGlobal(QPoint(4, 4)));
      QApplication::sendEvent(w, &e);
      QCoreApplication::processEvents();
    }
  }
  EXPECT_EQ(opened, 0);
}

TEST_F(QtView, FilesDroppedOnAControlGoToThePanel) {
  const int p = load_all();
  EnableDragAndDrop(p);
  // Qt hands a drop to the nearest widget under the pointer that takes drops.
  auto target = [](QWidget *w) {
    while (w != nullptr && !w->isWindow() && !w->acceptDrops()) w = w->parentWidget();
    return w;
  };
  const ui::model::Panel *panel = ui::model::find_panel(p);
  for (const ui::model::Control &c : panel->controls) {
    QWidget *body = qt::control_widget(p, c.id);
    if (body == nullptr || c.kind == ui::model::Kind::tab) continue;
    EXPECT_EQ(target(body), qt::panel_widget(p)) << "control " << c.id;
    for (QWidget *child : body->findChildren<QWidget *>()) {
      // A combo box's list is a popup window of its own.
      if (child->window() != qt::panel_widget(p)) continue;
      EXPECT_EQ(target(child), qt::panel_widget(p)) << "control " << c.id << " " << child->metaObject()->className();
    }
  }
}

TEST_F(QtView, SwitchesShowTheirColourAlsoAtRest) {
  const int p = load_all();
  const int toggle = NewCtrl(p, CTRL_TOGGLE, 0, "", 400, 20, 24, 60);
  const int momentary = NewCtrl(p, CTRL_TOGGLE, 0, "", 400, 100, 24, 60);
  SetCtrlAttribute(p, toggle, ATTR_ON_COLOR, 0x00C000);
  SetCtrlAttribute(p, momentary, ATTR_ON_COLOR, 0xFF8000);
  auto picture = [&](int c) { return qt::control_widget(p, c)->grab().toImage(); };
  EXPECT_NE(picture(toggle), picture(momentary));
  EXPECT_NE(qt::switch_colour(p, toggle), qt::switch_colour(p, momentary));
  SetCtrlAttribute(p, momentary, ATTR_ON_COLOR, 0x00C000);
  EXPECT_EQ(picture(toggle), picture(momentary));
  // Off is still told from on.
  SetCtrlVal(p, momentary, 1);
  EXPECT_NE(picture(toggle), picture(momentary));
  EXPECT_EQ(qt::switch_colour(p, momentary), QColor(0, 0xC0, 0));
}

TEST_F(QtView, ClickBesideTheControlsGoesToThePanel) {
  const int p = load_all();
  QTest::mouseClick(qt::panel_content(p), Qt::LeftButton, Qt::NoModifier, QPoint(300, 10));
  EXPECT_EQ(kinds(p, 0), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_LEFT_CLICK_UP}));
  ASSERT_FALSE(headless::events().empty());
  EXPECT_EQ(headless::events().front().data1, 10);
  EXPECT_EQ(headless::events().front().data2, 300);
}

TEST_F(QtView, ContextBarsAreNotShownInThePanel) {
  const int p = LoadPanel(0, resource().c_str(), 4);
  ASSERT_GT(p, 0) << ui::last_error_detail();
  DisplayPanel(p);
  auto *bar = qt::panel_widget(p)->findChild<QMenuBar *>();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->actions().size(), 2);
  EXPECT_EQ(bar->actions()[0]->text(), "File");
  ASSERT_GT(LoadMenuBar(p, resource().c_str(), 2), 0);
  ASSERT_GT(LoadMenuBar(p, resource().c_str(), 3), 0);
  bar = qt::panel_widget(p)->findChild<QMenuBar *>();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->actions().size(), 2);
  EXPECT_EQ(bar->actions()[0]->text(), "File");
}

TEST_F(QtView, AClickOnTheChosenListRowChoosesItAgain) {
  const int p = load_all();
  auto *list = widget<QListWidget>(p, ALL_RECENT);
  ASSERT_GE(list->count(), 2);
  auto click_row = [&](int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(list->item(row)).center());
  };
  click_row(1);
  click_row(1);
  const std::vector<int> ks = kinds(p, ALL_RECENT);
  EXPECT_EQ(std::count(ks.begin(), ks.end(), EVENT_COMMIT), 2);
  EXPECT_EQ(std::count(ks.begin(), ks.end(), EVENT_VAL_CHANGED), 2);
  int index = -1;
  GetCtrlIndex(p, ALL_RECENT, &index);
  EXPECT_EQ(index, 1);
}

TEST_F(QtView, ChildPopupBecomesAModalWindow) {
  const int main = load_all();
  const int popup = LoadPanel(main, resource().c_str(), PNL_POPUP);
  QWidget *w = qt::panel_widget(popup);
  EXPECT_FALSE(w->isWindow());
  EXPECT_EQ(w->parentWidget(), qt::panel_content(main));
  InstallPopup(popup);
  EXPECT_TRUE(w->isWindow());
  EXPECT_EQ(w->windowModality(), Qt::ApplicationModal);
  EXPECT_TRUE(w->isVisible());
  // The operator answers inside the modal loop.
  QTimer::singleShot(0, [&] { QTest::mouseClick(qt::control_widget(popup, POPUP_QUIT), Qt::LeftButton); });
  {
    testsupport::QtStep watch("the click on the popup's Quit");
    int p = 0, c = 0;
    EXPECT_EQ(GetUserEvent(1, &p, &c), EVENT_COMMIT);
    EXPECT_EQ(c, POPUP_QUIT);
    RemovePopup(0);
  }
  EXPECT_FALSE(w->isWindow());
  EXPECT_FALSE(w->isVisible());
}

TEST_F(QtView, CloseBoxOfAChildPopupCommitsItsCloseControl) {
  const int main = load_all();
  const int popup = LoadPanel(main, resource().c_str(), PNL_POPUP);
  ASSERT_EQ(InstallPopup(popup), 0);
  int p = 0, c = 0;
  {
    testsupport::QtStep watch("the close box of the popup");
    QTimer::singleShot(0, [&] { qt::panel_widget(popup)->close(); });
    EXPECT_EQ(GetUserEvent(1, &p, &c), EVENT_COMMIT);
    EXPECT_EQ(p, popup);
    EXPECT_EQ(c, POPUP_CANCEL);  // the resource's close control
  }
  // Chosen at run time (attribute 592), as a dialog that shows a leave button does.
  ASSERT_EQ(SetPanelAttribute(popup, ATTR_CLOSE_CTRL, POPUP_QUIT), 0);
  {
    testsupport::QtStep watch("the close box, the close control chosen at run time");
    QTimer::singleShot(0, [&] { qt::panel_widget(popup)->close(); });
    EXPECT_EQ(GetUserEvent(1, &p, &c), EVENT_COMMIT);
    EXPECT_EQ(c, POPUP_QUIT);
  }
  EXPECT_TRUE(qt::panel_widget(popup)->isVisible());  // the program removes it
  RemovePopup(0);
}

TEST_F(QtView, LoopRunsOnQtAndMessageBoxesBlock) {
  testsupport::VirtualClock clock;
  const int p = load_all();
  // The timer ticks on the loop; a message box shown from the tick keeps the
  // operator's click from reaching the program until it closes.
  int ticks = 0, clicked_inside = 0;
  timer_hook = [&](int, int) {
    if (++ticks == 2) {
      QTimer::singleShot(0, [&] {
        clicked_inside = headless::click(p, ALL_POWER);
        if (QWidget *box = QApplication::activeModalWidget()) box->close();
      });
      MessagePopup("Error", "while ticking");
    }
    if (ticks == 3) QuitUserInterface(9);
    return 0;
  };
  {
    testsupport::QtStep watch("the loop with a message box shown from a tick");
    EXPECT_EQ(RunUserInterface(), 9);
  }
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(clicked_inside, UIE_NOT_OPERABLE);
  EXPECT_TRUE(kinds(p, ALL_POWER).empty());
  ASSERT_FALSE(headless::shown().empty());
  EXPECT_EQ(headless::shown().back().title, "Error");

  // A generic message box answers with the button pressed.
  QTimer::singleShot(0, [] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    for (QAbstractButton *b : box->buttons())
      if (b->text() == "Cancel") b->click();
  });
  {
    testsupport::QtStep watch("the Cancel button of a generic message box");
    EXPECT_EQ(GenericMessagePopup("Warning", "Selected directory does not exist", "Yes", "Cancel", nullptr, nullptr,
                                  0, 0, 1, 1, 2),
              2);
  }
  EXPECT_EQ(headless::shown().back().answer, 2);
}

TEST_F(QtView, WatchedDescriptorWakesTheWait) {
  load_all();
  stop_timers();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int got = 0;
  ui::watch_fd(fds[0], [&](int fd) {
    char b;
    if (read(fd, &b, 1) == 1) got = b;
    QuitUserInterface(0);
  });
  // Written once the loop already waits on Qt.
  QTimer::singleShot(0, [&] { (void)!write(fds[1], "x", 1); });
  EXPECT_EQ(RunUserInterface(), 0);
  EXPECT_EQ(got, 'x');
  close(fds[0]);
  close(fds[1]);
}

// A DDE server is served by the Qt loop as by the headless one.
TEST_F(QtView, DdeServerIsServedByTheQtLoop) {
  load_all();
  for (int h : ui::model::panel_handles())
    if (const auto *pp = ui::model::find_panel(h))
      for (const auto &c : pp->controls)
        if (c.kind == ui::model::Kind::timer) SetCtrlAttribute(h, c.id, ATTR_ENABLED, 0);
  testsupport::TempDir dir;
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  static std::vector<std::string> heard;
  heard.clear();
  ASSERT_EQ(RegisterDDEServer("KMV-USB",
                              [](unsigned, char *, char *item, int type, int, int size, void *data, void *) {
                                if (type == DDE_DATAREADY) heard.emplace_back(static_cast<char *>(data), size);
                                if (type == DDE_EXECUTE) {
                                  heard.emplace_back(item);
                                  QuitUserInterface(0);
                                }
                                return 1;
                              },
                              nullptr),
            0);
  int r[3] = {-1, -1, -1};
  std::thread client([&] {
    int h = -1;
    r[0] = ConnectToDDEServer(&h, "KMV-USB", "DDE Data Exchange", nullptr, nullptr);
    r[1] = ClientDDEWrite(h, "File_Name", DDE_TEXT, "/a.set", 6, 5000);
    r[2] = ClientDDEExecute(h, "Quit", 5000);
    DisconnectFromDDEServer(h);
  });
  EXPECT_EQ(RunUserInterface(), 0);
  client.join();
  EXPECT_EQ(UnregisterDDEServer("KMV-USB"), 0);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(r[0], 0);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(r[2], 0);
  EXPECT_EQ(heard, (std::vector<std::string>{"/a.set", "Quit"}));
}

TEST_F(QtView, ASignalEndsTheLoopAndClosesAnOpenDialog) {
  load_all();
  stop_timers();
  struct Signals {
    Signals() { EXPECT_EQ(ui::quit_on_signals(), 0); }
    ~Signals() { ui::stop_quit_signals(); }
  };
  {
    Signals on;
    QTimer::singleShot(0, [] { std::raise(SIGTERM); });  // once the loop waits on Qt
    EXPECT_EQ(RunUserInterface(), 0);
  }
  Signals on;
  // A dialog open when the signal comes closes with its default answer.
  QTimer::singleShot(20, [] { std::raise(SIGINT); });
  {
    testsupport::QtStep watch("a generic message box open when the signal comes");
    EXPECT_EQ(GenericMessagePopup("Warning", "Selected directory does not exist", "Yes", "Cancel", nullptr, nullptr,
                                  0, 0, 1, 1, 2),
              1);
  }
  // Later popups ask nobody.
  bool shown = false;
  QTimer::singleShot(0, [&] {
    if (QWidget *box = QApplication::activeModalWidget()) {
      shown = true;
      box->close();
    }
  });
  testing::internal::CaptureStderr();
  {
    testsupport::QtStep watch("a message box after the signal");
    EXPECT_EQ(MessagePopup("Error", "after the signal"), 0);
  }
  EXPECT_NE(testing::internal::GetCapturedStderr().find("after the signal -> OK"), std::string::npos);
  QCoreApplication::processEvents();
  EXPECT_FALSE(shown);
}

TEST_F(QtView, PanelPictureIsSaved) {
  const int p = load_all();
  testsupport::TempDir dir;
  const std::string png = dir.file("all.png");
  ASSERT_EQ(SavePanelDisplayToFile(p, 0, 0, 0, 0, png.c_str()), 0);
  QImage img(QString::fromStdString(png));
  EXPECT_EQ(img.size(), QSize(640, 520));
  ASSERT_EQ(SavePanelDisplayToFile(p, 10, 20, 100, 200, png.c_str()), 0);
  EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(200, 100));
  EXPECT_EQ(SavePanelDisplayToFile(p, 0, 0, 0, 0, dir.file("no/such/dir.png").c_str()), UIE_FAILURE);
}

TEST(QtKeys, CodesOfTheQtKeys) {
  struct Case {
    int key;
    Qt::KeyboardModifiers mods;
    const char *text;
    int code;
  };
  const Case cases[] = {
      {Qt::Key_Return, Qt::NoModifier, "\r", VAL_ENTER_VKEY},
      {Qt::Key_Enter, Qt::KeypadModifier, "\r", VAL_ENTER_VKEY},
      {Qt::Key_Space, Qt::NoModifier, " ", ' '},
      {Qt::Key_A, Qt::ShiftModifier, "A", 'A'},
      {Qt::Key_A, Qt::ControlModifier, "\x01", 'A' | VAL_MENUKEY_MODIFIER},
      {Qt::Key_F8, Qt::NoModifier, "", VAL_F8_VKEY},
      {Qt::Key_F1, Qt::ShiftModifier, "", VAL_F1_VKEY | VAL_SHIFT_MODIFIER},
      {Qt::Key_Up, Qt::NoModifier, "", VAL_UP_ARROW_VKEY},
      {Qt::Key_Shift, Qt::ShiftModifier, "", 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(qt::key_code(c.key, c.mods, QString::fromLatin1(c.text)), c.code) << c.key;
}

}  // namespace
