#pragma once
// Panel, control and menu numbers of the panel resource file kmv_meas.uir.

constexpr const char *KMV_MEAS_UIR = "kmv_meas.uir";

// ---- panels ---------------------------------------------------------------------
enum {
  PANEL_ADJUST = 1,    // PCI card adjust panel
  PANEL_CONF = 2,      // configuration page: the two module columns
  PANEL_TRQEEP = 4,    // EEPROM page
  PANEL_TRQOPT = 5,    // options page
  PANEL_QUIT = 6,      // quit popup
  PANEL_INFOU = 9,     // start-up information dialog, later the "Info" page
  PANEL_LOAD = 10,     // setup-file load dialog
  PANEL_MAIN_USB = 12, // main window
  PANEL_MODLIST = 14,  // module list of the information dialog or page
  PANEL_SAVE = 16,     // setup-file save dialog
  PANEL_EEP_DONE = 17, // one-second confirmation after an EEPROM read or write
};

// ---- main window (12) -------------------------------------------------------------
enum {
  MAIN_OUT_A1 = 2,      // 2..6: output switches of column A (connectors 1..4, digital)
  MAIN_OUT_B1 = 7,      // 7..11: column B
  MAIN_LED_A1 = 12,     // 12..15: overload LEDs of column A
  MAIN_ALL_OFF_ONE = 16,  // all outputs off, one-module layout
  MAIN_LED_B1 = 17,     // 17..20
  MAIN_ALL_OFF_TWO = 21,  // all outputs off, two-module layout
  MAIN_ILIM_A1 = 22,    // 22..25: cooler current-limit indicators of column A
  MAIN_ILIM_B1 = 26,    // 26..29
  MAIN_RESET_A1 = 30,   // 30..33: clear-overload buttons of column A
  MAIN_RESET_B1 = 34,   // 34..37
  MAIN_WARN_A1 = 38,    // 38..41: blinking overload warnings of column A
  MAIN_WARN_B1 = 42,    // 42..45
  MAIN_TAB = 46,        // tab control with the pages
  MAIN_VIEW = 47,       // expand/collapse
  MAIN_QUIT = 48,
  MAIN_TIMER = 49,
  MAIN_LOST_A = 50,     // connection-lost indicator of column A
  MAIN_LABEL_EDIT = 51, // output label editor
  MAIN_LOST_B = 52,
  MAIN_HEAD_A = 53,     // column headings
  MAIN_HEAD_B = 54,
  MAIN_FRAME_A = 55,    // column frames
  MAIN_FRAME_B = 56,
};

// ---- configuration page (2) -------------------------------------------------------
// Per connector n = 0..3 of column A: +12 V 2+7n (18, 25 for n = 2, 3), see the
// tables in kmv_syst_columns.h; here only the controls without a table.
enum {
  CONF_SET_OUTPUTS_TWO = 16,  // re-evaluate output enables, two-module layout
  CONF_SET_OUTPUTS_ONE = 17,  // the same, one-module layout
  CONF_LABEL_EDIT = 112,      // label editor of bits and gains
  CONF_TOGGLE_SAMPLE = 38,    // column A bit 1: its colour is the toggle colour
  CONF_MOMENTARY_SAMPLE = 39, // column A bit 0: its colour is the momentary colour
};

// ---- EEPROM page (4) ---------------------------------------------------------------
// Column A controls 2..14, column B 15..27 (B = A + 13).
enum {
  EEP_TITLE_A = 2,
  EEP_FRAME_A = 3,
  EEP_NAME_A = 4,
  EEP_SERIAL_A = 5,
  EEP_DATE_A = 6,
  EEP_READ_A = 7,
  EEP_WRITE_A = 8,
  EEP_CODE_A = 9,
  EEP_LIMIT_HEAD_A = 10,
  EEP_LIMIT_A1 = 11,  // 11..14: gain limits of connectors 1..4 (short)
  EEP_COLUMN_B = 13,  // offset of column B
  EEP_NAME_B = 17,
  EEP_SERIAL_B = 18,
  EEP_DATE_B = 19,
  EEP_READ_B = 20,
  EEP_WRITE_B = 21,
  EEP_CODE_B = 22,
  EEP_LIMIT_B1 = 24,
};

