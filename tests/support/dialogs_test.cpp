// The file dialog's directory history, its extension rule, the recent-file
// lists bound to a list control, and panel loading.
#include <filesystem>

#include "tests/support/store_fixture.h"

namespace {

using namespace storetest;
namespace headless = platform::ui::headless;

std::vector<std::string> history_values() {
  std::vector<std::string> out;
  for (int n = 1; n <= 8; ++n) out.push_back(user_string(kDialogKey, "FileDir" + std::to_string(n)));
  while (!out.empty() && out.back() == "<missing>") out.pop_back();
  return out;
}

class FileDialog : public StoreTest {
 protected:
  // A directory of the work folder, created.
  std::string d(const std::string &name) const {
    std::filesystem::create_directories(work.file(name));
    return work.file(name);
  }
  // The stored history, then registration as at start-up.
  void history(const std::vector<std::string> &dirs) {
    for (size_t i = 0; i < dirs.size(); ++i) set_user(kDialogKey, "FileDir" + std::to_string(i + 1), dirs[i]);
    qv::load_dir_history(QV_APP_TRQ, nullptr);
  }
  // The operator picks path in a load dialog of setup files.
  int choose(const std::string &path, const char *types = "*.set", int button = VAL_LOAD_BUTTON, int restrict_ext = 1,
             char *out = nullptr) {
    headless::script_path(path);
    char buf[260];
    return FileSelectPopupWithHistory(QV_APP_TRQ, work.path().c_str(), "", types, "Select a File to Load", button, 0,
                                      restrict_ext, 1, 0, out != nullptr ? out : buf, 1);
  }
};

TEST_F(FileDialog, TheChosenDirectoryBecomesFileDir2) {
  struct Case {
    const char *chosen;
    std::vector<std::string> after;
  };
  const Case cases[] = {
      {"D", {"A", "D", "B", "C"}},
      {"C", {"A", "C", "B"}},
      {"B", {"A", "B", "C"}},
      {"A", {"A", "B", "C"}},
  };
  for (const Case &c : cases) {
    std::filesystem::remove(reg.path() + "/user.reg");
    history({d("A"), d("B"), d("C")});
    ASSERT_EQ(choose(d(c.chosen) + "/run.set"), VAL_NEW_FILE_SELECTED) << c.chosen;
    std::vector<std::string> expected;
    for (const std::string &n : c.after) expected.push_back(work.file(n));
    EXPECT_EQ(history_values(), expected) << "chosen in " << c.chosen;
  }
  // Found without regard to case, the stored spelling kept.
  std::filesystem::remove(reg.path() + "/user.reg");
  std::string upper_c = d("C");
  StringUpperCase(upper_c.data());
  history({d("A"), d("B"), upper_c});
  choose(d("C") + "/x.set");
  EXPECT_EQ(history_values(), (std::vector<std::string>{d("A"), d("C"), d("B")}));
  EXPECT_EQ(filedir_history_count, 3);
}

TEST_F(FileDialog, AFullHistoryPushesItsLastIntoFileDir8) {
  std::vector<std::string> seven;
  for (char c = '1'; c <= '7'; ++c) seven.push_back(d(std::string(1, c)));
  history(seven);
  ASSERT_EQ(filedir_history_count, 7);
  choose(d("new") + "/run.set");
  EXPECT_EQ(history_values(), (std::vector<std::string>{seven[0], d("new"), seven[1], seven[2], seven[3], seven[4],
                                                        seven[5], seven[6]}));
  EXPECT_EQ(filedir_history_count, 7);
  EXPECT_EQ(headless::dir_history().front(), d("new"));
}

TEST_F(FileDialog, AHoleInTheHistoryLeavesItAsItIs) {
  set_user(kDialogKey, "FileDir1", d("A"));
  set_user(kDialogKey, "FileDir3", d("C"));
  qv::load_dir_history(QV_APP_TRQ, nullptr);
  ASSERT_EQ(filedir_history_count, 2);
  EXPECT_EQ(choose(d("C") + "/run.set"), VAL_NEW_FILE_SELECTED);
  EXPECT_EQ(user_string(kDialogKey, "FileDir2"), "<missing>");
  EXPECT_EQ(user_string(kDialogKey, "FileDir3"), d("C"));
}

TEST_F(FileDialog, CancelChangesNothingAndTheFlagShowsTheDialog) {
  struct Watch : platform::ui::PopupView {
    int seen = -1;
    int message(const platform::ui::ShownPopup &) override { return 0; }
    int generic(const platform::ui::ShownPopup &) override { return 1; }
    int file_select(const platform::ui::ShownPopup &, std::string *) override {
      seen = FileSelectPopup_visible;
      return 0;
    }
  } watch;
  history({d("A"), d("B")});
  platform::ui::set_popup_view(&watch);
  char path[260];
  EXPECT_EQ(FileSelectPopupWithHistory(QV_APP_TRQ, work.path().c_str(), "", "*.set", "t", VAL_LOAD_BUTTON, 0, 1, 1,
                                       0, path, 1),
            0);
  platform::ui::set_popup_view(nullptr);
  EXPECT_EQ(watch.seen, 1);
  EXPECT_EQ(FileSelectPopup_visible, 0);
  EXPECT_EQ(history_values(), (std::vector<std::string>{d("A"), d("B")}));
}

TEST_F(FileDialog, NewNamesGetTheDefaultExtension) {
  history({d("A")});
  work.write("old.set", "x");
  struct Case {
    const char *typed;
    const char *types;
    int button, restrict_ext;
    int result;
    const char *path;  // in the work folder
  };
  const Case cases[] = {
      {"run1", "*.set", VAL_SAVE_BUTTON, 0, 2, "run1.set"},
      {"run1.SET", "*.set", VAL_SAVE_BUTTON, 0, 2, "run1.SET"},
      {"run1.txt", "*.set", VAL_OK_BUTTON, 0, 2, "run1.txt.set"},
      {"old", "*.set", VAL_SAVE_BUTTON, 0, 1, "old.set"},
      {"run1", "*.set", VAL_SAVE_BUTTON, 1, 2, "run1"},
      {"run1", "*.set", VAL_LOAD_BUTTON, 0, 2, "run1"},
      {"run1", "*.c;*.h", VAL_SAVE_BUTTON, 0, 2, "run1.c"},
      {"run1", "*.set *.dat", VAL_SAVE_BUTTON, 0, 2, "run1.set"},
      {"run1", "*.settings", VAL_SAVE_BUTTON, 0, 2, "run1.set"},
      {"run1", "*", VAL_SAVE_BUTTON, 0, 2, "run1"},
      {"old.set", "*.set", VAL_LOAD_BUTTON, 1, 1, "old.set"},
  };
  for (const Case &c : cases) {
    char out[260] = "";
    EXPECT_EQ(choose(work.file(c.typed), c.types, c.button, c.restrict_ext, out), c.result) << c.typed << " " << c.types;
    EXPECT_EQ(std::string(out), work.file(c.path)) << c.typed << " " << c.types;
  }
  // A name with no room left for its extension is refused.
  const std::string dir = d("A");
  std::string name = dir + "/" + std::string(259 - dir.size() - 1 - 2, 'n');
  ASSERT_EQ(name.size(), 257u);
  char out[260] = "";
  EXPECT_EQ(choose(name, "*.set", VAL_SAVE_BUTTON, 0, out), -1);
  EXPECT_EQ(FileSelectPopup_visible, 0);
}

TEST_F(FileDialog, TheDefaultFileSpecTakesTheExtensionUnlessKept) {
  char out[260];
  FileSelectPopupWithHistory(QV_APP_TRQ, "/d", "run", "*.set", "t", VAL_SAVE_BUTTON, 0, 1, 1, 0, out, 0);
  FileSelectPopupWithHistory(QV_APP_TRQ, "/d", "run", "*.set", "t", VAL_SAVE_BUTTON, 0, 1, 1, 0, out, 1);
  FileSelectPopupWithHistory(QV_APP_TRQ, "/d", nullptr, nullptr, "t", VAL_SAVE_BUTTON, 0, 1, 1, 0, out, 0);
  ASSERT_EQ(headless::shown().size(), 3u);
  EXPECT_EQ(headless::shown()[0].file_spec, "run.set");
  EXPECT_EQ(headless::shown()[1].file_spec, "run");
  EXPECT_EQ(headless::shown()[2].file_spec, "");
}

// --- recent files -------------------------------------------------------------

class RecentFiles : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    panel = NewPanel(0, "Load", 0, 0, 300, 400);
    list = NewCtrl(panel, CTRL_LIST_BOX, VAL_INTEGER, "Recent", 20, 10, 200, 300);
  }
  void store(const std::vector<std::string> &paths) {
    ASSERT_EQ(RegWriteULong(HKEY_CURRENT_USER, kOpenedKey, "NoOfSETEntries", static_cast<uint32_t>(paths.size())), 0);
    for (size_t i = 0; i < paths.size(); ++i) set_user(kOpenedKey, "SETFilePath" + std::to_string(i + 1), paths[i]);
  }
  std::vector<std::string> stored() const {
    uint32_t n = 0;
    RegReadULong(HKEY_CURRENT_USER, kOpenedKey, "NoOfSETEntries", &n);
    std::vector<std::string> out;
    for (uint32_t i = 1; i <= n && i <= 7; ++i) out.push_back(user_string(kOpenedKey, "SETFilePath" + std::to_string(i)));
    return out;
  }
  // The labels; their values are their positions unless items were deleted.
  std::vector<std::string> items(bool values_are_positions = true) const {
    int count = 0;
    GetNumListItems(panel, list, &count);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
      char label[260];
      GetLabelFromIndex(panel, list, i, label);
      int value = -1;
      GetValueFromIndex(panel, list, i, &value);
      if (values_are_positions) {
        EXPECT_EQ(value, i) << "item " << i;
      }
      out.push_back(label);
    }
    return out;
  }
  int selected() const {
    int index = -2;
    GetCtrlIndex(panel, list, &index);
    return index;
  }
  int panel = 0, list = 0;
};

