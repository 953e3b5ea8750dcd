#pragma once
// What the model asks of a view (platform/ui_qt). The model notifies every
// change; the view re-reads what it shows from model.h. Operator input comes
// back through input.h. Without a view the model runs headless.
#include <string>
#include <vector>

namespace platform::ui {

class View {
 public:
  virtual ~View() = default;
  virtual void panel_added(int panel) = 0;  // loaded, created, or inserted as a tab page
  virtual void panel_removed(int panel) = 0;
  virtual void panel_changed(int panel) = 0;  // attributes, visibility, popup state
  virtual void control_added(int panel, int control) = 0;
  virtual void control_removed(int panel, int control) = 0;
  virtual void control_changed(int panel, int control) = 0;  // value, attributes, items, pages
  virtual void menubar_changed(int menubar) = 0;
  virtual void focus_changed(int panel, int control) = 0;
  // Handles toolkit events until input was dispatched (wake), the timeout
  // (seconds; < 0 none) passed, or one of the descriptors became readable.
  virtual void wait(double timeout, const std::vector<int> &fds) = 0;
  // Handles pending toolkit events without waiting.
  virtual void poll() = 0;
  virtual void wake() = 0;
  // Runs a popup menu modally; the chosen item id or 0.
  virtual int popup_menu(int menubar, int menu, int panel, int top, int left) = 0;
  // Picture of a panel (area in panel coordinates, height/width 0 = all) into an image file.
  virtual int save_image(int panel, int top, int left, int height, int width, const std::string &path) = 0;
  // Mouse position relative to the panel.
  virtual bool mouse(int panel, int *x, int *y, int *left_button) = 0;
  // Size of a text as the view draws it; false leaves it to the library's estimate.
  virtual bool text_size(const std::string &text, const std::string &font, int point_size, int *height, int *width) {
    return false;
  }
};

// Installs the view (null: headless). The view gets panel_added for panels that already exist.
void set_view(View *view);
View *view();

}  // namespace platform::ui
