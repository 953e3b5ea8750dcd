#include "platform/ui/popups.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/ui/internal.h"

namespace platform::ui {
namespace {

constexpr std::size_t kPathSize = 260;
constexpr std::size_t kLogLimit = 10000;
constexpr std::size_t kDirHistoryLimit = 20;

struct Answer {
  int button = 0;
  bool is_path = false;
  std::string path;
};

PopupView *popup_view = nullptr;
std::deque<Answer> answers;
std::vector<ShownPopup> log;
std::vector<std::string> dir_log;
int cursor_style = 0;

bool take(Answer *a) {
  if (answers.empty()) return false;
  *a = answers.front();
  answers.pop_front();
  return true;
}

void record(const ShownPopup &p) {
  if (log.size() >= kLogLimit) log.erase(log.begin(), log.begin() + kLogLimit / 2);
  log.push_back(p);
}

// A popup a view shows blocks all delivery until it closes.
template <class F>
int through_view(F &&f) {
  detail::ModalBox modal;
  return f();
}

bool wildcard(const std::string &s) { return s.find_first_of("*?") != std::string::npos; }

}  // namespace

void set_popup_view(PopupView *v) { popup_view = v; }

namespace headless {
void script_answers(std::initializer_list<int> buttons) {
  for (int b : buttons) answers.push_back(Answer{b, false, {}});
}
void script_path(const std::string &path) { answers.push_back(Answer{1, true, path}); }
void clear() {
  answers.clear();
  log.clear();
}
const std::vector<ShownPopup> &shown() { return log; }
const std::vector<std::string> &dir_history() { return dir_log; }
}  // namespace headless

namespace detail {
void reset_popups() {
  headless::clear();
  dir_log.clear();
}
}  // namespace detail

namespace {

// The view asks the operator, unless a quit signal came: then nobody is asked.
bool view_asks() { return popup_view != nullptr && quit_signal() == 0; }

// The script's answer, else the default; without an operator the popup and
// its default go to standard error.
int scripted_or_default(const ShownPopup &p, int fallback, const std::string &label) {
  Answer a;
  if (take(&a)) return a.is_path ? 1 : a.button;
  detail::tell_operator_absent(p.kind, p.title, p.message, label);
  return fallback;
}

}  // namespace

int show_message(ShownPopup p) {
  p.cursor_while_shown = cursor_style;
  if (view_asks()) p.answer = through_view([&] { return popup_view->message(p); });
  else p.answer = scripted_or_default(p, 0, "OK");
  if (quit_signal() != 0 && p.answer > 0) p.answer = 0;
  record(p);
  return p.answer < 0 ? p.answer : 0;
}

int show_generic(ShownPopup p) {
  p.cursor_while_shown = cursor_style;
  int fallback = p.enter;
  if (fallback < 1 || fallback > static_cast<int>(p.buttons.size())) fallback = 1;
  if (view_asks()) {
    p.answer = through_view([&] { return popup_view->generic(p); });
    if (quit_signal() != 0) p.answer = fallback;  // closed by the signal
  } else {
    const std::string label = p.buttons.empty() ? "" : p.buttons[static_cast<std::size_t>(fallback - 1)];
    p.answer = scripted_or_default(p, fallback, label);
  }
  record(p);
  return p.answer;
}

int show_confirm(ShownPopup p) {
  p.cursor_while_shown = cursor_style;
  int answer = PopupView::kNotHandled;
  if (view_asks()) {
    answer = through_view([&] { return popup_view->confirm(p); });
    if (answer != PopupView::kNotHandled && quit_signal() != 0) answer = 1;
  }
  if (answer == PopupView::kNotHandled) answer = scripted_or_default(p, 1, "Yes");
  p.answer = answer < 0 ? answer : (answer != 0 ? 1 : 0);
  record(p);
  return p.answer;
}

namespace {

// The dialog's answer from the script: a path, the default, or nothing.
int scripted_selection(const ShownPopup &p, std::string *path) {
  Answer a;
  if (!take(&a)) {
    detail::tell_operator_absent(p.kind, p.title, p.directory, "nothing chosen");
    return 0;
  }
  if (!a.is_path && a.button == 0) return 0;
  if (a.is_path) {
    *path = a.path;
  } else {
    if (p.kind == "file" && (p.file_spec.empty() || wildcard(p.file_spec))) return 0;
    *path = p.kind == "file" ? p.directory + "/" + p.file_spec : p.directory;
  }
  return 1;
}

}  // namespace

int show_file(ShownPopup p, std::string *path) {
  p.cursor_while_shown = cursor_style;
  std::string chosen;
  int answer = PopupView::kNotHandled;
  if (view_asks()) {
    answer = through_view([&] { return popup_view->file_select(p, &chosen); });
    if (answer != PopupView::kNotHandled && quit_signal() != 0) answer = 0;
  }
  if (answer == PopupView::kNotHandled) {
    answer = scripted_selection(p, &chosen);
    if (answer > 0) {
      std::error_code ec;
      answer = std::filesystem::is_regular_file(chosen, ec) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
    }
  }
  if (answer > 0 && chosen.size() >= kPathSize) answer = -1;  // does not fit the caller's buffer
  if (answer <= 0) chosen.clear();
  p.answer = answer;
  p.path = chosen;
  record(p);
  *path = chosen;
  return answer;
}

int show_dir(ShownPopup p, std::string *path) {
  p.cursor_while_shown = cursor_style;
  std::string chosen;
  int answer = PopupView::kNotHandled;
  if (view_asks()) {
    answer = through_view([&] { return popup_view->dir_select(p, &chosen); });
    if (answer != PopupView::kNotHandled && quit_signal() != 0) answer = 0;
  }
  if (answer == PopupView::kNotHandled) answer = scripted_selection(p, &chosen);
  if (answer > 0 && chosen.size() >= kPathSize) answer = -1;
  if (answer > 0) answer = VAL_DIRECTORY_SELECTED;
  if (answer <= 0) chosen.clear();
  p.answer = answer;
  p.path = chosen;
  record(p);
  *path = chosen;
  return answer;
}

int &cursor() { return cursor_style; }

}  // namespace platform::ui

