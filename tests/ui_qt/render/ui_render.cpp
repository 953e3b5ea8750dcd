// Renders one panel of a resource file with the Qt view into a PNG (the
// whole window, with its menu bar), so a person can look at a layout:
//   ui_render RESOURCE PANEL OUT.png [--menubar N] [--page CONTROL PANEL]... [--tab CONTROL INDEX]
// --page inserts another panel of the file as a page of a tab control, as a
// program does at run time.
// Every callback the resource names is bound to one that does nothing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "platform/ui/ui.h"
#include "platform/ui_qt/qt_start.h"
#include "platform/ui_qt/qt_view.h"

namespace {

int ctrl_noop(int, int, int, void *, int, int) { return 0; }
int panel_noop(int, int, void *, int, int) { return 0; }
int menu_noop(int, int, void *, int) { return 0; }

// The callback names of a document, by where they stand.
void collect(const nlohmann::json &j, const std::string &where, std::set<std::string> *ctrl,
             std::set<std::string> *panel, std::set<std::string> *menu) {
  if (j.is_object()) {
    if (j.contains("callback") && j["callback"].is_string()) {
      const std::string name = j["callback"].get<std::string>();
      if (where == "controls") ctrl->insert(name);
      else if (where == "items") menu->insert(name);
      else panel->insert(name);
    }
    for (auto it = j.begin(); it != j.end(); ++it) collect(it.value(), it.key(), ctrl, panel, menu);
  } else if (j.is_array()) {
    for (const auto &e : j) collect(e, where, ctrl, panel, menu);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s RESOURCE PANEL OUT.png [--menubar N] [--page CONTROL PANEL]... [--tab CONTROL INDEX]\n", argv[0]);
    return 2;
  }
  const char *file = argv[1];
  const int panel_id = std::atoi(argv[2]);
  const char *out = argv[3];
  int menubar_id = 0, tab_ctrl = 0, tab_index = 0;
  std::vector<std::pair<int, int>> pages;  // tab control, panel
  for (int i = 4; i < argc; ++i) {
    if (std::strcmp(argv[i], "--menubar") == 0 && i + 1 < argc) menubar_id = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--page") == 0 && i + 2 < argc) {
      const int control = std::atoi(argv[++i]);
      pages.emplace_back(control, std::atoi(argv[++i]));
    }
    else if (std::strcmp(argv[i], "--tab") == 0 && i + 2 < argc) {
      tab_ctrl = std::atoi(argv[++i]);
      tab_index = std::atoi(argv[++i]);
    }
  }

  std::ifstream in(file);
  if (!in) {
    std::fprintf(stderr, "%s cannot be opened\n", file);
    return 1;
  }
  const nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
  std::set<std::string> ctrl, panel, menu;
  collect(doc, "", &ctrl, &panel, &menu);
  std::vector<platform::ui::CallbackBinding> table;
  for (const std::string &n : ctrl) table.push_back({n.c_str(), ctrl_noop});
  for (const std::string &n : panel) table.push_back({n.c_str(), panel_noop});
  for (const std::string &n : menu) table.push_back({n.c_str(), menu_noop});
  platform::ui::register_callbacks(table);

  int qt_argc = 1;
  if (!platform::ui_qt::start(qt_argc, argv, true)) {
    std::fprintf(stderr, "no display for the Qt view\n");
    return 1;
  }
  const int p = LoadPanel(0, file, panel_id);
  if (p < 0) {
    std::fprintf(stderr, "%s\n%s\n", GetUILErrorString(p), platform::ui::last_error_detail().c_str());
    return 1;
  }
  if (menubar_id > 0 && LoadMenuBar(p, file, menubar_id) < 0)
    std::fprintf(stderr, "menu bar: %s\n", platform::ui::last_error_detail().c_str());
  for (const auto &[control, id] : pages) {
    const int loaded = LoadPanel(p, file, id);
    if (loaded < 0 || InsertPanelAsTabPage(p, control, -1, loaded) < 0)
      std::fprintf(stderr, "page %d: %s\n", id, platform::ui::last_error_detail().c_str());
    if (loaded > 0) DiscardPanel(loaded);
  }
  if (tab_ctrl > 0) SetActiveTabPage(p, tab_ctrl, tab_index);
  SetPanelAttribute(p, ATTR_TOP, 20);
  SetPanelAttribute(p, ATTR_LEFT, 20);
  DisplayPanel(p);
  for (int i = 0; i < 10; ++i) ProcessSystemEvents();
  const bool saved = platform::ui_qt::save_window(p, QString::fromLocal8Bit(out));
  if (!saved) std::fprintf(stderr, "%s cannot be written\n", out);
  DiscardPanel(p);
  platform::ui_qt::stop();
  return saved ? 0 : 1;
}
