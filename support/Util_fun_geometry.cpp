#include "support/Util_fun_geometry.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/win/registry.h"
#include "platform/win/strings.h"
#include "support/Util_fun_dialogs.h"

namespace {

std::string panel_key(QVAppNumber app, const char *suffix) {
  return qv::app_key(app, (std::string("\\PanelAttr") + (suffix != nullptr ? suffix : "")).c_str());
}

void to_bytes(const PanelAttrValue &v, unsigned char out[PANEL_ATTR_VALUE_SIZE]) {
  const int32_t fields[5] = {v.top, v.left, v.height, v.width, v.flags};
  for (int f = 0; f < 5; ++f) {
    const auto u = static_cast<uint32_t>(fields[f]);
    for (int b = 0; b < 4; ++b) out[f * 4 + b] = static_cast<unsigned char>(u >> (8 * b));
  }
}

void from_bytes(const unsigned char in[PANEL_ATTR_VALUE_SIZE], PanelAttrValue *v) {
  int32_t fields[5];
  for (int f = 0; f < 5; ++f) {
    uint32_t u = 0;
    for (int b = 3; b >= 0; --b) u = (u << 8) | in[f * 4 + b];
    fields[f] = static_cast<int32_t>(u);
  }
  *v = PanelAttrValue{fields[0], fields[1], fields[2], fields[3], fields[4]};
}

// The stored value into the entry (a shorter one over the bytes it covers):
// 0, 1 when no usable value is stored, or the failed read's result.
int read_stored(const std::string &key, PanelAttrEntry *entry) {
  uint32_t type = 0, size = 0;
  if (RegQueryInfoOnValue(HKEY_CURRENT_USER, key.c_str(), entry->name, &type, &size) != 0 || size == 0 ||
      size > PANEL_ATTR_VALUE_SIZE)
    return 1;
  unsigned char bytes[PANEL_ATTR_VALUE_SIZE];
  to_bytes(entry->value, bytes);
  if (const int r = RegReadBinary(HKEY_CURRENT_USER, key.c_str(), entry->name, bytes, sizeof bytes, &size); r != 0)
    return r;
  from_bytes(bytes, &entry->value);
  return 0;
}

struct Rect {
  int top = 0, left = 0, height = 0, width = 0;
};

// The stored geometry fitted to the desktop, with the panel's resource
// geometry where the stored one does not fit. Sums in 64 bits: the store may
// hold anything.
void fit(PanelAttrValue &v, const Rect &p, bool child, bool ext) {
  int H = 0, W = 0, T = 0, L = 0;
  GetDesktopSizeAndPosition(&H, &W, &T, &L);
  if (v.top > static_cast<int64_t>(H) - 50) v.top = p.top < 1 ? 35 : p.top;
  if (v.left > static_cast<int64_t>(W) - 50) v.left = p.left < 1 ? 0 : p.left;
  if (ext) {
    if (v.height > H || v.width > W) {
      v.height = p.height;
      v.width = p.width;
    }
    if (v.height == 0) v.height = p.height;
    if (v.width == 0) v.width = p.width;
  } else {
    if (v.height > H) v.height = p.height;
    if (v.width > W) v.width = p.width;
  }
  const int64_t min_top = child ? 35 : static_cast<int64_t>(T) + 35;
  if (v.top < min_top) v.top = static_cast<int32_t>(min_top);
  const int min_left = child ? 0 : L;
  if (static_cast<int64_t>(v.left) + v.width < 150) v.left = ext ? L : min_left;
  if (v.left >= 0 && v.left < min_left) v.left = min_left;
}

int load(int parent, const char *file, int resource_id, int use55, const char *suffix, QVAppNumber app,
         PanelAttrEntry *entry, bool ext) {
  int panel = -1;
  if (file != nullptr) {
    panel = use55 ? LoadPanel55(parent, file, resource_id) : LoadPanel(parent, file, resource_id);
    if (panel < 0) return panel;
  }
  if (entry == nullptr) return panel;
  if (entry->state != PANEL_STATE_FIT_ONLY) {
    const int r = read_stored(panel_key(app, suffix), entry);
    if (r == 1) {
      entry->state = PANEL_STATE_NONE;
      return panel;
    }
    if (r != 0) return panel;
  }
  if (panel > 0 && entry->state != PANEL_STATE_NO_FIT) {
    Rect p;
    GetPanelAttribute(panel, ATTR_TOP, &p.top);
    GetPanelAttribute(panel, ATTR_LEFT, &p.left);
    GetPanelAttribute(panel, ATTR_HEIGHT, &p.height);
    GetPanelAttribute(panel, ATTR_WIDTH, &p.width);
    fit(entry->value, p, parent > 0, ext);
  }
  entry->state = PANEL_STATE_RESTORED;
  return panel;
}

int save(QVAppNumber app, int count, const char *suffix, PanelAttrEntry *table) {
  if (table == nullptr) return count > 0 ? REG_ERR_NULL_ARGUMENT : 0;
  const std::string key = panel_key(app, suffix);
  for (int i = 0; i < count; ++i) {
    if (table[i].state <= 0) continue;
    unsigned char bytes[PANEL_ATTR_VALUE_SIZE];
    to_bytes(table[i].value, bytes);
    if (const int r = RegWriteBinary(HKEY_CURRENT_USER, key.c_str(), table[i].name, bytes, sizeof bytes); r != 0)
      return r;
  }
  return 0;
}

}  // namespace

