#pragma once
// The operator program's settings record, stored as the binary registry value
// "Current" of application 18: its layout is a stored format.
#include <cstddef>
#include <cstdint>

constexpr int APPATTR_LABELS = 20;      // label entries per module
constexpr int APPATTR_LABEL_SIZE = 12;  // 11 characters and the NUL
// Elements of the label entries.
constexpr int LABEL_OUTPUT = 0;  // 0..4: the five output switches
constexpr int LABEL_DIGOUT = 5;  // 5..12: digital-output bits 0..7
constexpr int LABEL_GAIN = 13;   // 13..16: gain of connectors 1..4

#pragma pack(push, 1)
struct AppAttrRecord {
  int32_t scale;              // 1, or 2: panels scale their contents on resize
  int32_t float_mode;         // 1, or -50: the main window floats
  int16_t quit_outputs[4];    // output enables at quit (kept, not read)
  int16_t start_outputs[4];   // per module: bit k set = output k locked at start
  char labels[4][APPATTR_LABELS][APPATTR_LABEL_SIZE];  // "" keeps the resource's label
  int16_t digout_modes[4];    // bit b: bit b momentary; bit b+8: bit b shown inverted
};
#pragma pack(pop)
static_assert(sizeof(AppAttrRecord) == 992, "the stored record is 992 bytes");
static_assert(offsetof(AppAttrRecord, scale) == 0 && offsetof(AppAttrRecord, float_mode) == 4);
static_assert(offsetof(AppAttrRecord, quit_outputs) == 8 && offsetof(AppAttrRecord, start_outputs) == 16);
static_assert(offsetof(AppAttrRecord, labels) == 24 && offsetof(AppAttrRecord, digout_modes) == 984);

extern AppAttrRecord AppAttr;

// Defaults when no record was stored (float_mode reads 0); a stored record
// is made safe to use: scale and float_mode outside their values take their
// defaults, and every label ends within its 12 bytes.
void set_appattr_defaults(void);
// Attribute 618 (scale contents on resize) on every loaded panel of the
// program: main window, configuration, options, EEPROM and information pages
// and the information page's module list.
void set_all_panels_attr(int value);

// Panel handles of the main window and its pages (0 = not loaded).
extern int trq_panel;
extern int trq_ctrl_panel;
extern int trq_opt_panel;
extern int trq_adjust_panel;
extern int trq_info_panel;       // the information page
extern int trq_info_list_panel;  // its module list
