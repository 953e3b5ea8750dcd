// The Qt 6 Widgets view of the panel model: panels as windows, child widgets
// or tab pages at the resource's coordinates, one widget per control, popups
// as Qt dialogs, the model's loop waiting on Qt's. Operator input goes back
// to the model through platform/ui/input.h, which sends the events.
#include "platform/ui_qt/qt_view.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>

#include "platform/ui/input.h"
#include "platform/ui/model.h"
#include "platform/ui/popups.h"
#include "platform/ui/ui.h"
#include "platform/ui/view.h"
#include "platform/ui_qt/qt_start.h"

namespace platform::ui_qt {
namespace {

namespace ui = platform::ui;
namespace input = platform::ui::input;
using ui::model::Control;
using ui::model::Kind;
using ui::model::Panel;

QColor colour(int rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }
bool transparent(int rgb) { return rgb == VAL_TRANSPARENT; }

// A rounded toggle switch drawn in its on colour; at rest its frame and a
// pale fill keep that colour, so switches of different colours differ also
// while off.
class SwitchWidget : public QWidget {
 public:
  using QWidget::QWidget;
  bool on = false;
  QColor on_colour{0, 192, 0};
  QColor rest() const {
    auto pale = [](int v) { return (v + 3 * 240) / 4; };
    return QColor(pale(on_colour.red()), pale(on_colour.green()), pale(on_colour.blue()));
  }
  QColor current() const {
    if (!isEnabled()) return QColor(160, 160, 160);
    return on ? on_colour : rest();
  }

 protected:
  void paintEvent(QPaintEvent *) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const qreal radius = r.height() / 2;
    p.setPen(isEnabled() ? QPen(on_colour.darker(125), 2) : QPen(QColor(120, 120, 120), 1));
    p.setBrush(current());
    p.drawRoundedRect(r, radius, radius);
    const qreal d = r.height() - 4;
    const qreal x = on ? r.right() - d - 2 : r.left() + 2;
    p.setBrush(isEnabled() ? QColor(250, 250, 250) : QColor(220, 220, 220));
    p.drawEllipse(QRectF(x, r.top() + 2, d, d));
    p.setPen(on ? Qt::white : QColor(60, 60, 60));
    QFont f = font();
    f.setPixelSize(std::max(8, static_cast<int>(r.height() * 0.45)));
    p.setFont(f);
    const QRectF text = on ? QRectF(r.left() + 4, r.top(), r.width() - d - 8, r.height())
                           : QRectF(r.left() + d + 4, r.top(), r.width() - d - 8, r.height());
    p.drawText(text, Qt::AlignCenter, on ? "ON" : "OFF");
  }
};

// A round indicator lamp.
class LedWidget : public QWidget {
 public:
  using QWidget::QWidget;
  bool on = false;
  QColor on_colour{0, 192, 0}, off_colour{64, 64, 64};
  QColor current() const { return on ? on_colour : off_colour; }

 protected:
  void paintEvent(QPaintEvent *) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal d = std::min(width(), height()) - 2;
    const QRectF r((width() - d) / 2, (height() - d) / 2, d, d);
    QRadialGradient g(r.center() - QPointF(d / 5, d / 5), d / 1.5);
    g.setColorAt(0, current().lighter(170));
    g.setColorAt(1, isEnabled() ? current() : current().darker(150));
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(g);
    p.drawEllipse(r);
  }
};

// A filled frame; transparent draws only its outline.
class DecorationWidget : public QFrame {
 public:
  explicit DecorationWidget(QWidget *parent) : QFrame(parent) { setFrameStyle(QFrame::StyledPanel | QFrame::Raised); }
  int fill = 0xD4D0C8;

 protected:
  void paintEvent(QPaintEvent *e) override {
    if (!transparent(fill)) {
      QPainter p(this);
      p.fillRect(rect(), colour(fill));
    }
    QFrame::paintEvent(e);
  }
};

class QtView;

// A quit signal ends the dialog or menu Qt runs modally (its default answer
// is the library's then).
class EndOnQuitSignal {
 public:
  EndOnQuitSignal(QObject *context, std::function<void()> end) {
    const int fd = ui::quit_signal_fd();
    if (fd < 0) return;
    note_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(note_.get(), &QSocketNotifier::activated, context, std::move(end));
  }

 private:
  std::unique_ptr<QSocketNotifier> note_;
};

// A panel: a window, a child widget or a tab page; controls lie in content.
class PanelWidget : public QWidget {
 public:
  PanelWidget(QtView *view, int handle, QWidget *parent) : QWidget(parent), view_(view), handle_(handle) {
    content = new QWidget(this);
    content->setObjectName("content");
  }
  QWidget *content;
  QMenuBar *menubar = nullptr;
  int menubar_handle = 0;
  int menubar_height() const { return menubar ? menubar->sizeHint().height() : 0; }
  int handle() const { return handle_; }

 protected:
  void closeEvent(QCloseEvent *e) override;
  void resizeEvent(QResizeEvent *e) override;
  void moveEvent(QMoveEvent *e) override;
  void changeEvent(QEvent *e) override;
  void dragEnterEvent(QDragEnterEvent *e) override;
  void dropEvent(QDropEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;
  void mousePressEvent(QMouseEvent *e) override;
  void mouseReleaseEvent(QMouseEvent *e) override;

 private:
  QtView *view_;
  int handle_;
};

struct Item {
  QPointer<QWidget> body;
  QPointer<QLabel> label;
  Kind kind = Kind::decoration;  // the kind the widgets were made for
};

struct PanelView {
  QPointer<PanelWidget> widget;
  std::map<int, Item> items;
  bool popup = false;
};

class QtView : public ui::View, public ui::PopupView, public QObject {
 public:
  ~QtView() override {
    for (auto &[h, pv] : panels_)
      if (pv.widget && pv.widget->parentWidget() == nullptr) delete pv.widget.data();
  }

  // --- model notifications
  void panel_added(int h) override {
    ensure_panel(h);
    sync_panel(h);
  }