TEST_F(RecentFiles, TheOpenedFileGoesToTheHead) {
  using V = std::vector<std::string>;
  struct Case {
    V before;
    const char *opened;
    V after;
  };
  const Case cases[] = {
      {{"A", "B", "C", "D"}, "C", {"C", "A", "B", "D"}},
      {{"A", "B", "C", "D"}, "E", {"E", "A", "B", "C", "D"}},
      {{"A", "B", "C", "D"}, "A", {"A", "B", "C", "D"}},
      {{"A", "B", "C", "D"}, "D", {"D", "A", "B", "C"}},
      {{}, "A", {"A"}},
      {{"1", "2", "3", "4", "5", "6", "7"}, "N", {"N", "1", "2", "3", "4", "5", "6"}},
      {{"1", "2", "3", "4", "5", "6", "7"}, "7", {"7", "1", "2", "3", "4", "5", "6"}},
      {{"a.set"}, "A.SET", {"A.SET", "a.set"}},
  };
  for (const Case &c : cases) {
    std::filesystem::remove(reg.path() + "/user.reg");
    store(c.before);
    create_filehistlist(QV_APP_TRQ, panel, list, "*.set");
    EXPECT_EQ(items(), c.before);
    update_filehistlist(QV_APP_TRQ, panel, list, "*.set", c.opened, 0);
    EXPECT_EQ(stored(), c.after) << c.opened;
    EXPECT_EQ(items(), c.after) << c.opened;
    EXPECT_EQ(selected(), 0);
  }
}