void init_panel_structures(PanelAttrEntry *table, int count, const char *const names[]) {
  if (table == nullptr) return;
  for (int i = 0; i < count; ++i) {
    table[i].state = PANEL_STATE_INIT;
    table[i].value = PanelAttrValue{0, 0, 0, 0, 0};
    platform::copy_bounded(table[i].name, sizeof table[i].name, names != nullptr && names[i] ? names[i] : "");
  }
}

int LoadPanelAndSettings(int parent, const char *file, int resource_id, int use_loadpanel55, QVAppNumber app,
                         PanelAttrEntry *entry) {
  return load(parent, file, resource_id, use_loadpanel55, nullptr, app, entry, false);
}

int LoadPanelAndSettingsExt(int parent, const char *file, int resource_id, int use_loadpanel55,
                            const char *suffix, QVAppNumber app, PanelAttrEntry *entry) {
  return load(parent, file, resource_id, use_loadpanel55, suffix, app, entry, true);
}

void get_panel_attr(PanelAttrEntry *entry, int panel) {
  if (entry == nullptr) return;
  entry->state = PANEL_STATE_TAKEN;
  PanelAttrValue &v = entry->value;
  GetPanelAttribute(panel, ATTR_WIDTH, &v.width);
  GetPanelAttribute(panel, ATTR_HEIGHT, &v.height);
  GetPanelAttribute(panel, ATTR_LEFT, &v.left);
  GetPanelAttribute(panel, ATTR_TOP, &v.top);
  int visible = 0, scale = 0;
  GetPanelAttribute(panel, ATTR_VISIBLE, &visible);
  GetPanelAttribute(panel, ATTR_SCALE_CONTENTS_ON_RESIZE, &scale);
  v.flags &= ~(PANEL_FLAG_VISIBLE | PANEL_FLAG_SCALE_CONTENTS);
  if (visible) v.flags |= PANEL_FLAG_VISIBLE;
  if (scale) v.flags |= PANEL_FLAG_SCALE_CONTENTS;
}

int get_panel_attr_from_registry(QVAppNumber app, PanelAttrEntry *entry) {
  if (entry == nullptr) return REG_ERR_NULL_ARGUMENT;
  const int r = read_stored(panel_key(app, nullptr), entry);
  if (r == 1) {
    entry->state = PANEL_STATE_NONE;
    return -1;
  }
  return r;
}

int SavePanelSettings(QVAppNumber app, int count, PanelAttrEntry *table) { return save(app, count, nullptr, table); }

int SavePanelSettingsExt(QVAppNumber app, int count, const char *suffix, PanelAttrEntry *table) {
  return save(app, count, suffix, table);
}

int LoadAppSettings(QVAppNumber app, int size, const char *name, void *buffer) {
  const std::string key = qv::app_key(app, "\\AppSettings");
  uint32_t type = 0, stored = 0;
  if (RegQueryInfoOnValue(HKEY_CURRENT_USER, key.c_str(), name, &type, &stored) != 0 || stored == 0) return -1;
  if (buffer == nullptr) return static_cast<int>(stored);
  if (size > 0 && static_cast<uint32_t>(size) < stored) return -1;
  uint32_t got = 0;
  return RegReadBinary(HKEY_CURRENT_USER, key.c_str(), name, static_cast<unsigned char *>(buffer),
                       size > 0 ? static_cast<uint32_t>(size) : stored, &got);
}

int SaveAppSettings(QVAppNumber app, int size, const char *name, const void *data) {
  if (size < 0 || (data == nullptr && size > 0)) return REG_ERR_NULL_ARGUMENT;
  const std::string key = qv::app_key(app, "\\AppSettings");
  return RegWriteBinary(HKEY_CURRENT_USER, key.c_str(), name, static_cast<const unsigned char *>(data),
                        static_cast<uint32_t>(size));
}

