#pragma once
// Panel geometry kept between runs, application settings records, desktop
// and screen sizes, and small control-layout operations.
//
// A panel's geometry is stored as a 20-byte binary value under the
// application's "\PanelAttr" key, five little-endian 32-bit signed integers:
// top, left, height, width, flags (PANEL_FLAG_*). Settings records are byte
// blocks stored whole under "\AppSettings" by name (the operator program's
// record is "Current").
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ui/ui.h"
#include "support/Util_fun_registry.h"

struct PanelAttrValue {
  int32_t top;
  int32_t left;
  int32_t height;
  int32_t width;
  int32_t flags;
};
static_assert(sizeof(PanelAttrValue) == 20, "the stored geometry is 20 bytes");

enum { PANEL_FLAG_VISIBLE = 0x001, PANEL_FLAG_SCALE_CONTENTS = 0x100 };

// One row of the application's panel table.
struct PanelAttrEntry {
  int32_t state;      // PANEL_STATE_*
  char name[20];      // registry value name, NUL-terminated
  PanelAttrValue value;
};
static_assert(sizeof(PanelAttrEntry) == 44 && offsetof(PanelAttrEntry, name) == 4 &&
                  offsetof(PanelAttrEntry, value) == 24,
              "PanelAttrEntry: state, name[20], value");

enum {
  PANEL_STATE_NONE = -1,      // no usable value stored
  PANEL_STATE_INIT = 0,       // initialised, nothing read
  PANEL_STATE_RESTORED = 1,   // read (and fitted)
  PANEL_STATE_TAKEN = 2,      // taken from the live panel
  PANEL_STATE_FIT_ONLY = 3,   // set by the application: fit the entry's value, read nothing
  PANEL_STATE_NO_FIT = 4,     // set by the application: read, do not fit
};
constexpr uint32_t PANEL_ATTR_VALUE_SIZE = 20;

// Every row: state 0, value zeroed, names[i] copied (cut to 19 characters).
void init_panel_structures(PanelAttrEntry *table, int count, const char *const names[]);

// Loads panel resource_id of file (through LoadPanel55 when use_loadpanel55
// is set; no file: no panel, handle -1) and fills entry (when given) with the
// stored geometry fitted to the desktop and to the panel's resource geometry.
// A value missing, empty or longer than 20 bytes gives state -1; a shorter
// one fills only its bytes. Returns the handle or the load error. The caller
// applies the value to the panel.
int LoadPanelAndSettings(int parent, const char *file, int resource_id, int use_loadpanel55, QVAppNumber app,
                         PanelAttrEntry *entry);
// The same under "\PanelAttr<suffix>", with stricter fitting: a size beyond
// the desktop or of 0 takes the resource's size, and a panel left of 150
// pixels goes to the desktop's left also when it is a child.
int LoadPanelAndSettingsExt(int parent, const char *file, int resource_id, int use_loadpanel55,
                            const char *suffix, QVAppNumber app, PanelAttrEntry *entry);
// The entry's value from the live panel (state 2).
void get_panel_attr(PanelAttrEntry *entry, int panel);
// The stored value into the entry: 0, a registry error, or -1 (state -1) when
// no usable value is stored.
int get_panel_attr_from_registry(QVAppNumber app, PanelAttrEntry *entry);
// Writes every row with a state above 0; stops at the first failed write and
// returns its result.
int SavePanelSettings(QVAppNumber app, int count, PanelAttrEntry *table);
int SavePanelSettingsExt(QVAppNumber app, int count, const char *suffix, PanelAttrEntry *table);

// A settings record. Without a buffer the stored size; with one 0 or the
// registry result, reading size bytes (the stored size when size <= 0; a
// shorter stored record fills only its bytes); -1 when the record is missing
// or empty, or when a positive size is smaller than the stored one.
int LoadAppSettings(QVAppNumber app, int size, const char *name, void *buffer);
int SaveAppSettings(QVAppNumber app, int size, const char *name, const void *data);

// The desktop: monitors whose top lies in 0..199 add their width, those whose
// left lies there their height; top and left are the largest such offsets.
// Any pointer may be null. 0.
int GetDesktopSizeAndPosition(int *height, int *width, int *top, int *left);
int GetDesktopSize(int *height, int *width);
// The primary screen's resolution: 0, or -1 when it cannot be had.
int GetFullScreenSize(int *height, int *width);
// Platform results; left (width) is read only after top (height) was.
int GetPanelPos(int panel, int *top, int *left);
int GetPanelSize(int panel, int *height, int *width);

// Moves each control's top (vertical set) or left by offset; 0 or the first
// platform error.
int ShiftCtrlsForList(int panel, std::span<const int> controls, int vertical, int16_t offset);
// count is the number of control ids that follow.
template <platform::ui::detail::Integer... Ids>
int ShiftCtrls(int panel, int vertical, int16_t offset, int count, Ids... controls) {
  const int ids[] = {static_cast<int>(controls)..., 0};
  if (count < 0 || count > static_cast<int>(sizeof...(Ids))) return UIE_BAD_ARGUMENT;
  return ShiftCtrlsForList(panel, std::span<const int>(ids, static_cast<std::size_t>(count)), vertical, offset);
}
// Adds increment to an integer attribute of each control; 0 or the first error.
int IncrCtrlsAttrForList(int panel, std::span<const int> controls, int attribute, int increment);
template <platform::ui::detail::Integer... Ids>
int IncrCtrlsAttribute(int panel, int attribute, int increment, int count, Ids... controls) {
  const int ids[] = {static_cast<int>(controls)..., 0};
  if (count < 0 || count > static_cast<int>(sizeof...(Ids))) return UIE_BAD_ARGUMENT;
  return IncrCtrlsAttrForList(panel, std::span<const int>(ids, static_cast<std::size_t>(count)), attribute,
                              increment);
}
// Centres the control with its label in the area (top only when the area's
// height is not 0, left only when its width is not 0); 0 or the first error.
int MyCenterCtrl(int panel, int control, int area_top, int area_left, int area_height, int area_width);
// The visible top-level panels but the two given, in the platform's order,
// into list (when given) up to max entries; their number.
int CreateVisiblePanelsList(int skip1, int skip2, int *list, int max);