  void panel_removed(int h) override {
    auto it = panels_.find(h);
    if (it == panels_.end()) return;
    if (PanelWidget *w = it->second.widget) {
      // A page leaves its tab widget first.
      for (auto &[ph, pv] : panels_)
        for (auto &[c, item] : pv.items)
          if (auto *tw = qobject_cast<QTabWidget *>(item.body.data()))
            if (const int at = tw->indexOf(w); at >= 0) {
              QSignalBlocker block(tw);
              tw->removeTab(at);
            }
      w->hide();
      w->setParent(nullptr);
      w->deleteLater();
    }
    panels_.erase(it);
  }

  void panel_changed(int h) override { sync_panel(h); }

  void control_added(int h, int c) override {
    ensure_control(h, c);
    sync_control(h, c);
  }

  void control_removed(int h, int c) override { drop_widgets(h, c); }

  void drop_widgets(int h, int c) {
    auto it = panels_.find(h);
    if (it == panels_.end()) return;
    auto ci = it->second.items.find(c);
    if (ci == it->second.items.end()) return;
    for (QWidget *w : {static_cast<QWidget *>(ci->second.body.data()), static_cast<QWidget *>(ci->second.label.data())}) {
      if (w == nullptr) continue;
      w->hide();
      w->deleteLater();
    }
    it->second.items.erase(ci);
  }

  void control_changed(int h, int c) override { sync_control(h, c); }

  void menubar_changed(int) override {
    for (auto &[h, pv] : panels_) sync_menubar(h);
  }

  void focus_changed(int p, int c) override {
    if (PanelWidget *pw = panel_widget(p); pw != nullptr && windowing_ && pw->isVisible() &&
                                           !pw->window()->isActiveWindow()) {
      Guard g(this);
      pw->window()->raise();
      pw->window()->activateWindow();
    }
    if (c == 0) return;
    QWidget *w = control_widget(p, c);
    if (w == nullptr || w->hasFocus() || !w->isVisible()) return;
    Guard g(this);
    w->setFocus(Qt::OtherFocusReason);
  }

  void wait(double timeout, const std::vector<int> &fds) override {
    if (woken_) {
      woken_ = false;
      return;
    }
    QEventLoop loop;
    QEventLoop *outer = loop_;
    loop_ = &loop;
    std::vector<std::unique_ptr<QSocketNotifier>> notes;
    for (int fd : fds) {
      auto n = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
      QObject::connect(n.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
      notes.push_back(std::move(n));
    }
    QTimer timer;
    timer.setSingleShot(true);
    if (timeout >= 0) {
      QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
      timer.start(static_cast<int>(std::min(3.6e6, std::ceil(timeout * 1000.0))));
    }
    loop.exec();
    loop_ = outer;
    woken_ = false;
  }

  void poll() override {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  void wake() override {
    if (loop_) loop_->quit();
    else woken_ = true;
  }

  int popup_menu(int bar, int menu, int panel, int top, int left) override {
    const ui::model::MenuBar *mb = ui::model::find_menubar(bar);
    const ui::model::Menu *m = mb ? mb->menu(menu) : nullptr;
    QWidget *content = panel_content(panel);
    if (m == nullptr || content == nullptr) return 0;
    QMenu qmenu(content);
    for (const ui::model::MenuItem &i : m->items) {
      QAction *a = qmenu.addAction(QString::fromStdString(i.label));
      a->setCheckable(i.checked);
      a->setChecked(i.checked);
      a->setEnabled(!i.dimmed);
      a->setData(i.id);
    }
    EndOnQuitSignal end(&qmenu, [&qmenu] { qmenu.close(); });
    QAction *chosen = qmenu.exec(content->mapToGlobal(QPoint(left, top)));
    return chosen ? chosen->data().toInt() : 0;
  }

  int save_image(int panel, int top, int left, int height, int width, const std::string &path) override {
    QWidget *content = panel_content(panel);
    if (content == nullptr) return UIE_PANEL_INVALID;
    QCoreApplication::processEvents();
    const QRect area = (height > 0 && width > 0) ? QRect(left, top, width, height) : QRect();
    const QPixmap pix = area.isNull() ? content->grab() : content->grab(area);
    return pix.save(QString::fromStdString(path)) ? 0 : UIE_FAILURE;
  }

  bool mouse(int panel, int *x, int *y, int *left_button) override {
    QWidget *content = panel_content(panel);
    if (content == nullptr) return false;
    const QPoint pt = content->mapFromGlobal(QCursor::pos());
    *x = pt.x();
    *y = pt.y();
    *left_button = (QGuiApplication::mouseButtons() & Qt::LeftButton) ? 1 : 0;
    return true;
  }

  // --- popups
  QWidget *dialog_parent() const {
    const int p = ui::model::top_popup() ? ui::model::top_popup() : ui::model::active_panel();
    QWidget *w = panel_widget(p);
    return w ? w->window() : nullptr;
  }

  int message(const ui::ShownPopup &p) override {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(p.title), QString::fromStdString(p.message),
                    QMessageBox::Ok, dialog_parent());
    EndOnQuitSignal end(&box, [&box] { box.reject(); });
    box.exec();
    return 0;
  }

  int generic(const ui::ShownPopup &p) override {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(p.title), QString::fromStdString(p.message),
                    QMessageBox::NoButton, dialog_parent());
    std::vector<QPushButton *> buttons;
    for (const std::string &b : p.buttons) buttons.push_back(box.addButton(QString::fromStdString(b), QMessageBox::ActionRole));
    if (p.enter >= 1 && p.enter <= static_cast<int>(buttons.size())) box.setDefaultButton(buttons[p.enter - 1]);
    if (p.escape >= 1 && p.escape <= static_cast<int>(buttons.size())) box.setEscapeButton(buttons[p.escape - 1]);
    EndOnQuitSignal end(&box, [&box] { box.reject(); });
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i)
      if (box.clickedButton() == buttons[i]) return static_cast<int>(i) + 1;
    return p.escape >= 1 ? p.escape : 1;
  }

