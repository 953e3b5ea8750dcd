#pragma once
// Operator input, as a view (or a test) reports it. Each call sends the events
// the operator's action gives, in order, to the callbacks at once, and returns
// 0, or UIE_NOT_OPERABLE when the control or panel takes no input now (hidden,
// dimmed, an indicator, behind a popup, or while a modal message box is shown).
//
// Orders of events:
//   press:       what was typed into the focused field and not committed
//                commits first (see edit_text), for a press on the panel
//                beside its controls and on another panel too; a press on a
//                popup's close control (its cancel) drops it instead, as
//                Escape there does; EVENT_LEFT_CLICK; focus
//                change (EVENT_LOST_FOCUS to the old control, after the commit
//                of what was typed there, to the old and new panel when the panel changes,
//                EVENT_GOT_FOCUS to the new control); toggles and check boxes
//                then flip: EVENT_VAL_CHANGED, EVENT_COMMIT
//   right_click: focus change; EVENT_RIGHT_CLICK
//   release:     command buttons EVENT_COMMIT; then EVENT_LEFT_CLICK_UP
//   press and release on the panel beside its controls (control 0): the
//                panel callback gets EVENT_LEFT_CLICK and EVENT_LEFT_CLICK_UP
//   set_value:   focus change; EVENT_VAL_CHANGED, EVENT_COMMIT
//   key:         focus change; EVENT_KEYPRESS (a callback result of 1 swallows
//                the key); then the shortcut of that key on the panel commits
//                its control, else Enter or Space acts on the focused control;
//                an Enter shortcut (a default button) leaves Enter to a focused
//                control that takes it itself (button, field, text box, list)
// Commits are also the user events of GetUserEvent.
#include <string>
#include <vector>

#include "platform/ui/model.h"

namespace platform::ui::input {

// x, y relative to the panel; -1 puts the pointer on the control's centre.
int press(int panel, int control, int x = -1, int y = -1);
int release(int panel, int control, int x = -1, int y = -1);
int click(int panel, int control);  // press and release
int right_click(int panel, int control, int x = -1, int y = -1);
// Returns 1 when a callback swallowed the key, 0 when it was processed. A view
// whose widget acts on the key itself (typing, Enter in an entry field) passes
// control_action false: then only EVENT_KEYPRESS and the shortcuts follow.
int key(int panel, int control, int key_code, bool control_action = true);
int focus(int panel, int control);
// A new value as typed or chosen (numbers are coerced to the range, texts cut).
int set_value(int panel, int control, const model::Value &value);
// Text typed into a string, path or numeric control before Enter. A text is
// the value at once (EVENT_VAL_CHANGED); a number (C notation) only when it
// commits (EVENT_VAL_CHANGED, EVENT_COMMIT). Enter or the focus leaving the
// control commits what was typed; the program setting the value or moving
// the focus, or the popup going, drops it. Text boxes never commit by this.
int edit_text(int panel, int control, const std::string &text);
int commit(int panel, int control);  // Enter in a control: EVENT_COMMIT
int select_index(int panel, int control, int index);  // ring, list box, path history
int select_tab(int panel, int tab_control, int index);
// The close box: what was typed counts first (a popup's close box drops it,
// as its close control does); then the close control commits, else the panel
// gets EVENT_CLOSE.
int close_panel(int panel);
int drop_files(int panel, const std::vector<std::string> &paths);
int pick_menu_item(int menubar, int item);  // from a menu bar shown in a panel
// The window moved or resized by the operator (contents scale when the panel says so).
int panel_geometry(int panel, int top, int left, int height, int width);
int panel_zoom(int panel, int zoom);
int activate_panel(int panel);  // the operator brought the window to the front

}  // namespace platform::ui::input
