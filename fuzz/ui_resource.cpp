// The resource reader on arbitrary documents: every panel and menu bar
// number it may hold is loaded, shown and discarded; nothing may crash.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/scratch.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"

namespace {

int ctrl(int, int, int, void *, int, int) { return 0; }
int panel(int, int, void *, int, int) { return 0; }
int menu(int, int, void *, int) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool registered = [] {
    static const platform::ui::CallbackBinding table[] = {
        {"TestCtrl", ctrl}, {"TestTimer", ctrl}, {"TestPanel", panel}, {"TestMenu", menu}};
    platform::ui::register_callbacks(table);
    return true;
  }();
  (void)registered;
  if (!fuzzing::write_scratch(data, size)) return 0;
  for (int id = 1; id <= 4; ++id) {
    const int p = LoadPanel(0, fuzzing::scratch_path().c_str(), id);
    if (p > 0) {
      DisplayPanel(p);
      const int bar = LoadMenuBar(p, fuzzing::scratch_path().c_str(), id);
      if (bar > 0) SetMenuBarAttribute(bar, 2, ATTR_CHECKED, 1);
      SetPanelAttribute(p, ATTR_SCALE_CONTENTS_ON_RESIZE, 1);
      SetPanelAttribute(p, ATTR_WIDTH, 333);
    }
  }
  platform::ui::headless::reset();
  return 0;
}