  int confirm(const ui::ShownPopup &p) override {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(p.title), QString::fromStdString(p.message),
                    QMessageBox::Yes | QMessageBox::No, dialog_parent());
    box.setDefaultButton(QMessageBox::Yes);
    EndOnQuitSignal end(&box, [&box] { box.reject(); });
    return box.exec() == QMessageBox::Yes ? 1 : 0;
  }

  int file_select(const ui::ShownPopup &p, std::string *path) override {
    QString filter = QString::fromStdString(p.file_types.empty() ? p.file_spec : p.file_types);
    filter.replace(';', ' ');
    QFileDialog dlg(dialog_parent(), QString::fromStdString(p.title), QString::fromStdString(p.directory),
                    filter.contains('*') ? QString("Files (%1)").arg(filter) : QString());
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    if (!p.allow_make_directory) dlg.setOption(QFileDialog::ReadOnly);
    const bool saving = p.button_label == VAL_SAVE_BUTTON;
    dlg.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (!p.file_spec.empty() && p.file_spec.find_first_of("*?") == std::string::npos)
      dlg.selectFile(QString::fromStdString(p.file_spec));
    QStringList dirs;
    for (const std::string &d : ui::headless::dir_history()) dirs << QString::fromStdString(d);
    if (!dirs.isEmpty()) dlg.setHistory(dirs);
    EndOnQuitSignal end(&dlg, [&dlg] { dlg.reject(); });
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return VAL_NO_FILE_SELECTED;
    *path = dlg.selectedFiles().front().toStdString();
    return QFileInfo(dlg.selectedFiles().front()).isFile() ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
  }

  int dir_select(const ui::ShownPopup &p, std::string *path) override {
    QFileDialog dlg(dialog_parent(), QString::fromStdString(p.title), QString::fromStdString(p.directory));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setOption(QFileDialog::ShowDirsOnly);
    if (!p.allow_make_directory) dlg.setOption(QFileDialog::ReadOnly);
    dlg.setFileMode(QFileDialog::Directory);
    EndOnQuitSignal end(&dlg, [&dlg] { dlg.reject(); });
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return VAL_NO_DIRECTORY_SELECTED;
    *path = dlg.selectedFiles().front().toStdString();
    return VAL_DIRECTORY_SELECTED;
  }

  // --- lookups for the tests and the widgets
  PanelWidget *panel_widget(int h) const {
    const auto it = panels_.find(h);
    return it == panels_.end() ? nullptr : it->second.widget.data();
  }
  QWidget *panel_content(int h) const {
    PanelWidget *w = panel_widget(h);
    return w ? w->content : nullptr;
  }
  QWidget *control_widget(int h, int c) const {
    const auto it = panels_.find(h);
    if (it == panels_.end()) return nullptr;
    const auto ci = it->second.items.find(c);
    return ci == it->second.items.end() ? nullptr : ci->second.body.data();
  }
  QLabel *label_widget(int h, int c) const {
    const auto it = panels_.find(h);
    if (it == panels_.end()) return nullptr;
    const auto ci = it->second.items.find(c);
    return ci == it->second.items.end() ? nullptr : ci->second.label.data();
  }
  bool syncing() const { return syncing_ > 0; }
  bool forwarding() const { return forwarding_; }

  // --- operator input reported by the panels
  void panel_closed(int h) { input::close_panel(h); }
  void panel_resized(int h) {
    if (syncing()) return;
    PanelWidget *w = panel_widget(h);
    const Panel *p = ui::model::find_panel(h);
    if (w == nullptr || p == nullptr || p->tab_control != 0) return;
    const QRect g = w->geometry();
    if (g.width() == p->width && g.height() - w->menubar_height() == p->height && g.x() == p->left && g.y() == p->top)
      return;
    input::panel_geometry(h, g.y(), g.x(), std::max(0, g.height() - w->menubar_height()), g.width());
  }
  void panel_state(int h) {
    if (syncing()) return;
    PanelWidget *w = panel_widget(h);
    if (w == nullptr || !w->isWindow()) return;
    const int zoom = w->isMinimized() ? VAL_MINIMIZE : w->isMaximized() ? VAL_MAXIMIZE : VAL_NO_ZOOM;
    const Panel *p = ui::model::find_panel(h);
    if (p != nullptr && p->zoom != zoom) input::panel_zoom(h, zoom);
  }
  // The operator brought a window to the front: its panel becomes the active
  // one, unless the active panel already lies in that window.
  void panel_activated(int h) {
    if (syncing()) return;
    const int active = ui::model::active_panel();
    for (const Panel *p = ui::model::find_panel(active); p != nullptr; p = ui::model::find_panel(p->parent)) {
      if (p->handle == h) return;
      if (p->parent == 0 || ui::model::is_popup(p->handle)) break;
    }
    input::activate_panel(h);
  }

 protected:
  bool eventFilter(QObject *obj, QEvent *e) override;

 private:
  struct Guard {
    explicit Guard(QtView *v) : v(v) { ++v->syncing_; }
    ~Guard() { --v->syncing_; }
    QtView *v;
  };

  void ensure_panel(int h);
  void sync_panel(int h);
  void sync_menubar(int h);
  void ensure_control(int h, int c);
  void sync_control(int h, int c);
  void sync_tabs(int h, const Control &tab);
  QWidget *make_body(int h, const Control &c, QWidget *parent);
  void watch(QWidget *body, int h, int c);
  void after_input(int h, int c, int result) {
    // Input the model refused: show its value again.
    if (result != 0 && result != 1) sync_control(h, c);
  }

  static bool model_operable(int h, int c) {
    const Panel *p = ui::model::find_panel(h);
    const Control *cc = p ? p->control(c) : nullptr;
    return cc != nullptr && cc->mode == VAL_HOT && ui::model::control_operable(h, c);
  }

  std::map<int, PanelView> panels_;
  // The offscreen platform has no window stacking to ask for.
  const bool windowing_ = QGuiApplication::platformName() != "offscreen";
  bool forwarding_ = false;
  int syncing_ = 0;
  QEventLoop *loop_ = nullptr;
  bool woken_ = false;
};

QtView *the_view = nullptr;
std::unique_ptr<QApplication> own_app;

// --- PanelWidget events