int MessagePopup(const char *title, const char *message) {
  platform::ui::ShownPopup p;
  p.kind = "message";
  p.title = title ? title : "";
  p.message = message ? message : "";
  p.buttons = {"OK"};
  p.enter = p.escape = p.active = 1;
  return platform::ui::show_message(std::move(p));
}

int GenericMessagePopup(const char *title, const char *message, const char *btn1, const char *btn2,
                        const char *btn3, char *response, int max_response_len, int alignment,
                        int active_ctrl, int enter_btn, int escape_btn) {
  platform::ui::ShownPopup p;
  p.kind = "generic";
  p.title = title ? title : "";
  p.message = message ? message : "";
  for (const char *b : {btn1, btn2, btn3}) {
    if (b == nullptr || *b == '\0') break;
    p.buttons.emplace_back(b);
  }
  if (p.buttons.empty()) return -1;
  p.active = active_ctrl;
  p.enter = enter_btn;
  p.escape = escape_btn;
  if (response != nullptr && max_response_len > 0) response[0] = '\0';
  return platform::ui::show_generic(std::move(p));
}

int ConfirmPopup(const char *title, const char *message) {
  platform::ui::ShownPopup p;
  p.kind = "confirm";
  p.title = title ? title : "";
  p.message = message ? message : "";
  p.buttons = {"Yes", "No"};
  p.enter = p.active = 1;
  p.escape = 2;
  return platform::ui::show_confirm(std::move(p));
}

namespace {

void copy_path(const std::string &path, char *out) {
  // The path fits: show_file and show_dir refuse longer ones.
  std::memcpy(out, path.c_str(), path.size() + 1);
}

}  // namespace

int FileSelectPopup(const char *default_directory, const char *default_file_spec, const char *file_type_list,
                    const char *title, int button_label, int restrict_directory, int restrict_extension,
                    int allow_cancel, int allow_make_directory, char path_name[]) {
  if (path_name == nullptr) return -1;
  path_name[0] = '\0';
  platform::ui::ShownPopup p;
  p.kind = "file";
  p.title = title ? title : "";
  p.directory = default_directory ? default_directory : "";
  p.file_spec = default_file_spec ? default_file_spec : "";
  p.file_types = file_type_list ? file_type_list : "";
  p.button_label = button_label;
  p.buttons = {button_label == VAL_SAVE_BUTTON ? "Save" : button_label == VAL_LOAD_BUTTON ? "Load" : "OK",
               "Cancel"};
  p.restrict_directory = restrict_directory != 0;
  p.restrict_extension = restrict_extension != 0;
  p.allow_cancel = allow_cancel != 0;
  p.allow_make_directory = allow_make_directory != 0;
  p.enter = p.active = 1;
  p.escape = 2;
  std::string chosen;
  const int r = platform::ui::show_file(std::move(p), &chosen);
  if (r > 0) copy_path(chosen, path_name);
  return r;
}

int DirSelectPopup(const char *default_directory, const char *title, int allow_cancel, int allow_make_directory,
                   char path_name[]) {
  if (path_name == nullptr) return -1;
  path_name[0] = '\0';
  platform::ui::ShownPopup p;
  p.kind = "dir";
  p.title = title ? title : "";
  p.directory = default_directory ? default_directory : "";
  p.buttons = {"Select", "Cancel"};
  p.allow_cancel = allow_cancel != 0;
  p.allow_make_directory = allow_make_directory != 0;
  p.enter = p.active = 1;
  p.escape = 2;
  std::string chosen;
  const int r = platform::ui::show_dir(std::move(p), &chosen);
  if (r > 0) copy_path(chosen, path_name);
  return r;
}

int AddToFilePopupDirHistory(const char *directory) {
  if (directory == nullptr || *directory == '\0') return -1;
  auto &h = platform::ui::dir_log;
  std::erase(h, std::string(directory));
  h.insert(h.begin(), directory);
  if (h.size() > platform::ui::kDirHistoryLimit) h.resize(platform::ui::kDirHistoryLimit);
  return 0;
}

int GetMouseCursor(int *style) {
  if (style != nullptr) *style = platform::ui::cursor();
  return 0;
}

int SetMouseCursor(int style) {
  platform::ui::cursor() = style;
  return 0;
}
