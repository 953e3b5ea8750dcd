#include "support/Util_fun_dialogs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/popups.h"
#include "platform/ui/ui.h"
#include "platform/win/files.h"
#include "platform/win/strings.h"
#include "support/Util_fun_numeric.h"
#include "support/Util_fun_parfile.h"
#include "support/Util_fun_paths.h"

int FileSelectPopup_visible = 0;
int filedir_history_count = 0;

namespace {

constexpr int kMaxHistory = 7;
constexpr int kMaxRecent = 7;

std::string dialog_key(QVAppNumber app) { return qv::app_key(app, "\\FileDialog"); }
std::string opened_key(QVAppNumber app) { return qv::app_key(app, "\\OpenedFiles"); }

std::string file_dir_name(int n) { return "FileDir" + std::to_string(n); }

// A string value that exists and is not empty.
bool read_value(const std::string &key, const std::string &name, std::string *out) {
  char buf[QV_PATH_SIZE];
  uint32_t n = 0;
  if (RegReadString(HKEY_CURRENT_USER, key.c_str(), name.c_str(), buf, sizeof buf, &n) != 0 || n == 0) return false;
  *out = buf;
  return true;
}

void write_value(const std::string &key, const std::string &name, const std::string &value) {
  RegWriteString(HKEY_CURRENT_USER, key.c_str(), name.c_str(), value.c_str());
}

std::string extension_of(const char *path) {
  if (path == nullptr) return {};
  char ext[FNSPLIT_EXT_SIZE];
  fnsplit(path, nullptr, nullptr, nullptr, ext);
  return ext;
}

// The type list's first extension: from its first '.' to ';', a blank or the
// end, at most 4 characters; "" when there is none.
std::string default_extension(const char *type_list) {
  if (type_list == nullptr) return {};
  const char *dot = std::strchr(type_list, '.');
  if (dot == nullptr) return {};
  std::string ext;
  for (const char *c = dot; *c != '\0' && *c != ';' && *c != ' ' && *c != '\t' && ext.size() < 4; ++c) ext.push_back(*c);
  return ext.size() > 1 ? ext : std::string();
}

// Directory of a chosen file, made full, without its trailing separator.
std::string chosen_directory(const char *path) {
  char drive[FNSPLIT_DRIVE_SIZE], dir[FNSPLIT_DIR_SIZE];
  fnsplit(path, drive, dir, nullptr, nullptr);
  const std::string d = std::string(drive) + dir;
  char full[QV_PATH_SIZE];
  if (qv::_fullpath(full, d.empty() ? "." : d.c_str(), sizeof full) == nullptr) return {};
  std::string out = full;
  if (out.size() > 1 && (out.back() == '/' || out.back() == '\\')) out.pop_back();
  return out;
}

// The stored count of a kind as a signed number taken into 0..7 (the store
// may be edited by hand; a count beyond the list would shift past its end).
int recent_count(const std::string &key, const std::string &kind) {
  uint32_t n = 0;
  if (RegReadULong(HKEY_CURRENT_USER, key.c_str(), ("NoOf" + kind + "Entries").c_str(), &n) != 0) return 0;
  return std::clamp(static_cast<int32_t>(n), 0, kMaxRecent);
}

std::string recent_name(const std::string &kind, int n) { return kind + "FilePath" + std::to_string(n); }

// Deletes the list items whose files fail the marker test; the last result.
int filter_items(int panel, int control, const char *marker) {
  int count = 0, last = 1;
  GetNumListItems(panel, control, &count);
  for (int i = count - 1; i >= 0; --i) {
    char label[QV_PATH_SIZE] = "";
    GetLabelFromIndex(panel, control, i, label);
    last = test_if_valid_qv_settings_file(label, marker);
    if (last < 1) DeleteListItem(panel, control, i, 1);
  }
  return last;
}

bool has_wildcard(const char *name) { return name != nullptr && std::strchr(name, '*') != nullptr; }

}  // namespace

namespace qv {

std::string file_kind(const char *kind_pattern) {
  std::string ext = extension_of(kind_pattern);
  if (!ext.empty()) ext.erase(0, 1);
  if (ext.size() > 3) ext.resize(3);
  StringUpperCase(ext.data());
  return ext;
}

void load_dir_history(QVAppNumber app, const char *program_dir) {
  const std::string key = dialog_key(app);
  int count = 0;
  bool holds_program_dir = false;
  for (int n = kMaxHistory; n >= 1; --n) {
    std::string dir;
    if (!read_value(key, file_dir_name(n), &dir)) continue;
    AddToFilePopupDirHistory(dir.c_str());
    ++count;
    if (program_dir != nullptr && StrICmp(dir.c_str(), program_dir) == 0) holds_program_dir = true;
  }
  if (program_dir != nullptr && !holds_program_dir) {
    AddToFilePopupDirHistory(program_dir);
    write_value(key, file_dir_name(1), program_dir);
    count = std::max(count, 1);
  }
  filedir_history_count = count;
}

}  // namespace qv