TEST_F(RecentFiles, StoredCountsOutsideTheListAreTakenAsItsEnds) {
  store({"A", "B", "C", "D", "E", "F", "G"});
  for (const uint32_t bad : {9u, 0xFFFFFFFFu, 0x80000000u}) {
    ASSERT_EQ(RegWriteULong(HKEY_CURRENT_USER, kOpenedKey, "NoOfSETEntries", bad), 0);
    create_filehistlist(QV_APP_TRQ, panel, list, "*.set");
    EXPECT_EQ(items().size(), bad == 9u ? 7u : 0u) << bad;
  }
  ASSERT_EQ(RegWriteULong(HKEY_CURRENT_USER, kOpenedKey, "NoOfSETEntries", 12), 0);
  create_filehistlist(QV_APP_TRQ, panel, list, "*.set");
  update_filehistlist(QV_APP_TRQ, panel, list, "*.set", "N", 0);
  EXPECT_EQ(items(), (std::vector<std::string>{"N", "A", "B", "C", "D", "E", "F"}));
  EXPECT_EQ(user_string(kOpenedKey, "SETFilePath8"), "<missing>") << "nothing is written past the seventh";
}

TEST_F(RecentFiles, KindsChecksAndUnreadableEntries) {
  EXPECT_EQ(qv::file_kind("*.set"), "SET");
  EXPECT_EQ(qv::file_kind("/d/x.settings"), "SET");
  EXPECT_EQ(qv::file_kind("*.c"), "C");
  EXPECT_EQ(qv::file_kind("noext"), "");
  update_filehistlist(QV_APP_TRQ, panel, list, "*.set", "/d/x.txt", 1);
  EXPECT_TRUE(stored().empty());
  update_filehistlist(QV_APP_TRQ, panel, list, "*.set", "/d/x.SET", 1);
  EXPECT_EQ(stored(), std::vector<std::string>{"/d/x.SET"});
  // Another kind keeps a list of its own.
  update_filehistlist(QV_APP_TRQ, panel, list, "*.txt", "/d/y.txt", 1);
  EXPECT_EQ(user_string(kOpenedKey, "TXTFilePath1"), "/d/y.txt");
  // An empty or damaged entry is passed over.
  store({"A", "", "C"});
  RegWriteULong(HKEY_CURRENT_USER, kOpenedKey, "SETFilePath2", 5);
  create_filehistlist(QV_APP_TRQ, panel, list, "*.set");
  EXPECT_EQ(items(), (std::vector<std::string>{"A", "C"}));
}