int GetDesktopSizeAndPosition(int *height, int *width, int *top, int *left) {
  int H = 0, W = 0, T = 0, L = 0;
  int count = 0, m = 0;
  GetSystemAttribute(ATTR_NUM_MONITORS, &count);
  GetSystemAttribute(ATTR_FIRST_MONITOR, &m);
  for (int seen = 0; seen < count && m > 0; ++seen) {
    int mt = 0, ml = 0, mh = 0, mw = 0;
    if (GetMonitorAttribute(m, ATTR_TOP, &mt) != 0 || GetMonitorAttribute(m, ATTR_LEFT, &ml) != 0 ||
        GetMonitorAttribute(m, ATTR_HEIGHT, &mh) != 0 || GetMonitorAttribute(m, ATTR_WIDTH, &mw) != 0)
      break;
    if (mt >= 0 && mt < 200) {
      W += mw;
      T = std::max(T, mt);
    }
    if (ml >= 0 && ml < 200) {
      H += mh;
      L = std::max(L, ml);
    }
    if (GetMonitorAttribute(m, ATTR_NEXT_MONITOR, &m) != 0) break;
  }
  if (height) *height = H;
  if (width) *width = W;
  if (top) *top = T;
  if (left) *left = L;
  return 0;
}

int GetDesktopSize(int *height, int *width) { return GetDesktopSizeAndPosition(height, width, nullptr, nullptr); }

int GetFullScreenSize(int *height, int *width) {
  int h = 0, w = 0;
  if (GetScreenSize(&h, &w) != 0) return -1;
  if (height) *height = h;
  if (width) *width = w;
  return 0;
}

int GetPanelPos(int panel, int *top, int *left) {
  int v = 0;
  int r = GetPanelAttribute(panel, ATTR_TOP, &v);
  if (r < 0) return r;
  if (top) *top = v;
  r = GetPanelAttribute(panel, ATTR_LEFT, &v);
  if (r == 0 && left) *left = v;
  return r;
}

int GetPanelSize(int panel, int *height, int *width) {
  int v = 0;
  int r = GetPanelAttribute(panel, ATTR_HEIGHT, &v);
  if (r < 0) return r;
  if (height) *height = v;
  r = GetPanelAttribute(panel, ATTR_WIDTH, &v);
  if (r == 0 && width) *width = v;
  return r;
}

int IncrCtrlsAttrForList(int panel, std::span<const int> controls, int attribute, int increment) {
  for (const int c : controls) {
    int v = 0;
    if (const int r = GetCtrlAttribute(panel, c, attribute, &v); r < 0) return r;
    if (const int r = SetCtrlAttribute(panel, c, attribute, static_cast<long long>(v) + increment); r < 0) return r;
  }
  return 0;
}

int ShiftCtrlsForList(int panel, std::span<const int> controls, int vertical, int16_t offset) {
  return IncrCtrlsAttrForList(panel, controls, vertical ? ATTR_TOP : ATTR_LEFT, offset);
}

int MyCenterCtrl(int panel, int control, int area_top, int area_left, int area_height, int area_width) {
  int rt = 0, rl = 0, rh = 0, rw = 0, top = 0, left = 0;
  if (const int r = GetCtrlBoundingRect(panel, control, &rt, &rl, &rh, &rw); r < 0) return r;
  if (const int r = GetCtrlAttribute(panel, control, ATTR_TOP, &top); r < 0) return r;
  if (const int r = GetCtrlAttribute(panel, control, ATTR_LEFT, &left); r < 0) return r;
  if (area_height != 0) {
    const int new_top = area_top + (area_height - rh) / 2;
    if (const int r = SetCtrlAttribute(panel, control, ATTR_TOP, top + (new_top - rt)); r < 0) return r;
  }
  if (area_width != 0) {
    const int new_left = area_left + (area_width - rw) / 2;
    if (const int r = SetCtrlAttribute(panel, control, ATTR_LEFT, left + (new_left - rl)); r < 0) return r;
  }
  return 0;
}

int CreateVisiblePanelsList(int skip1, int skip2, int *list, int max) {
  int n = 0, p = 0;
  GetSystemAttribute(ATTR_FIRST_TOP_PANEL, &p);
  while (p > 0 && n < max) {
    int visible = 0;
    if (p != skip1 && p != skip2 && GetPanelAttribute(p, ATTR_VISIBLE, &visible) == 0 && visible) {
      if (list != nullptr) list[n] = p;
      ++n;
    }
    if (GetPanelAttribute(p, ATTR_NEXT_PANEL, &p) != 0) break;
  }
  return n;
}