int FileSelectPopupWithHistory(QVAppNumber app, const char *default_directory, const char *default_file_spec,
                               const char *file_type_list, const char *title, int button_label,
                               int restrict_directory, int restrict_extension, int allow_cancel,
                               int allow_make_directory, char path_name[], int keep_file_spec) {
  const std::string ext = default_extension(file_type_list);
  std::string spec = default_file_spec != nullptr ? default_file_spec : "";
  if (keep_file_spec == 0) spec += ext;
  FileSelectPopup_visible = 1;
  int result = FileSelectPopup(default_directory, spec.c_str(), file_type_list, title, button_label,
                               restrict_directory, restrict_extension, allow_cancel, allow_make_directory, path_name);
  if (result <= 0) {
    FileSelectPopup_visible = 0;
    return result;
  }
  if (result == VAL_NEW_FILE_SELECTED && !ext.empty() && restrict_extension == 0 &&
      (button_label == VAL_OK_BUTTON || button_label == VAL_SAVE_BUTTON)) {
    std::string last = extension_of(path_name);
    if (last.size() > 4) last.resize(4);
    if (StrICmp(last.c_str(), ext.c_str()) != 0) {
      if (std::strlen(path_name) + ext.size() >= QV_PATH_SIZE) {
        FileSelectPopup_visible = 0;
        return -1;  // the name with its extension would not fit
      }
      std::strcat(path_name, ext.c_str());
    }
  }
  result = FileExists(path_name, nullptr) == 1 ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
  const std::string dir = chosen_directory(path_name);
  if (dir.empty()) {
    FileSelectPopup_visible = 0;
    return result;
  }
  const std::string key = dialog_key(app);
  const int count = std::clamp(filedir_history_count, 0, kMaxHistory);
  int n = -1;
  for (int i = 0; i < count && n < 0; ++i) {
    std::string stored;
    if (!read_value(key, file_dir_name(i + 1), &stored)) {
      // A hole in the history: it is left as it is.
      FileSelectPopup_visible = 0;
      return result;
    }
    if (StrICmp(stored.c_str(), dir.c_str()) == 0) n = i;
  }
  if (n < 0) {
    n = count;
    AddToFilePopupDirHistory(dir.c_str());
    filedir_history_count = std::min(count + 1, kMaxHistory);
  }
  std::string carried = dir;
  for (int p = 2; p <= n; ++p) {
    std::string old;
    read_value(key, file_dir_name(p), &old);
    write_value(key, file_dir_name(p), carried);
    carried = old;
  }
  if (n > 0) write_value(key, file_dir_name(n + 1), carried);
  FileSelectPopup_visible = 0;
  return result;
}

void create_filehistlist(QVAppNumber app, int panel, int control, const char *kind_pattern) {
  ClearListCtrl(panel, control);
  const std::string key = opened_key(app);
  const std::string kind = qv::file_kind(kind_pattern);
  const int count = recent_count(key, kind);
  int items = 0;
  for (int n = 1; n <= count; ++n) {
    std::string path;
    if (!read_value(key, recent_name(kind, n), &path)) continue;
    InsertListItem(panel, control, -1, path.c_str(), items);
    ++items;
  }
}

void update_filehistlist(QVAppNumber app, int panel, int control, const char *kind_pattern, const char *path,
                         int check) {
  if (path == nullptr) return;
  if (check != 0 && StrICmp(extension_of(path).c_str(), extension_of(kind_pattern).c_str()) != 0) return;
  const std::string key = opened_key(app);
  const std::string kind = qv::file_kind(kind_pattern);
  int count = recent_count(key, kind);
  int m = -1;
  for (int i = 0; i < count && m < 0; ++i) {
    std::string stored;
    if (read_value(key, recent_name(kind, i + 1), &stored) && stored == path) m = i;
  }
  const bool is_new = m < 0;
  std::string carried = path;
  if (is_new) {
    m = count;
    if (count < kMaxRecent) {
      ++count;
      RegWriteULong(HKEY_CURRENT_USER, key.c_str(), ("NoOf" + kind + "Entries").c_str(), static_cast<uint32_t>(count));
    }
  }
  for (int i = 0; i < m; ++i) {
    std::string old;
    read_value(key, recent_name(kind, i + 1), &old);
    write_value(key, recent_name(kind, i + 1), carried);
    ReplaceListItem(panel, control, i, carried.c_str(), i);
    carried = old;
  }
  if ((m > 0 || is_new) && m < kMaxRecent) {
    write_value(key, recent_name(kind, m + 1), carried);
    if (is_new) InsertListItem(panel, control, m, carried.c_str(), m);
    else ReplaceListItem(panel, control, m, carried.c_str(), m);
  }
  if (count != 0) SetCtrlIndex(panel, control, 0);
}