void PanelWidget::closeEvent(QCloseEvent *e) {
  e->ignore();
  view_->panel_closed(handle_);
}
void PanelWidget::resizeEvent(QResizeEvent *e) {
  QWidget::resizeEvent(e);
  if (menubar) menubar->setGeometry(0, 0, width(), menubar_height());
  if (isWindow() && e->spontaneous()) view_->panel_resized(handle_);
}
void PanelWidget::moveEvent(QMoveEvent *e) {
  QWidget::moveEvent(e);
  if (isWindow() && e->spontaneous()) view_->panel_resized(handle_);
}
void PanelWidget::changeEvent(QEvent *e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange) view_->panel_state(handle_);
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && e->spontaneous()) view_->panel_activated(handle_);
}
void PanelWidget::dragEnterEvent(QDragEnterEvent *e) {
  const Panel *p = ui::model::find_panel(handle_);
  if (p != nullptr && p->drops && e->mimeData()->hasUrls()) e->acceptProposedAction();
}
void PanelWidget::dropEvent(QDropEvent *e) {
  std::vector<std::string> paths;
  for (const QUrl &u : e->mimeData()->urls())
    if (u.isLocalFile()) paths.push_back(u.toLocalFile().toStdString());
  if (!paths.empty() && input::drop_files(handle_, paths) == 0) e->acceptProposedAction();
}
void PanelWidget::keyPressEvent(QKeyEvent *e) {
  // A key a control's widget did not use comes up here; the control had it.
  if (view_->forwarding()) {
    e->ignore();
    return;
  }
  const int code = key_code(e->key(), e->modifiers(), e->text());
  if (code == 0 || input::key(handle_, 0, code) != 0) QWidget::keyPressEvent(e);
}
void PanelWidget::mousePressEvent(QMouseEvent *e) {
  e->accept();  // the panel's own: not for a tab control holding it
  view_->panel_activated(handle_);
  if (e->button() == Qt::LeftButton) {
    const QPoint at = content->mapFrom(this, e->position().toPoint());
    input::press(handle_, 0, at.x(), at.y());
  }
}
void PanelWidget::mouseReleaseEvent(QMouseEvent *e) {
  e->accept();
  if (e->button() == Qt::LeftButton) {
    const QPoint at = content->mapFrom(this, e->position().toPoint());
    input::release(handle_, 0, at.x(), at.y());
  }
}

// --- building and syncing

void QtView::ensure_panel(int h) {
  if (panels_.count(h)) return;
  const Panel *p = ui::model::find_panel(h);
  if (p == nullptr) return;
  QWidget *parent = nullptr;
  if (p->parent != 0) {
    ensure_panel(p->parent);
    parent = p->tab_control != 0 ? nullptr : panel_content(p->parent);
  }
  auto *w = new PanelWidget(this, h, parent);
  w->setProperty("trq_panel", h);
  if (parent == nullptr && p->tab_control == 0) w->setAttribute(Qt::WA_QuitOnClose, false);
  panels_[h].widget = w;
  w->installEventFilter(this);
  w->content->installEventFilter(this);
  // Re-read: ensuring the parent may have run notifications.
  p = ui::model::find_panel(h);
  for (const Control &c : p->controls) ensure_control(h, c.id);
  for (const Control &c : p->controls) sync_control(h, c.id);
  if (p->tab_control != 0)
    if (const Panel *owner = ui::model::find_panel(p->parent))
      if (const Control *tab = owner->control(p->tab_control)) sync_tabs(p->parent, *tab);
  sync_menubar(h);
}

void QtView::sync_menubar(int h) {
  PanelWidget *w = panel_widget(h);
  const Panel *p = ui::model::find_panel(h);
  if (w == nullptr || p == nullptr) return;
  const ui::model::MenuBar *bar = p->menubar ? ui::model::find_menubar(p->menubar) : nullptr;
  if (bar == nullptr) {
    if (w->menubar) {
      w->menubar->deleteLater();
      w->menubar = nullptr;
      w->menubar_handle = 0;
      sync_panel(h);
    }
    return;
  }
  const bool fresh = w->menubar == nullptr;
  if (fresh) w->menubar = new QMenuBar(w);
  w->menubar->clear();
  w->menubar_handle = bar->handle;
  const int bar_handle = bar->handle;
  for (const ui::model::Menu &m : bar->menus) {
    QMenu *menu = w->menubar->addMenu(QString::fromStdString(m.label));
    menu->setEnabled(!m.dimmed);
    for (const ui::model::MenuItem &i : m.items) {
      QAction *a = menu->addAction(QString::fromStdString(i.label));
      a->setCheckable(i.checked);
      a->setChecked(i.checked);
      a->setEnabled(!i.dimmed);
      const int id = i.id;
      QObject::connect(a, &QAction::triggered, [bar_handle, id] { input::pick_menu_item(bar_handle, id); });
    }
  }
  w->menubar->show();
  if (fresh) sync_panel(h);
}

