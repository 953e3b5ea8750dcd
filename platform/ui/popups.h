#pragma once
// Modal popups of the user-interface library. Without a view (headless) the
// answers come from a script that tests fill; unscripted popups take their
// Enter button.
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

// Buttons of GenericMessagePopup, for its active-control, Enter and Escape arguments.
enum { VAL_GENERIC_POPUP_BTN1 = 1, VAL_GENERIC_POPUP_BTN2 = 2, VAL_GENERIC_POPUP_BTN3 = 3 };
enum { VAL_GENERIC_POPUP_NO_CTRL = 0 };
// Button alignment.
enum { VAL_GENERIC_POPUP_BTNS_RIGHT = 0, VAL_GENERIC_POPUP_BTNS_CENTER = 1 };

// Shows message with an OK button; returns 0 (negative on a failure of the library).
int MessagePopup(const char *title, const char *message);

// Up to three buttons (an empty or null label leaves a button out); returns the
// number (1..3) of the button pressed, negative on a failure of the library.
int GenericMessagePopup(const char *title, const char *message, const char *btn1, const char *btn2,
                        const char *btn3, char *response, int max_response_len, int alignment,
                        int active_ctrl, int enter_btn, int escape_btn);

// Mouse cursor style; -1 is the busy-free "arrow with hourglass" the reports use.
int GetMouseCursor(int *style);
int SetMouseCursor(int style);

namespace platform::ui {

struct ShownPopup {
  std::string kind;  // "message" or "generic"
  std::string title;
  std::string message;
  std::vector<std::string> buttons;
  int active = 0;
  int enter = 0;
  int escape = 0;
  int cursor_while_shown = 0;
  int answer = 0;
};

// A view (Qt) may take the popups over; null gives them back to the headless script.
struct PopupView {
  virtual ~PopupView() = default;
  virtual int message(const ShownPopup &p) = 0;
  virtual int generic(const ShownPopup &p) = 0;
};
void set_popup_view(PopupView *view);

// Used by the popup calls above.
int show_message(ShownPopup p);
int show_generic(ShownPopup p);
int &cursor();

namespace headless {
// The next popups are answered with these button numbers, in order
// (0 for a MessagePopup answers OK).
void script_answers(std::initializer_list<int> buttons);
void clear();
// Every popup shown since the last clear().
const std::vector<ShownPopup> &shown();
}  // namespace headless

}  // namespace platform::ui