int update_filehistlist_filtered(QVAppNumber app, int panel, int control, const char *kind_pattern,
                                 const char *path, int check, const char *marker) {
  const int valid = test_if_valid_qv_settings_file(path, marker);
  if (valid < 1) return valid;
  update_filehistlist(app, panel, control, kind_pattern, path, check);
  const int last = filter_items(panel, control, marker);
  int left = 0;
  GetNumListItems(panel, control, &left);
  if (left > 0) SetCtrlIndex(panel, control, 0);
  return last;
}

int test_if_valid_qv_settings_file(const char *path, const char *marker) {
  if (path == nullptr || marker == nullptr || FileExists(path, nullptr) != 1) return 0;
  const std::unique_ptr<FILE, int (*)(FILE *)> f(platform::files::fopen_plain(path, "rb"), &std::fclose);
  if (!f) return 0;
  char line[PARFILE_MAX_LINE + 1];
  for (;;) {
    const int n = read_string(f.get(), line, PARFILE_MAX_LINE);
    if (n < 0) return n;
    if (n == 0) return 0;
    const char *text = remove_leading_spaces(line);
    if (*text == '\0') continue;
    return strIstr(text, marker) != nullptr ? 1 : 0;
  }
}

int InitFilenameFromList(QVAppNumber app, int panel, int control, char *name, const char *kind_pattern) {
  if (!has_wildcard(name)) return -1;
  create_filehistlist(app, panel, control, kind_pattern);
  int count = 0;
  if (GetNumListItems(panel, control, &count) != 0 || count < 1) return -1;
  return GetLabelFromIndex(panel, control, 0, name, QV_PATH_SIZE) == 0 ? 0 : -1;
}

int InitFilenameFromListFiltered(QVAppNumber app, int panel, int control, char *name, const char *kind_pattern,
                                 const char *marker) {
  const bool pattern = has_wildcard(name);
  int r = InitFilenameFromList(app, panel, control, name, kind_pattern);
  if (!pattern || kind_pattern == nullptr || std::strstr(kind_pattern, ".txt") == nullptr) return r;
  filter_items(panel, control, marker);
  int count = 0;
  GetNumListItems(panel, control, &count);
  if (count < 1) return -1;
  return GetLabelFromIndex(panel, control, 0, name, QV_PATH_SIZE) == 0 ? 0 : -1;
}

int InitFilenameFromRegistry(QVAppNumber app, char *name, const char *kind_pattern) {
  if (!has_wildcard(name)) return 0;
  const std::string key = opened_key(app);
  const std::string kind = qv::file_kind(kind_pattern);
  for (int n = 1; n <= kMaxRecent; ++n) {
    std::string path;
    if (read_value(key, recent_name(kind, n), &path)) {
      std::memcpy(name, path.c_str(), path.size() + 1);
      return 0;
    }
  }
  return -1;
}

int LoadPanel55(int parent, const char *file, int resource_id) { return LoadPanel(parent, file, resource_id); }

int LoadPanelOnSameMonitor(int reference_panel, int parent, const char *file, int resource_id) {
  const int panel = LoadPanel(parent, file, resource_id);
  if (panel < 0) return panel;
  int monitors = 0;
  GetSystemAttribute(ATTR_NUM_MONITORS, &monitors);
  if (monitors < 2) return panel;
  // The reference panel's place on the screen: that of its window.
  int top_level = reference_panel, up = 0;
  while (GetPanelAttribute(top_level, ATTR_PANEL_PARENT, &up) == 0 && up > 0) top_level = up;
  int top = 0, left = 0;
  if (GetPanelAttribute(top_level, ATTR_TOP, &top) != 0 || GetPanelAttribute(top_level, ATTR_LEFT, &left) != 0)
    return panel;
  int m = 0;
  GetSystemAttribute(ATTR_FIRST_MONITOR, &m);
  for (int seen = 0; m > 0 && seen < monitors; ++seen) {
    int mt = 0, ml = 0, mh = 0, mw = 0;
    GetMonitorAttribute(m, ATTR_TOP, &mt);
    GetMonitorAttribute(m, ATTR_LEFT, &ml);
    GetMonitorAttribute(m, ATTR_HEIGHT, &mh);
    GetMonitorAttribute(m, ATTR_WIDTH, &mw);
    if (left >= ml && left < ml + mw && top >= mt && top < mt + mh) {
      int own = 0;
      GetPanelAttribute(panel, ATTR_LEFT, &own);
      SetPanelAttribute(panel, ATTR_LEFT, own + ml);
      break;
    }
    if (GetMonitorAttribute(m, ATTR_NEXT_MONITOR, &m) != 0) break;
  }
  return panel;
}