void QtView::sync_panel(int h) {
  PanelWidget *w = panel_widget(h);
  const Panel *p = ui::model::find_panel(h);
  if (w == nullptr || p == nullptr) return;
  Guard g(this);
  PanelView &pv = panels_[h];
  const bool popup = ui::model::is_popup(h);
  const int mbh = w->menubar_height();

  // An installed popup is its own modal window, also when it is a child panel.
  if (p->tab_control == 0) {
    const bool window = p->parent == 0 || popup;
    if (window && (!w->isWindow() || pv.popup != popup)) {
      const bool was_visible = w->isVisible();
      Qt::WindowFlags flags = popup ? Qt::Dialog : Qt::Window;
      QWidget *owner = popup && p->parent ? panel_widget(p->parent) : nullptr;
      w->setParent(owner ? owner->window() : nullptr, flags);
      w->setWindowModality(popup ? Qt::ApplicationModal : Qt::NonModal);
      w->setAttribute(Qt::WA_QuitOnClose, false);
      if (was_visible) w->show();
    } else if (!window && w->isWindow()) {
      w->setParent(panel_content(p->parent), Qt::Widget);
    }
    pv.popup = popup;
  }

  w->setWindowTitle(QString::fromStdString(p->title));
  w->setAcceptDrops(p->drops);
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, colour(p->back_color));
  w->content->setPalette(pal);
  w->content->setAutoFillBackground(true);
  w->content->setEnabled(!p->dimmed);
  w->content->setGeometry(0, mbh, p->width, p->height);
  if (w->menubar) w->menubar->setGeometry(0, 0, p->width, mbh);

  if (p->tab_control != 0) {
    // Tab pages: the tab widget owns their place; only the title is ours.
    if (const Panel *owner = ui::model::find_panel(p->parent))
      if (const Control *tab = owner->control(p->tab_control)) sync_tabs(p->parent, *tab);
    return;
  }
  if (w->isWindow()) {
    int top = p->top, left = p->left;
    if (popup && p->parent != 0) {
      // A child popup opens over its parent, where the panel would lie.
      if (QWidget *pc = panel_content(p->parent)) {
        const QPoint at = pc->mapToGlobal(QPoint(left, top));
        top = at.y();
        left = at.x();
      }
    }
    w->setGeometry(left, top, p->width, p->height + mbh);
    Qt::WindowFlags flags = w->windowFlags();
    const bool on_top = p->floating == VAL_FLOAT_ALWAYS;
    if (bool(flags & Qt::WindowStaysOnTopHint) != on_top) {
      w->setWindowFlag(Qt::WindowStaysOnTopHint, on_top);
    }
  } else {
    w->setGeometry(p->left, p->top, p->width, p->height + mbh);
  }
  if (p->visible) {
    if (w->isWindow()) {
      if (p->zoom == VAL_MINIMIZE) w->showMinimized();
      else if (p->zoom == VAL_MAXIMIZE) w->showMaximized();
      else if (w->isMinimized() || w->isMaximized() || !w->isVisible()) w->showNormal();
      if ((popup || h == ui::model::active_panel()) && windowing_) {
        w->raise();
        w->activateWindow();
      }
    } else {
      w->show();
      w->raise();
    }
  } else {
    w->hide();
  }
  // A popup is painted before the program goes on (it may wait without the loop).
  if (popup && p->visible) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QWidget *QtView::make_body(int h, const Control &c, QWidget *parent) {
  switch (c.kind) {
    case Kind::command_button: {
      auto *b = new QPushButton(parent);
      b->setAutoDefault(false);
      return b;
    }
    case Kind::toggle: {
      auto *s = new SwitchWidget(parent);
      s->setFocusPolicy(Qt::StrongFocus);
      return s;
    }
    case Kind::check_box: return new QCheckBox(parent);
    case Kind::numeric: {
      const int id = c.id;
      QAbstractSpinBox *box = nullptr;
      if (c.data_type == VAL_FLOAT || c.data_type == VAL_DOUBLE) {
        auto *s = new QDoubleSpinBox(parent);
        QObject::connect(s, &QDoubleSpinBox::valueChanged, this, [this, h, id](double v) {
          if (syncing()) return;
          after_input(h, id, input::set_value(h, id, v));
        });
        box = s;
      } else {
        auto *s = new QSpinBox(parent);
        QObject::connect(s, &QSpinBox::valueChanged, this, [this, h, id](int v) {
          if (syncing()) return;
          after_input(h, id, input::set_value(h, id, v));
        });
        box = s;
      }
      box->setKeyboardTracking(false);
      // The model learns the number as it is typed, so that it commits it when
      // its focus leaves the box, whatever focus events the window gets.
      if (auto *edit = box->findChild<QLineEdit *>()) {
        QObject::connect(edit, &QLineEdit::textEdited, this, [this, box, h, id](const QString &t) {
          if (syncing()) return;
          bool ok = false;
          const double v = box->locale().toDouble(t.trimmed(), &ok);
          if (ok) input::edit_text(h, id, QString::number(v, 'g', 17).toStdString());  // a partial number is not one yet
        });
      }
      return box;
    }
    case Kind::string: {
      auto *e = new QLineEdit(parent);
      const int id = c.id;
      QObject::connect(e, &QLineEdit::textEdited, this, [this, h, id](const QString &t) {
        if (!syncing()) after_input(h, id, input::edit_text(h, id, t.toStdString()));
      });
      QObject::connect(e, &QLineEdit::returnPressed, this, [this, h, id] {
        if (!syncing()) input::commit(h, id);
      });
      return e;
    }
    case Kind::text_message: {
      auto *l = new QLabel(parent);
      l->setTextFormat(Qt::PlainText);
      return l;
    }
    case Kind::text_box: {
      auto *t = new QPlainTextEdit(parent);
      const int id = c.id;
      QObject::connect(t, &QPlainTextEdit::textChanged, this, [this, t, h, id] {
        if (!syncing()) after_input(h, id, input::edit_text(h, id, t->toPlainText().toStdString()));
      });
      return t;
    }
    case Kind::led: return new LedWidget(parent);
    case Kind::ring:
    case Kind::path: {
      auto *b = new QComboBox(parent);
      const int id = c.id;
      if (c.kind == Kind::path) {
        b->setEditable(true);
        b->setInsertPolicy(QComboBox::NoInsert);
        QObject::connect(b->lineEdit(), &QLineEdit::textEdited, this, [this, h, id](const QString &t) {
          if (!syncing()) after_input(h, id, input::edit_text(h, id, t.toStdString()));
        });
        QObject::connect(b->lineEdit(), &QLineEdit::returnPressed, this, [this, h, id] {
          if (!syncing()) input::commit(h, id);
        });
      }
      QObject::connect(b, &QComboBox::activated, this, [this, h, id](int index) {
        if (!syncing()) after_input(h, id, input::select_index(h, id, index));
      });
      return b;
    }
    case Kind::list_box: {
      auto *l = new QListWidget(parent);
      const int id = c.id;
      QObject::connect(l, &QListWidget::currentRowChanged, this, [this, h, id](int row) {
        if (!syncing() && row >= 0) after_input(h, id, input::select_index(h, id, row));
      });
      return l;
    }
    case Kind::tab: {
      auto *t = new QTabWidget(parent);
      const int id = c.id;
      QObject::connect(t, &QTabWidget::currentChanged, this, [this, h, id](int index) {
        if (!syncing() && index >= 0) after_input(h, id, input::select_tab(h, id, index));
      });
      return t;
    }
    case Kind::decoration: return new DecorationWidget(parent);
    case Kind::timer: return nullptr;
  }
  return nullptr;
}

