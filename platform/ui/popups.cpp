#include "platform/ui/popups.h"

namespace platform::ui {
namespace {
PopupView *view = nullptr;
std::deque<int> answers;
std::vector<ShownPopup> log;
int cursor_style = 0;

int take_answer(int fallback) {
  if (answers.empty()) return fallback;
  const int a = answers.front();
  answers.pop_front();
  return a;
}
}  // namespace

void set_popup_view(PopupView *v) { view = v; }

namespace headless {
void script_answers(std::initializer_list<int> buttons) { answers.insert(answers.end(), buttons); }
void clear() {
  answers.clear();
  log.clear();
}
const std::vector<ShownPopup> &shown() { return log; }
}  // namespace headless

int show_message(ShownPopup p) {
  p.cursor_while_shown = cursor_style;
  p.answer = view ? view->message(p) : take_answer(0);
  log.push_back(p);
  return p.answer < 0 ? p.answer : 0;
}

int show_generic(ShownPopup p) {
  p.cursor_while_shown = cursor_style;
  int fallback = p.enter;
  if (fallback < 1 || fallback > static_cast<int>(p.buttons.size())) fallback = 1;
  p.answer = view ? view->generic(p) : take_answer(fallback);
  log.push_back(p);
  return p.answer;
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

int GetMouseCursor(int *style) {
  if (style != nullptr) *style = platform::ui::cursor();
  return 0;
}

int SetMouseCursor(int style) {
  platform::ui::cursor() = style;
  return 0;
}
