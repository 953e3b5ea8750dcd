// Pictures of the program's main window as the Qt view shows it: expanded
// and collapsed, for the modules the arguments give.
//   program_render OUT_PREFIX [program arguments]   (writes OUT_PREFIX-expanded.png, -collapsed.png)
// The program's own directory is the source tree's resources/.
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/kmv_meas.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/ui/input.h"
#include "platform/ui_qt/qt_start.h"
#include "platform/ui_qt/qt_view.h"
#include "platform/win/progdir.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: program_render OUT_PREFIX [program arguments]\n");
    return 2;
  }
  const std::string prefix = argv[1];
  platform::set_program_dir(TRQ_SOURCE_DIR "/resources");
  if (!platform::ui_qt::start(argc, argv, true)) return 1;
  platform::ui::register_callbacks(trq_callbacks());
  std::vector<std::string> words{"trq_32x64"};
  for (int i = 2; i < argc; ++i) words.push_back(argv[i]);
  std::vector<char *> args;
  for (auto &w : words) args.push_back(w.data());
  args.push_back(nullptr);
  bool ok = false;
  QTimer::singleShot(300, [&] {
    ok = platform::ui_qt::save_window(trq_panel, QString::fromStdString(prefix + "-expanded.png"));
    // The other pages, with TRQ_RENDER_PAGES set.
    if (std::getenv("TRQ_RENDER_PAGES") != nullptr) {
      const char *names[] = {"", "options", "eeprom", "info"};
      for (int page = 1; page <= 3; ++page) {
        platform::ui::input::select_tab(trq_panel, MAIN_TAB, page);
        QApplication::processEvents();
        ok = platform::ui_qt::save_window(trq_panel, QString::fromStdString(prefix + "-" + names[page] + ".png")) && ok;
      }
      platform::ui::input::select_tab(trq_panel, MAIN_TAB, 0);
    }
    platform::ui::input::click(trq_panel, MAIN_VIEW);
    QTimer::singleShot(300, [&] {
      ok = platform::ui_qt::save_window(trq_panel, QString::fromStdString(prefix + "-collapsed.png")) && ok;
      QuitUserInterface(0);
    });
  });
  trq_main(static_cast<int>(words.size()), args.data());
  platform::ui_qt::stop();
  return ok ? 0 : 1;
}