void QtView::watch(QWidget *body, int h, int c) {
  body->setProperty("trq_panel", h);
  body->setProperty("trq_control", c);
  body->setProperty("trq_body", true);
  body->installEventFilter(this);
  // Files dropped on an entry field go to the panel, not into the text.
  body->setAcceptDrops(false);
  for (QWidget *child : body->findChildren<QWidget *>()) {
    // Pages of a tab control are panels of their own.
    if (dynamic_cast<PanelWidget *>(child) != nullptr) continue;
    child->setProperty("trq_panel", h);
    child->setProperty("trq_control", c);
    child->installEventFilter(this);
    child->setAcceptDrops(false);
  }
}

void QtView::ensure_control(int h, int c) {
  auto pit = panels_.find(h);
  if (pit == panels_.end() || pit->second.items.count(c)) return;
  const Panel *p = ui::model::find_panel(h);
  const Control *cc = p ? p->control(c) : nullptr;
  if (cc == nullptr) return;
  PanelWidget *w = pit->second.widget;
  Item item;
  item.kind = cc->kind;
  if (QWidget *body = make_body(h, *cc, w->content)) {
    body->setObjectName(QString("control%1").arg(c));
    watch(body, h, c);
    item.body = body;
    if (cc->kind == Kind::decoration) body->lower();
  }
  if (ui::model::label_outside(cc->kind)) {
    auto *l = new QLabel(w->content);
    l->setTextFormat(Qt::PlainText);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    item.label = l;
  }
  panels_[h].items[c] = item;
}

void QtView::sync_tabs(int h, const Control &tab) {
  auto *tw = qobject_cast<QTabWidget *>(control_widget(h, tab.id));
  if (tw == nullptr) return;
  Guard g(this);
  QSignalBlocker block(tw);
  for (std::size_t i = 0; i < tab.pages.size(); ++i) {
    PanelWidget *page = panel_widget(tab.pages[i]);
    if (page == nullptr) continue;
    const Panel *pp = ui::model::find_panel(tab.pages[i]);
    const QString title = pp ? QString::fromStdString(pp->title) : QString();
    const int at = tw->indexOf(page);
    if (at != static_cast<int>(i)) {
      if (at >= 0) tw->removeTab(at);
      tw->insertTab(static_cast<int>(i), page, title);
    } else {
      tw->setTabText(at, title);
    }
  }
  while (tw->count() > static_cast<int>(tab.pages.size())) tw->removeTab(tw->count() - 1);
  const int *active = std::get_if<int>(&tab.value);
  if (active && *active >= 0 && *active < tw->count()) tw->setCurrentIndex(*active);
}

