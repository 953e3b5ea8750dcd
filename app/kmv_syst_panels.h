#pragma once
// The module columns of the main window and the configuration page: control
// tables, the timer poll with reconnection and blinking, the column
// callbacks, and the column layout and filling.
#include <span>

#include "platform/ui/ui.h"

// ---- control tables: [column][connector], column 0 = A (st_trq), 1 = B (nd_trq) ----
// Main window.
extern const int con_ctrls[2][5];       // output enables: connectors 1..4, digital outputs
extern const int led_ctrls[2][4];       // overload LEDs
extern const int rst_ctrls[2][4];       // clear-overload buttons
extern const int cool_lim_ctrls[2][4];  // cooler current-limit indicators
extern const int warn_ctrls[2][4];      // blinking overload warnings
// Configuration page.
extern const int p12_ctrls[2][4];
extern const int p5_ctrls[2][4];
extern const int m5_ctrls[2][4];
extern const int ghv_ctrls[2][4];
extern const int cool_ctrls[2][4];
extern const int cool_curr_ctrls[2][4];
extern const int cool_volt_ctrls[2][4];
extern const int digout_ctrls_usb[2][8];  // bits 0..7
extern const int volt_par_id[4][3];       // +12 V, +5 V, -5 V of each connector
extern const int conf_column_ctrls[2][20];  // headings, frames and the re-evaluate button of a column

// ---- state shared with the window set-up, the EEPROM page and the menus ----------------
extern int warn_color;           // overload warning colour (main control 38 at set-up)
extern int act_warn_color;       // colour of the current blink phase
extern int toggle_colour;        // switch colours of toggle and momentary bits
extern int momentary_colour;
extern int trq_scale_on_resize;  // 1 while panels scale their contents
extern int digout_menubar;       // context menu bars (2 and 3), loaded with the window
extern int label_menubar;
extern short gain_C1U_limit[4];  // per module: highest gain allowed on connector 1..4
extern short gain_C2U_limit[4];
extern short gain_C3U_limit[4];
extern short gain_C4U_limit[4];
extern int clicked_column;  // column of the last context menu
extern int label_ctrl;      // configuration-page label being edited (-1 none)
extern int label_element;

// The column a module is shown in (0 for st_trq, else 1) and the module of a column.
int column_of(short module);
short module_of(int column);

// ---- timer poll and reconnection ------------------------------------------------------
int TimerCallback(int panel, int control, int event, void *callback_data, int event_data1, int event_data2);
short read_overload_state(short module);
void dim_module_column(unsigned short column, int dim);
void resend_module_parameters(short module);
int any_connector_param5(short module);
short update_curr_lmt_leds(short module, short connector);
void sync_outputs_after_overload(short module);

// ---- column callbacks -------------------------------------------------------------------
int MainCtrlCallback(int panel, int control, int event, void *callback_data, int event_data1, int event_data2);
void set_connector_enabled(int column, int connector, int on);
int check_connector_params(int column, int output);
int font_size_for_text(const char *text);
void release_momentary_output(void);

// ---- column layout and filling ------------------------------------------------------------
void initialize_ctrl_panel(int first);
void layout_module_columns(int column);
void set_module_controls(int column);

// Name bindings of the callbacks above, for the resource loader.
std::span<const platform::ui::CallbackBinding> kmv_syst_callbacks();