// ---- options page (5) --------------------------------------------------------------
enum {
  OPT_DIR = 2,          // setup-file directory (a path control)
  OPT_BROWSE = 3,
  OPT_SCALE = 4,
  OPT_FLOAT = 5,
  OPT_START_A1 = 6,     // 6..10: start-up boxes of column A outputs 0..4
  OPT_HEAD_A = 11,
  OPT_HEAD_B = 12,
  OPT_START_B1 = 13,    // 13..17: column B
  OPT_START_CAPTION = 18,
  OPT_SAVE = 19,
  OPT_LOAD = 20,
};

// ---- quit popup (6) ----------------------------------------------------------------
enum { QUIT_QUIT = 2, QUIT_CANCEL = 3, QUIT_SAVE_SETUP = 4, QUIT_TEXT = 5 };

// ---- start-up information dialog (9) and its module list (14) -----------------------
enum {
  INFOU_LEAVE = 6,
  INFOU_START = 7,
  INFOU_INI = 8,
  INFOU_MODE = 9,
  INFOU_APPLY = 10,
  INFOU_MODE_TEXT = 13,
  INFOU_ACTIVE_TEXT = 14,
  INFOU_VERSION = 16,
};
enum {
  MODLIST_USE1 = 2,     // 2..5: check boxes of slots 1..4
  MODLIST_STATUS4 = 6,  // 9, 8, 7, 6: status lines of slots 1..4
  MODLIST_STATUS3 = 7,
  MODLIST_STATUS2 = 8,
  MODLIST_STATUS1 = 9,
};

// ---- setup-file load dialog (10) ----------------------------------------------------
enum {
  LOAD_NAME = 2,
  LOAD_BROWSE = 3,
  LOAD_INFO = 4,
  LOAD_LOAD = 5,      // committed by key 0x1800
  LOAD_CANCEL = 6,
  LOAD_RECENT = 7,
  LOAD_MESSAGE = 9,
  LOAD_DIR = 10,
};

// ---- setup-file save dialog (16) ----------------------------------------------------
enum {
  SAVE_NAME = 2,
  SAVE_BROWSE = 3,
  SAVE_INFO = 4,
  SAVE_SAVE = 5,
  SAVE_CANCEL = 6,
  SAVE_VERSION = 7,
  SAVE_AUTHOR = 8,
  SAVE_COMPANY = 9,
  SAVE_CONTENTS = 10,
  SAVE_RECENT = 11,
  SAVE_DIR = 12,
};

// ---- PCI card adjust panel (1) -------------------------------------------------------
enum {
  ADJUST_SERIAL = 2,
  ADJUST_DATE = 3,
  ADJUST_LIMIT_C1 = 4,
  ADJUST_LIMIT_C3 = 5,
  ADJUST_READ = 6,
  ADJUST_WRITE = 7,
  ADJUST_CLOSE = 8,
  ADJUST_CODE = 9,
  ADJUST_CARD = 10,
};

// ---- menu bars -------------------------------------------------------------------------
// Context menus: bar 2 of a digital-output bit, bar 3 of a gain control or an
// output switch (with the window's scaling, floating and output-enable items).
// Menu 2 of each is the popup.
enum {
  MENUBAR_DIGOUT = 2,
  MENUBAR_LABEL = 3,
  MENU_POPUP = 2,
  MENU_ITEM_RENAME = 3,
  MENU_ITEM_TOGGLE = 6,
  MENU_ITEM_MOMENTARY = 7,
  MENU_ITEM_INVERT = 8,
  MENU_ITEM_SCALE = 9,
  MENU_ITEM_FLOAT = 10,
  MENU_ITEM_EN_OUT = 11,
};