TEST_F(RecentFiles, SettingsFileMarker) {
  struct Case {
    const char *content;
    int result;
  };
  const Case cases[] = {
      {"\n   \n  ; TRQ settings\nother", 1},
      {"trq SETTINGS v1\n", 1},
      {"first line\nTRQ settings\n", 0},
      {"", 0},
      {"   \n\t\n", 0},
  };
  for (const Case &c : cases) {
    const std::string p = work.write("s.txt", c.content);
    EXPECT_EQ(test_if_valid_qv_settings_file(p.c_str(), "TRQ Settings"), c.result) << c.content;
  }
  EXPECT_EQ(test_if_valid_qv_settings_file(work.file("missing.txt").c_str(), "TRQ"), 0);
  EXPECT_LT(test_if_valid_qv_settings_file(work.write("long.txt", std::string(400, 'x')).c_str(), "TRQ"), 0);
}

TEST_F(RecentFiles, FilteredListsDropFilesThatFailTheMarker) {
  const std::string good1 = work.write("g1.txt", "TRQ settings\n");
  const std::string good2 = work.write("g2.txt", "TRQ settings\n");
  const std::string bad = work.write("b.txt", "something else\n");
  EXPECT_EQ(update_filehistlist_filtered(QV_APP_TRQ, panel, list, "*.txt", bad.c_str(), 0, "TRQ"), 0);
  uint32_t n = 0;
  EXPECT_EQ(RegReadULong(HKEY_CURRENT_USER, kOpenedKey, "NoOfTXTEntries", &n), REG_ERR_NO_KEY)
      << "a failing new file changes nothing";
  set_user(kOpenedKey, "TXTFilePath1", bad);
  RegWriteULong(HKEY_CURRENT_USER, kOpenedKey, "NoOfTXTEntries", 2);
  set_user(kOpenedKey, "TXTFilePath2", good1);
  create_filehistlist(QV_APP_TRQ, panel, list, "*.txt");
  EXPECT_EQ(update_filehistlist_filtered(QV_APP_TRQ, panel, list, "*.txt", good2.c_str(), 0, "TRQ"), 1);
  EXPECT_EQ(items(false), (std::vector<std::string>{good2, good1}));
  EXPECT_EQ(user_string(kOpenedKey, "TXTFilePath2"), bad) << "the registry keeps it";
  EXPECT_EQ(selected(), 0);

  char name[260] = "*.txt";
  EXPECT_EQ(InitFilenameFromListFiltered(QV_APP_TRQ, panel, list, name, "*.txt", "TRQ"), 0);
  EXPECT_EQ(std::string(name), good2);
}

