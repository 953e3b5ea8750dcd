// The resource reader on arbitrary documents: every panel and menu bar
// number it may hold is loaded, shown and discarded; nothing may crash.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/ui/headless.h"
#include "platform/ui/ui.h"

namespace {

int ctrl(int, int, int, void *, int, int) { return 0; }
int panel(int, int, void *, int, int) { return 0; }
int menu(int, int, void *, int) { return 0; }

const std::string &scratch() {
  static const std::string path = [] {
    char name[] = "/tmp/fuzz_ui_resource_XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool registered = [] {
    static const platform::ui::CallbackBinding table[] = {
        {"TestCtrl", ctrl}, {"TestTimer", ctrl}, {"TestPanel", panel}, {"TestMenu", menu}};
    platform::ui::register_callbacks(table);
    return true;
  }();
  (void)registered;
  FILE *f = std::fopen(scratch().c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  for (int id = 1; id <= 4; ++id) {
    const int p = LoadPanel(0, scratch().c_str(), id);
    if (p > 0) {
      DisplayPanel(p);
      const int bar = LoadMenuBar(p, scratch().c_str(), id);
      if (bar > 0) SetMenuBarAttribute(bar, 2, ATTR_CHECKED, 1);
      SetPanelAttribute(p, ATTR_SCALE_CONTENTS_ON_RESIZE, 1);
      SetPanelAttribute(p, ATTR_WIDTH, 333);
    }
  }
  platform::ui::headless::reset();
  return 0;
}