void QtView::sync_control(int h, int c) {
  const Panel *p = ui::model::find_panel(h);
  const Control *cc = p ? p->control(c) : nullptr;
  auto pit = panels_.find(h);
  if (cc == nullptr || pit == panels_.end()) return;
  auto it = pit->second.items.find(c);
  if (it == pit->second.items.end()) return;
  if (it->second.kind != cc->kind) {
    // A control that changed its kind (a string made a path control) gets the
    // widgets of its new kind.
    drop_widgets(h, c);
    ensure_control(h, c);
    sync_control(h, c);
    return;
  }
  Guard g(this);
  QWidget *body = it->second.body;
  QLabel *label = it->second.label;
  const bool hot = cc->mode == VAL_HOT;

  if (label != nullptr) {
    label->setText(QString::fromStdString(cc->label));
    QFont f = label->font();
    if (cc->label_size > 0) f.setPointSize(cc->label_size);
    label->setFont(f);
    label->adjustSize();
    label->move(cc->label_left, cc->label_top);
    label->setVisible(cc->visible && cc->label_visible && !cc->label.empty());
    label->setEnabled(!cc->dimmed);
  }
  if (body == nullptr) return;
  QSignalBlocker block(body);
  body->setGeometry(cc->left, cc->top, cc->width, cc->height);
  body->setVisible(cc->visible);
  body->setEnabled(!cc->dimmed);
  body->setToolTip(QString::fromStdString(cc->tooltip));

  QPalette pal = QApplication::palette(body);
  if (cc->text_color != 0) {
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      pal.setColor(role, colour(cc->text_color));
  }
  if (!transparent(cc->back_color)) {
    for (auto role : {QPalette::Base, QPalette::Window}) pal.setColor(role, colour(cc->back_color));
  }
  body->setAutoFillBackground(!transparent(cc->back_color) &&
                              (cc->kind == Kind::toggle || cc->kind == Kind::text_message || cc->kind == Kind::check_box));
  if (cc->kind == Kind::command_button && !transparent(cc->fill_color) && cc->fill_color != 0xD4D0C8)
    pal.setColor(QPalette::Button, colour(cc->fill_color));
  body->setPalette(pal);

  auto as_int = [&]() {
    const int *v = std::get_if<int>(&cc->value);
    return v ? *v : 0;
  };
  switch (cc->kind) {
    case Kind::command_button: static_cast<QPushButton *>(body)->setText(QString::fromStdString(cc->label)); break;
    case Kind::toggle: {
      auto *s = static_cast<SwitchWidget *>(body);
      s->on = as_int() != 0;
      s->on_colour = colour(cc->on_color);
      s->update();
      break;
    }
    case Kind::check_box: static_cast<QCheckBox *>(body)->setChecked(as_int() != 0); break;
    case Kind::led: {
      auto *l = static_cast<LedWidget *>(body);
      l->on = as_int() != 0;
      l->on_colour = colour(cc->on_color);
      l->off_colour = transparent(cc->fill_color) ? QColor(64, 64, 64) : colour(cc->fill_color);
      l->update();
      break;
    }
    case Kind::numeric:
      if (cc->edited) break;  // a number being typed keeps its text until it is committed
      if (auto *d = qobject_cast<QDoubleSpinBox *>(body)) {
        d->setDecimals(cc->precision);
        d->setRange(cc->min, cc->max);
        if (const float *f = std::get_if<float>(&cc->value)) d->setValue(*f);
        if (const double *v = std::get_if<double>(&cc->value)) d->setValue(*v);
        d->setReadOnly(!hot);
        d->setButtonSymbols(hot ? QAbstractSpinBox::UpDownArrows : QAbstractSpinBox::NoButtons);
      } else if (auto *s = qobject_cast<QSpinBox *>(body)) {
        s->setRange(static_cast<int>(cc->min), static_cast<int>(cc->max));
        if (const int *i = std::get_if<int>(&cc->value)) s->setValue(*i);
        if (const short *v = std::get_if<short>(&cc->value)) s->setValue(*v);
        s->setReadOnly(!hot);
        s->setButtonSymbols(hot ? QAbstractSpinBox::UpDownArrows : QAbstractSpinBox::NoButtons);
      }
      break;
    case Kind::string: {
      auto *e = static_cast<QLineEdit *>(body);
      const QString text = QString::fromStdString(std::get<std::string>(cc->value));
      if (e->text() != text) e->setText(text);
      e->setMaxLength(cc->max_length > 0 ? cc->max_length : 32767);
      e->setReadOnly(!hot);
      break;
    }
    case Kind::text_message: static_cast<QLabel *>(body)->setText(QString::fromStdString(std::get<std::string>(cc->value))); break;
    case Kind::text_box: {
      auto *t = static_cast<QPlainTextEdit *>(body);
      const QString text = QString::fromStdString(std::get<std::string>(cc->value));
      if (t->toPlainText() != text) t->setPlainText(text);
      t->setReadOnly(!hot);
      t->verticalScrollBar()->setValue(cc->first_line);
      t->horizontalScrollBar()->setValue(cc->hscroll);
      break;
    }
    case Kind::ring:
    case Kind::path: {
      auto *b = static_cast<QComboBox *>(body);
      b->clear();
      if (cc->kind == Kind::ring) {
        for (const ui::model::ListItem &i : cc->items) b->addItem(QString::fromStdString(i.label));
        b->setCurrentIndex(cc->index);
        b->setEnabled(!cc->dimmed && hot);
      } else {
        for (const std::string &hpath : cc->history) b->addItem(QString::fromStdString(hpath));
        b->setMaxVisibleItems(std::max(1, cc->visible_history));
        b->setEditText(QString::fromStdString(std::get<std::string>(cc->value)));
        b->lineEdit()->setReadOnly(!hot);
      }
      break;
    }
    case Kind::list_box: {
      auto *l = static_cast<QListWidget *>(body);
      l->clear();
      for (const ui::model::ListItem &i : cc->items) l->addItem(QString::fromStdString(i.label));
      l->setCurrentRow(cc->index);
      break;
    }
    case Kind::tab: sync_tabs(h, *cc); break;
    case Kind::decoration: {
      auto *d = static_cast<DecorationWidget *>(body);
      d->fill = cc->fill_color;
      d->update();
      break;
    }
    case Kind::timer: break;
  }
}

// Mouse, keys and focus on the controls.
bool QtView::eventFilter(QObject *obj, QEvent *e) {
  auto *w = qobject_cast<QWidget *>(obj);
  if (w == nullptr) return false;
  const QVariant vp = w->property("trq_panel"), vc = w->property("trq_control");
  if (!vp.isValid() || !vc.isValid()) return false;
  const int h = vp.toInt(), c = vc.toInt();
  const Panel *p = ui::model::find_panel(h);
  const Control *cc = p ? p->control(c) : nullptr;
  if (cc == nullptr) return false;
  const Kind kind = cc->kind;
  // Controls whose whole behaviour the model gives: Qt must not act on its own.
  const bool model_driven = kind == Kind::toggle || kind == Kind::check_box || kind == Kind::led ||
                            kind == Kind::decoration || kind == Kind::text_message;
  QPointer<QWidget> alive(w);
  auto at = [&](QMouseEvent *me) {
    QWidget *content = panel_content(h);
    const QPoint pt = content ? w->mapTo(content, me->position().toPoint()) : me->position().toPoint();
    return pt;
  };
  // An event a child of the control left unhandled comes up to its parent:
  // it was reported where it first arrived.
  auto passed_up = [&](QMouseEvent *me) {
    QWidget *child = w->childAt(me->position().toPoint());
    return child != nullptr && child->property("trq_control").isValid();
  };
  switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto *me = static_cast<QMouseEvent *>(e);
      if (passed_up(me)) return false;
      const QPoint pt = at(me);
      if (me->button() == Qt::RightButton) {
        input::right_click(h, c, pt.x(), pt.y());
        return true;
      }
      if (me->button() != Qt::LeftButton) return false;
      // A click on the list row already chosen chooses it again; Qt reports
      // only a change of row.
      int again = -1;
      if (auto *list = qobject_cast<QListWidget *>(control_widget(h, c))) {
        const QModelIndex row = list->indexAt(list->viewport()->mapFromGlobal(w->mapToGlobal(me->position().toPoint())));
        if (row.isValid() && row.row() == list->currentRow() && model_operable(h, c)) again = row.row();
      }
      input::press(h, c, pt.x(), pt.y());
      if (again >= 0 && alive) after_input(h, c, input::select_index(h, c, again));
      return model_driven || !alive;
    }
    case QEvent::MouseButtonRelease: {
      auto *me = static_cast<QMouseEvent *>(e);
      if (passed_up(me)) return false;
      if (me->button() != Qt::LeftButton) return me->button() == Qt::RightButton;
      const QPoint pt = at(me);
      input::release(h, c, pt.x(), pt.y());
      return model_driven || !alive;
    }
    case QEvent::KeyPress: {
      // Keys are the control's, taken where they reach it as a whole; what its
      // widget does not use goes no further (shortcuts are the model's).
      if (forwarding_ || !w->property("trq_body").toBool()) return false;
      auto *ke = static_cast<QKeyEvent *>(e);
      const int code = key_code(ke->key(), ke->modifiers(), ke->text());
      if (code == 0) return false;
      const bool acts = kind == Kind::command_button || kind == Kind::toggle || kind == Kind::check_box;
      const int k = code & 0xFFFF;
      const bool enter_or_space = k == VAL_ENTER_VKEY || k == ' ';
      const int r = input::key(h, c, code, acts);
      // The widget still gets what the model did not act on (typing, Tab).
      if (alive && r == 0 && !(acts && enter_or_space) && model_operable(h, c)) {
        forwarding_ = true;
        QCoreApplication::sendEvent(w, e);
        forwarding_ = false;
      }
      e->accept();  // else Qt hands it on to the panel
      return true;
    }
    case QEvent::ContextMenu: return true;  // the program's own menus only (RunPopupMenu)
    case QEvent::FocusIn: {
      // A click moves the model's focus itself, in the order of its events.
      auto *fe = static_cast<QFocusEvent *>(e);
      if (!syncing() && fe->reason() != Qt::OtherFocusReason && fe->reason() != Qt::PopupFocusReason &&
          fe->reason() != Qt::MouseFocusReason)
        input::focus(h, c);
      return false;
    }
    default: return false;
  }
}

}  // namespace

