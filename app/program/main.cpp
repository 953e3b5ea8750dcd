// The program's entry: chooses the view (the Qt windows, or none with
// QV_UI=headless, when it runs unattended), makes SIGINT, SIGTERM and SIGHUP
// end it through the quit path, and runs it.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/kmvusb_main.h"
#include "platform/ui/ui.h"
#ifdef TRQ_HAVE_QT_VIEW
#include "platform/ui_qt/qt_start.h"
#endif

int main(int argc, char *argv[]) {
  if (!platform::ui::view_wanted()) {
    platform::ui::set_unattended(true);
  } else {
#ifdef TRQ_HAVE_QT_VIEW
    if (!platform::ui_qt::start(argc, argv)) {
      std::fprintf(stderr,
                   "%s: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not usable).\n"
                   "Run it on a desktop, under a virtual display (xvfb-run -a %s ...), or without\n"
                   "windows with QV_UI=headless.\n",
                   argv[0], argv[0]);
      return 1;
    }
#else
    std::fprintf(stderr, "%s: this build has no window view; it runs unattended (QV_UI=headless).\n", argv[0]);
    platform::ui::set_unattended(true);
#endif
  }
  platform::ui::register_callbacks(trq_callbacks());
  install_quit_signals();
  // argv[0] is the program's file name without its directory.
  std::string name = argc > 0 && argv[0] != nullptr ? argv[0] : "trq";
  if (const auto slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
  argv[0] = name.data();
  const int result = trq_main(argc, argv);
  platform::ui::stop_quit_signals();
#ifdef TRQ_HAVE_QT_VIEW
  platform::ui_qt::stop();
#endif
  return result == 0 ? 0 : 1;
}
