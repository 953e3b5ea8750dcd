#pragma once
// A watchdog over one step of a test that drives Qt dialogs, so that a popup
// left open or a step gone wrong fails the test at once, naming the step,
// instead of waiting for ctest's time-out. Its timer fires in whatever modal
// loop the step runs. Header only: just the tests with Qt include it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace testsupport {

class QtStep {
 public:
  // Starts watching; the step must be over (the object gone) within seconds.
  explicit QtStep(std::string name, int seconds = 5) : name_(std::move(name)), seconds_(seconds) {
    timer_.setSingleShot(false);
    QObject::connect(&timer_, &QTimer::timeout, [this] { overdue(); });
    timer_.start(seconds * 1000);
  }
  ~QtStep() { timer_.stop(); }
  QtStep(const QtStep &) = delete;
  QtStep &operator=(const QtStep &) = delete;

  // True once the watchdog had to step in: the test has failed.
  bool fired() const { return closes_ > 0; }

  // What is open and waits for an answer ("" nothing).
  static std::string open_window() {
    QWidget *w = QApplication::activeModalWidget();
    if (w == nullptr) w = QApplication::activePopupWidget();
    if (w == nullptr) return "";
    std::string text = "\"" + w->windowTitle().toStdString() + "\"";
    if (auto *box = qobject_cast<QMessageBox *>(w)) text += ": " + box->text().toStdString();
    return text;
  }

 private:
  // Fails the test and closes what is open, so that the step's modal loop
  // ends (a program's popup takes its close control); a step still not over
  // after five more tries ends the test program.
  void overdue() {
    const std::string open = open_window();
    if (closes_++ == 0) {
      ADD_FAILURE() << "step \"" << name_ << "\" not over after " << seconds_ << " s; "
                    << (open.empty() ? "no window open" : "still open: " + open);
      timer_.start(1000);
    }
    if (closes_ > 5) {
      std::fprintf(stderr, "step \"%s\" does not end even with its windows closed; the test program stops\n",
                   name_.c_str());
      std::fflush(stderr);
      std::_Exit(1);
    }
    if (QWidget *w = QApplication::activePopupWidget()) w->close();
    if (QWidget *w = QApplication::activeModalWidget()) {
      if (auto *dialog = qobject_cast<QDialog *>(w)) dialog->reject();
      else w->close();
    }
  }

  std::string name_;
  int seconds_;
  int closes_ = 0;
  QTimer timer_;
};

}  // namespace testsupport