// --- public

QWidget *panel_widget(int panel) { return the_view ? the_view->panel_widget(panel) : nullptr; }
QWidget *panel_content(int panel) { return the_view ? the_view->panel_content(panel) : nullptr; }
QWidget *control_widget(int panel, int control) { return the_view ? the_view->control_widget(panel, control) : nullptr; }
QLabel *label_widget(int panel, int control) { return the_view ? the_view->label_widget(panel, control) : nullptr; }

QColor led_colour(int panel, int control) {
  auto *l = dynamic_cast<LedWidget *>(control_widget(panel, control));
  return l ? l->current() : QColor();
}

QColor switch_colour(int panel, int control) {
  auto *s = dynamic_cast<SwitchWidget *>(control_widget(panel, control));
  return s ? s->current() : QColor();
}

bool save_window(int panel, const QString &path) {
  QWidget *w = panel_widget(panel);
  if (w == nullptr) return false;
  QCoreApplication::processEvents();
  return w->grab().save(path);
}

int key_code(int qt_key, Qt::KeyboardModifiers modifiers, const QString &text) {
  int code = 0;
  bool virtual_key = true;
  switch (qt_key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: code = VAL_ENTER_VKEY; break;
    case Qt::Key_Escape: code = VAL_ESC_VKEY; break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: code = VAL_TAB_VKEY; break;
    case Qt::Key_Backspace: code = VAL_BACKSPACE_VKEY; break;
    case Qt::Key_Delete: code = VAL_DELETE_VKEY; break;
    case Qt::Key_Up: code = VAL_UP_ARROW_VKEY; break;
    case Qt::Key_Down: code = VAL_DOWN_ARROW_VKEY; break;
    case Qt::Key_Left: code = VAL_LEFT_ARROW_VKEY; break;
    case Qt::Key_Right: code = VAL_RIGHT_ARROW_VKEY; break;
    case Qt::Key_Home: code = VAL_HOME_VKEY; break;
    case Qt::Key_End: code = VAL_END_VKEY; break;
    case Qt::Key_PageUp: code = VAL_PAGE_UP_VKEY; break;
    case Qt::Key_PageDown: code = VAL_PAGE_DOWN_VKEY; break;
    case Qt::Key_Insert: code = VAL_INSERT_VKEY; break;
    default:
      if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F12) {
        code = VAL_F1_VKEY + (qt_key - Qt::Key_F1) * 0x100;
      } else if ((modifiers & Qt::ControlModifier) && qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) {
        code = 'A' + (qt_key - Qt::Key_A);
        virtual_key = false;
      } else if (text.size() == 1 && text[0].unicode() >= 0x20 && text[0].unicode() < 0x7F) {
        code = text[0].unicode();
        virtual_key = false;
      } else if (qt_key == Qt::Key_Space) {
        code = ' ';
        virtual_key = false;
      }
  }
  if (code == 0) return 0;
  if (modifiers & Qt::ControlModifier) code |= VAL_MENUKEY_MODIFIER;
  if (virtual_key && (modifiers & Qt::ShiftModifier)) code |= VAL_SHIFT_MODIFIER;
  return code;
}

bool start(int &argc, char **argv, bool ignore_qv_ui) {
  if (the_view != nullptr) return true;
  if (!ignore_qv_ui && !ui::view_wanted()) return false;
  if (QApplication::instance() == nullptr) {
    // Without a display Qt would end the process; stay headless instead.
    const char *qpa = std::getenv("QT_QPA_PLATFORM");
    if ((qpa == nullptr || *qpa == '\0') && std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
      return false;
    own_app = std::make_unique<QApplication>(argc, argv);
  }
  // QApplication takes the user's locale for the C library too; numbers in
  // files (ini values, setup files, the error log) are read and written with
  // a decimal point whatever the locale.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setQuitOnLastWindowClosed(false);
  std::vector<ui::model::Monitor> mons;
  for (QScreen *s : QGuiApplication::screens()) {
    const QRect g = s->geometry();
    mons.push_back({0, g.y(), g.x(), g.width(), g.height()});
  }
  int primary = 1;
  for (std::size_t i = 0; i < mons.size(); ++i)
    if (QGuiApplication::screens()[static_cast<int>(i)] == QGuiApplication::primaryScreen()) primary = static_cast<int>(i) + 1;
  ui::model::set_monitors(mons, primary);
  the_view = new QtView;
  ui::set_view(the_view);
  ui::set_popup_view(the_view);
  return true;
}

void stop() {
  if (the_view == nullptr) return;
  ui::set_view(nullptr);
  ui::set_popup_view(nullptr);
  delete the_view;
  the_view = nullptr;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  own_app.reset();
}

bool started() { return the_view != nullptr; }

}  // namespace platform::ui_qt