TEST_F(RecentFiles, InitialNamesFromTheListOrTheRegistry) {
  char name[260] = "*.set";
  EXPECT_EQ(InitFilenameFromList(QV_APP_TRQ, panel, list, name, "*.set"), -1);
  EXPECT_EQ(InitFilenameFromRegistry(QV_APP_TRQ, name, "*.set"), -1);
  EXPECT_STREQ(name, "*.set");
  store({"", "/d/second.set"});
  EXPECT_EQ(InitFilenameFromRegistry(QV_APP_TRQ, name, "*.set"), 0);
  EXPECT_STREQ(name, "/d/second.set");
  std::strcpy(name, "*.set");
  EXPECT_EQ(InitFilenameFromList(QV_APP_TRQ, panel, list, name, "*.set"), 0);
  EXPECT_STREQ(name, "/d/second.set");
  std::strcpy(name, "plain.set");
  EXPECT_EQ(InitFilenameFromRegistry(QV_APP_TRQ, name, "*.set"), 0);
  EXPECT_EQ(InitFilenameFromList(QV_APP_TRQ, panel, list, name, "*.set"), -1);
  EXPECT_STREQ(name, "plain.set");
}

// --- panels --------------------------------------------------------------------

TEST_F(StoreTest, PanelsLoadOnTheMonitorOfTheirReference) {
  const std::string uir = testsupport::source_path("tests/support/data/panels.uir");
  int left_alone = 0;
  const int plain = LoadPanel55(0, uir.c_str(), 2);
  ASSERT_GT(plain, 0) << platform::ui::last_error_detail();
  GetPanelAttribute(plain, ATTR_LEFT, &left_alone);
  EXPECT_EQ(LoadPanel55(0, "missing.uir", 2), UIE_FILE_NOT_FOUND);

  headless::set_monitors({{1, 0, 0, 1920, 1080}, {2, 0, 1920, 1280, 1024}});
  const int reference = NewPanel(0, "ref", 100, 2000, 200, 200);
  const int moved = LoadPanelOnSameMonitor(reference, 0, uir.c_str(), 2);
  int left = 0;
  GetPanelAttribute(moved, ATTR_LEFT, &left);
  EXPECT_EQ(left, left_alone + 1920);
  SetPanelAttribute(reference, ATTR_LEFT, 50);
  const int stays = LoadPanelOnSameMonitor(reference, 0, uir.c_str(), 2);
  GetPanelAttribute(stays, ATTR_LEFT, &left);
  EXPECT_EQ(left, left_alone);
  EXPECT_LT(LoadPanelOnSameMonitor(reference, 0, uir.c_str(), 999), 0);
}

}  // namespace
