#pragma once
// Modal popups of the user-interface library. Without a view (headless) the
// answers come from a script that tests fill; unscripted popups take their
// Enter button, and in an unattended run (platform::ui::set_unattended) or
// after a quit signal they also write what they show to standard error.
#include <climits>
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

// Yes/No question: 1 for yes, 0 for no.
int ConfirmPopup(const char *title, const char *message);

// File and directory dialogs. path_name receives the chosen path and holds 260
// characters (longer paths are refused). FileSelectPopup returns 0 nothing
// chosen, 1 an existing file, 2 a new name; DirSelectPopup 0 or 1.
enum { VAL_OK_BUTTON = 0, VAL_SAVE_BUTTON = 1, VAL_LOAD_BUTTON = 2 };
enum { VAL_NO_FILE_SELECTED = 0, VAL_EXISTING_FILE_SELECTED = 1, VAL_NEW_FILE_SELECTED = 2 };
enum { VAL_NO_DIRECTORY_SELECTED = 0, VAL_DIRECTORY_SELECTED = 1 };
int FileSelectPopup(const char *default_directory, const char *default_file_spec, const char *file_type_list,
                    const char *title, int button_label, int restrict_directory, int restrict_extension,
                    int allow_cancel, int allow_make_directory, char path_name[]);
int DirSelectPopup(const char *default_directory, const char *title, int allow_cancel, int allow_make_directory,
                   char path_name[]);
// Directories the file dialogs offer besides the default one, most recent first.
int AddToFilePopupDirHistory(const char *directory);

// Mouse cursor style; -1 is the busy-free "arrow with hourglass" the reports use.
int GetMouseCursor(int *style);
int SetMouseCursor(int style);

namespace platform::ui {

struct ShownPopup {
  std::string kind;  // "message", "generic", "confirm", "file" or "dir"
  std::string title;
  std::string message;
  std::vector<std::string> buttons;
  int active = 0;
  int enter = 0;
  int escape = 0;
  int cursor_while_shown = 0;
  int answer = 0;
  // File and directory dialogs: what they were given and the path chosen.
  std::string directory;
  std::string file_spec;
  std::string file_types;
  int button_label = 0;
  bool restrict_directory = false, restrict_extension = false, allow_cancel = true, allow_make_directory = false;
  std::string path;
};

// A view (Qt) may take the popups over; null gives them back to the headless script.
struct PopupView {
  // What the optional calls return to leave a popup to the headless script.
  static constexpr int kNotHandled = INT_MIN;
  virtual ~PopupView() = default;
  virtual int message(const ShownPopup &p) = 0;
  virtual int generic(const ShownPopup &p) = 0;
  virtual int confirm(const ShownPopup &p) { return kNotHandled; }
  // The result as the popup call returns it; the chosen path into *path.
  virtual int file_select(const ShownPopup &p, std::string *path) { return kNotHandled; }
  virtual int dir_select(const ShownPopup &p, std::string *path) { return kNotHandled; }
};
void set_popup_view(PopupView *view);

// Used by the popup calls above.
int show_message(ShownPopup p);
int show_generic(ShownPopup p);
int show_confirm(ShownPopup p);
int show_file(ShownPopup p, std::string *path);
int show_dir(ShownPopup p, std::string *path);
int &cursor();

namespace headless {
// The next popups are answered with these button numbers, in order
// (0 for a MessagePopup answers OK; ConfirmPopup 1 yes, 0 no; a file or
// directory dialog 0 cancels, any other number takes its default).
// Unscripted popups take their Enter button; file and directory dialogs cancel.
void script_answers(std::initializer_list<int> buttons);
// The next file or directory dialog chooses this path.
void script_path(const std::string &path);
void clear();
// Every popup shown since the last clear().
const std::vector<ShownPopup> &shown();
// What AddToFilePopupDirHistory collected.
const std::vector<std::string> &dir_history();
}  // namespace headless

}  // namespace platform::ui
