// Panel geometry fitted to the screens, its 20-byte stored form, settings
// records, the desktop, and shifting and centring controls.
#include <array>
#include <cstddef>
#include <cstring>

#include "tests/support/store_fixture.h"

namespace {

using namespace storetest;
namespace headless = platform::ui::headless;
using platform::ui::model::Monitor;

constexpr const char *kPanelKey = "Software\\QV\\TRQ\\PanelAttr";
constexpr int kMainTop = 80, kMainLeft = 40, kMainHeight = 600, kMainWidth = 800;

class Geometry : public StoreTest {
 protected:
  std::string uir() const { return testsupport::source_path("tests/support/data/panels.uir"); }
  void store(const char *name, std::vector<int32_t> fields, const char *key = kPanelKey) {
    std::vector<unsigned char> bytes;
    for (const int32_t f : fields)
      for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<unsigned char>(static_cast<uint32_t>(f) >> (8 * b)));
    ASSERT_EQ(RegWriteBinary(HKEY_CURRENT_USER, key, name, bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  }
  PanelAttrEntry entry(const char *name = "Main") {
    PanelAttrEntry e;
    const char *names[] = {name};
    init_panel_structures(&e, 1, names);
    return e;
  }
  std::vector<int32_t> fields(const PanelAttrEntry &e) const {
    return {e.value.top, e.value.left, e.value.height, e.value.width, e.value.flags};
  }
};

TEST(GeometryLayout, RecordsHaveTheirStoredSizes) {
  static_assert(sizeof(PanelAttrValue) == 20);
  static_assert(offsetof(PanelAttrValue, top) == 0 && offsetof(PanelAttrValue, left) == 4 &&
                offsetof(PanelAttrValue, height) == 8 && offsetof(PanelAttrValue, width) == 12 &&
                offsetof(PanelAttrValue, flags) == 16);
  static_assert(sizeof(PanelAttrEntry) == 44);
}

TEST_F(Geometry, SavedGeometryIsTwentyLittleEndianBytes) {
  PanelAttrEntry table[2];
  const char *names[] = {"Main", "Adjust"};
  init_panel_structures(table, 2, names);
  table[0].state = PANEL_STATE_TAKEN;
  table[0].value = {35, -600, 0x01020304, 800, PANEL_FLAG_VISIBLE | PANEL_FLAG_SCALE_CONTENTS};
  ASSERT_EQ(SavePanelSettings(QV_APP_TRQ, 2, table), 0);
  std::array<unsigned char, 20> bytes{};
  uint32_t size = 0;
  ASSERT_EQ(RegReadBinary(HKEY_CURRENT_USER, kPanelKey, "Main", bytes.data(), 20, &size), 0);
  EXPECT_EQ(size, 20u);
  const std::array<unsigned char, 20> expected = {0x23, 0,    0,    0,    0xa8, 0xfd, 0xff, 0xff, 4, 3,
                                                  2,    1,    0x20, 0x03, 0,    0,    0x01, 0x01, 0, 0};
  EXPECT_EQ(bytes, expected);
  EXPECT_NE(testsupport::read_file(reg.file("user.reg"))
                .find("\"Main\"=hex:23,00,00,00,a8,fd,ff,ff,04,03,02,01,20,03,00,00,01,01,00,00\n"),
            std::string::npos);
  EXPECT_EQ(RegQueryInfoOnValue(HKEY_CURRENT_USER, kPanelKey, "Adjust", nullptr, &size), REG_ERR_NO_VALUE)
      << "rows in state 0 are not saved";
}

TEST_F(Geometry, InitCopiesNamesAndClearsRows) {
  PanelAttrEntry e;
  std::memset(&e, 0x5a, sizeof e);
  const char *names[] = {"AVeryLongPanelNameOfThirtyChars"};
  init_panel_structures(&e, 1, names);
  EXPECT_EQ(e.state, 0);
  EXPECT_STREQ(e.name, "AVeryLongPanelNameO");
  EXPECT_EQ(fields(e), (std::vector<int32_t>{0, 0, 0, 0, 0}));
}

// One 1920 x 1080 monitor at 0,0; the main panel's resource geometry is 80,
// 40, 600 x 800.
TEST_F(Geometry, StoredGeometryIsFittedToOneMonitor) {
  struct Case {
    const char *what;
    std::vector<int32_t> stored, fitted;
  };
  const Case cases[] = {
      {"fits as stored", {100, 200, 500, 700, 1}, {100, 200, 500, 700, 1}},
      {"top below the screen", {1040, 200, 500, 700, 1}, {kMainTop, 200, 500, 700, 1}},
      {"top just inside", {1030, 200, 500, 700, 0}, {1030, 200, 500, 700, 0}},
      {"top under the title bar", {10, 200, 500, 700, 0}, {35, 200, 500, 700, 0}},
      {"width beyond the screen", {100, 200, 500, 2500, 0}, {100, 200, 500, kMainWidth, 0}},
      {"height beyond the screen", {100, 200, 1081, 700, 0}, {100, 200, kMainHeight, 700, 0}},
      {"left right of the screen", {100, 1900, 500, 700, 0}, {100, kMainLeft, 500, 700, 0}},
      {"left off to the left, still reachable", {100, -600, 500, 800, 0}, {100, -600, 500, 800, 0}},
      {"left off to the left, lost", {100, -600, 500, 700, 0}, {100, 0, 500, 700, 0}},
      {"extreme values", {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, 0}, {kMainTop, 0, kMainHeight, INT32_MIN, 0}},
  };
  for (const Case &c : cases) {
    store("Main", c.stored);
    PanelAttrEntry e = entry();
    const int p = LoadPanelAndSettings(0, uir().c_str(), 1, 1, QV_APP_TRQ, &e);
    ASSERT_GT(p, 0);
    EXPECT_EQ(e.state, PANEL_STATE_RESTORED) << c.what;
    EXPECT_EQ(fields(e), c.fitted) << c.what;
    DiscardPanel(p);
  }
}

TEST_F(Geometry, ChildPanelsAndTheDesktopsOrigin) {
  // Two monitors side by side, the first one 30 pixels down.
  headless::set_monitors({Monitor{1, 30, 0, 1920, 1080}, Monitor{2, 0, 1920, 1280, 1024}});
  int H = 0, W = 0, T = 0, L = 0;
  GetDesktopSizeAndPosition(&H, &W, &T, &L);
  EXPECT_EQ(W, 3200);
  EXPECT_EQ(H, 1080);
  EXPECT_EQ(T, 30);
  EXPECT_EQ(L, 0);
  store("Main", {40, 2500, 500, 600, 0});
  PanelAttrEntry e = entry();
  const int main = LoadPanelAndSettings(0, uir().c_str(), 1, 0, QV_APP_TRQ, &e);
  EXPECT_EQ(fields(e), (std::vector<int32_t>{65, 2500, 500, 600, 0})) << "left stays on the second monitor";
  store("Child", {20, 5, 100, 100, 0});
  PanelAttrEntry c = entry("Child");
  LoadPanelAndSettings(main, uir().c_str(), 2, 0, QV_APP_TRQ, &c);
  EXPECT_EQ(fields(c), (std::vector<int32_t>{35, 0, 100, 100, 0})) << "a child's smallest top is 35, left 0";
}

TEST_F(Geometry, DesktopOfStackedAndFarMonitors) {
  struct Case {
    std::vector<Monitor> monitors;
    int H, W, T, L;
  };
  const Case cases[] = {
      {{{1, 0, 0, 1920, 1080}}, 1080, 1920, 0, 0},
      {{{1, 0, 0, 1920, 1080}, {2, 1080, 0, 1920, 1200}}, 2280, 1920, 0, 0},
      {{{1, 0, 100, 1920, 1080}, {2, 0, 2020, 1280, 1024}}, 1080, 3200, 0, 100},
      {{{1, 0, 0, 800, 600}, {2, 500, 900, 800, 600}}, 600, 800, 0, 0},
      {{}, 1080, 1920, 0, 0},  // no list: the default screen
  };
  for (const Case &c : cases) {
    headless::set_monitors(c.monitors);
    int H = -1, W = -1, T = -1, L = -1;
    EXPECT_EQ(GetDesktopSizeAndPosition(&H, &W, &T, &L), 0);
    EXPECT_EQ(std::vector<int>({H, W, T, L}), std::vector<int>({c.H, c.W, c.T, c.L}));
  }
  headless::set_monitors({{1, 0, 0, 1920, 1080}, {2, 0, 1920, 1280, 1024}}, 2);
  int h = 0, w = 0;
  EXPECT_EQ(GetFullScreenSize(&h, &w), 0);
  EXPECT_EQ(std::vector<int>({h, w}), std::vector<int>({1024, 1280})) << "the primary screen";
  EXPECT_EQ(GetDesktopSize(&h, &w), 0);
  EXPECT_EQ(std::vector<int>({h, w}), std::vector<int>({1080, 3200}));
}

TEST_F(Geometry, StoredValuesOfOtherSizesAndStates) {
  PanelAttrEntry e = entry();
  e.value = {1, 2, 3, 4, 5};
  // 16 bytes: the flags stay as they were.
  store("Main", {100, 200, 500, 700});
  LoadPanelAndSettings(0, uir().c_str(), 1, 1, QV_APP_TRQ, &e);
  EXPECT_EQ(e.state, PANEL_STATE_RESTORED);
  EXPECT_EQ(fields(e), (std::vector<int32_t>{100, 200, 500, 700, 5}));
  // 24 bytes, none, or empty: state -1, the value untouched.
  for (const auto &stored : {std::vector<int32_t>{1, 2, 3, 4, 5, 6}, std::vector<int32_t>{}}) {
    store("Main", stored);
    e.value = {1, 2, 3, 4, 5};
    LoadPanelAndSettings(0, uir().c_str(), 1, 1, QV_APP_TRQ, &e);
    EXPECT_EQ(e.state, PANEL_STATE_NONE);
    EXPECT_EQ(fields(e), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  }
  PanelAttrEntry other = entry("Other");
  EXPECT_GT(LoadPanelAndSettings(0, uir().c_str(), 1, 1, QV_APP_TRQ, &other), 0);
  EXPECT_EQ(other.state, PANEL_STATE_NONE);
  // A value that is not binary cannot be read: the entry stays as it is.
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kPanelKey, "Main", "text"), 0);
  e.state = 0;
  LoadPanelAndSettings(0, uir().c_str(), 1, 1, QV_APP_TRQ, &e);
  EXPECT_EQ(e.state, 0);

  // State 4 restores as stored; state 3 fits the entry's own value unread.
  store("Main", {10, 5000, 5000, 5000, 1});
  e.state = PANEL_STATE_NO_FIT;
  LoadPanelAndSettings(0, uir().c_str(), 1, 1, QV_APP_TRQ, &e);
  EXPECT_EQ(fields(e), (std::vector<int32_t>{10, 5000, 5000, 5000, 1}));
  EXPECT_EQ(e.state, PANEL_STATE_RESTORED);
  e.state = PANEL_STATE_FIT_ONLY;
  e.value = {10, 20, 300, 400, 0};
  LoadPanelAndSettings(0, uir().c_str(), 1, 1, QV_APP_TRQ, &e);
  EXPECT_EQ(fields(e), (std::vector<int32_t>{35, 20, 300, 400, 0}));
  // No file: no panel and nothing fitted; a failed load is returned.
  e.state = 0;
  EXPECT_EQ(LoadPanelAndSettings(0, nullptr, 1, 1, QV_APP_TRQ, &e), -1);
  EXPECT_EQ(fields(e), (std::vector<int32_t>{10, 5000, 5000, 5000, 1}));
  EXPECT_EQ(LoadPanelAndSettings(0, uir().c_str(), 77, 1, QV_APP_TRQ, &e), UIE_PANEL_NOT_FOUND);
  EXPECT_GT(LoadPanelAndSettings(0, uir().c_str(), 1, 1, QV_APP_TRQ, nullptr), 0);
}

TEST_F(Geometry, TheExtendedFormUsesItsSuffixAndFitsHarder) {
  const std::string key = std::string(kPanelKey) + "Lab";
  struct Case {
    std::vector<int32_t> stored, fitted;
    int parent_resource;  // 0: top-level
  };
  const Case cases[] = {
      {{100, 200, 500, 2500, 0}, {100, 200, kMainHeight, kMainWidth, 0}, 0},
      {{100, 200, 0, 700, 0}, {100, 200, kMainHeight, 700, 0}, 0},
      {{100, 200, 500, 0, 0}, {100, 200, 500, kMainWidth, 0}, 0},
  };
  for (const Case &c : cases) {
    store("Main", c.stored, key.c_str());
    PanelAttrEntry e = entry();
    const int p = LoadPanelAndSettingsExt(0, uir().c_str(), 1, 1, "Lab", QV_APP_TRQ, &e);
    EXPECT_EQ(fields(e), c.fitted);
    DiscardPanel(p);
  }
  // A lost child goes to the desktop's left.
  headless::set_monitors({Monitor{1, 0, 120, 1920, 1080}});
  const int main = LoadPanel(0, uir().c_str(), 1);
  store("Child", {50, -200, 100, 300, 0}, key.c_str());
  PanelAttrEntry child = entry("Child");
  LoadPanelAndSettingsExt(main, uir().c_str(), 2, 0, "Lab", QV_APP_TRQ, &child);
  EXPECT_EQ(child.value.left, 120);
  store("Child", {50, -200, 100, 300, 0});
  child = entry("Child");
  LoadPanelAndSettings(main, uir().c_str(), 2, 0, QV_APP_TRQ, &child);
  EXPECT_EQ(child.value.left, 0) << "the plain form puts a child at 0";
  child.state = PANEL_STATE_TAKEN;
  child.value = {1, 2, 3, 4, 0};
  ASSERT_EQ(SavePanelSettingsExt(QV_APP_TRQ, 1, "Lab", &child), 0);
  uint32_t size = 0;
  EXPECT_EQ(RegReadBinary(HKEY_CURRENT_USER, key.c_str(), "Child", nullptr, 0, &size), 0);
  EXPECT_EQ(size, 20u);
}

TEST_F(Geometry, TakenFromThePanelAndSavedUntilTheFirstFailure) {
  const int p = LoadPanel(0, uir().c_str(), 1);
  SetPanelAttribute(p, ATTR_TOP, 120);
  SetPanelAttribute(p, ATTR_LEFT, 60);
  SetPanelAttribute(p, ATTR_HEIGHT, 500);
  SetPanelAttribute(p, ATTR_WIDTH, 700);
  SetPanelAttribute(p, ATTR_SCALE_CONTENTS_ON_RESIZE, 1);
  PanelAttrEntry e = entry();
  e.value.flags = 0x10000 | PANEL_FLAG_VISIBLE;
  get_panel_attr(&e, p);
  EXPECT_EQ(e.state, PANEL_STATE_TAKEN);
  EXPECT_EQ(fields(e), (std::vector<int32_t>{120, 60, 500, 700, 0x10000 | PANEL_FLAG_SCALE_CONTENTS}));
  DisplayPanel(p);
  get_panel_attr(&e, p);
  EXPECT_EQ(e.value.flags, 0x10000 | PANEL_FLAG_SCALE_CONTENTS | PANEL_FLAG_VISIBLE);

  PanelAttrEntry back = entry();
  EXPECT_EQ(get_panel_attr_from_registry(QV_APP_TRQ, &back), -1);
  EXPECT_EQ(back.state, PANEL_STATE_NONE);
  ASSERT_EQ(SavePanelSettings(QV_APP_TRQ, 1, &e), 0);
  back = entry();
  EXPECT_EQ(get_panel_attr_from_registry(QV_APP_TRQ, &back), 0);
  EXPECT_EQ(fields(back), fields(e));

  platform::registry::set_read_only(HKEY_CURRENT_USER, true);
  EXPECT_EQ(SavePanelSettings(QV_APP_TRQ, 1, &e), REG_ERR_CANT_OPEN_KEY);
}

TEST_F(Geometry, SettingsRecordsByTheirStoredSize) {
  std::vector<unsigned char> record(992);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<unsigned char>(i * 7);
  std::vector<unsigned char> buffer(992, 0);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "Current", buffer.data()), -1) << "nothing stored";
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "Current", nullptr), -1);
  ASSERT_EQ(SaveAppSettings(QV_APP_TRQ, 992, "Current", record.data()), 0);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "Current", nullptr), 992);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "current", buffer.data()), 0);
  EXPECT_EQ(buffer, record);

  // The record's bytes as stored.
  std::vector<unsigned char> raw(992);
  uint32_t size = 0;
  ASSERT_EQ(RegReadBinary(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\AppSettings", "Current", raw.data(), 992, &size), 0);
  EXPECT_EQ(raw, record);

  std::vector<unsigned char> bigger(1000, 1);
  ASSERT_EQ(SaveAppSettings(QV_APP_TRQ, 1000, "Current", bigger.data()), 0);
  std::fill(buffer.begin(), buffer.end(), 9);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "Current", buffer.data()), -1);
  EXPECT_EQ(buffer[0], 9) << "nothing read";
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 0, "Current", bigger.data()), 0) << "size 0 reads the stored size";

  // A shorter record fills its bytes and leaves the rest.
  ASSERT_EQ(SaveAppSettings(QV_APP_TRQ, 16, "Current", record.data()), 0);
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "Current", buffer.data()), 0);
  EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 16),
            std::vector<unsigned char>(record.begin(), record.begin() + 16));
  EXPECT_EQ(buffer[16], 0xEE);
  EXPECT_EQ(SaveAppSettings(QV_APP_TRQ, 0, "Empty", nullptr), 0);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 0, "Empty", nullptr), -1) << "an empty record counts as missing";
  EXPECT_EQ(SaveAppSettings(QV_APP_TRQ, 4, "X", nullptr), REG_ERR_NULL_ARGUMENT);
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\AppSettings", "Text", "abc"), 0);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "Text", buffer.data()), REG_ERR_WRONG_TYPE);
}

TEST_F(Geometry, ShiftingIncrementingAndCentringControls) {
  const int p = LoadPanel(0, uir().c_str(), 1);
  EXPECT_EQ(ShiftCtrls(p, 0, -40, 1, 3), 0);
  int v = 0;
  GetCtrlAttribute(p, 3, ATTR_LEFT, &v);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(ShiftCtrls(p, 1, 10, 2, 2, 3), 0);
  GetCtrlAttribute(p, 2, ATTR_TOP, &v);
  EXPECT_EQ(v, 30);
  GetCtrlAttribute(p, 3, ATTR_TOP, &v);
  EXPECT_EQ(v, 110);
  EXPECT_EQ(ShiftCtrls(p, 1, 5, 3, 2, 99, 3), UIE_CTRL_INVALID);
  GetCtrlAttribute(p, 3, ATTR_TOP, &v);
  EXPECT_EQ(v, 110) << "stops at the first failure";
  EXPECT_EQ(ShiftCtrls(p, 1, 5, 3, 2), UIE_BAD_ARGUMENT) << "fewer ids than counted";
  const int ids[] = {2, 3};
  EXPECT_EQ(IncrCtrlsAttrForList(p, ids, ATTR_WIDTH, 5), 0);
  GetCtrlAttribute(p, 3, ATTR_WIDTH, &v);
  EXPECT_EQ(v, 65);
  EXPECT_EQ(IncrCtrlsAttribute(p, ATTR_HEIGHT, -4, 1, 2), 0);
  GetCtrlAttribute(p, 2, ATTR_HEIGHT, &v);
  EXPECT_EQ(v, 20);

  // Centring moves the control with its label into the middle of the area.
  int rt, rl, rh, rw;
  GetCtrlBoundingRect(p, 3, &rt, &rl, &rh, &rw);
  ASSERT_EQ(MyCenterCtrl(p, 3, 100, 100, 201, 301), 0);
  int nt, nl, nh, nw;
  GetCtrlBoundingRect(p, 3, &nt, &nl, &nh, &nw);
  EXPECT_EQ(nt, 100 + (201 - rh) / 2);
  EXPECT_EQ(nl, 100 + (301 - rw) / 2);
  ASSERT_EQ(MyCenterCtrl(p, 3, 0, 0, 0, 20), 0);
  GetCtrlBoundingRect(p, 3, &rt, &rl, &rh, &rw);
  EXPECT_EQ(rt, nt) << "an area height of 0 leaves the top";
  EXPECT_EQ(rl, (20 - rw) / 2) << "truncated toward zero";
  EXPECT_EQ(MyCenterCtrl(p, 99, 0, 0, 10, 10), UIE_CTRL_INVALID);

  int top = 0, left = 0, h = 0, w = 0;
  EXPECT_EQ(GetPanelPos(p, &top, &left), 0);
  EXPECT_EQ(GetPanelSize(p, &h, &w), 0);
  EXPECT_EQ(std::vector<int>({top, left, h, w}), std::vector<int>({kMainTop, kMainLeft, kMainHeight, kMainWidth}));
  EXPECT_EQ(GetPanelPos(p, nullptr, &left), 0);
  EXPECT_EQ(GetPanelPos(12345, &top, &left), UIE_PANEL_INVALID);
}

TEST_F(Geometry, VisiblePanelsInOrder) {
  const int a = NewPanel(0, "a", 0, 0, 10, 10), b = NewPanel(0, "b", 0, 0, 10, 10);
  const int c = NewPanel(0, "c", 0, 0, 10, 10), d = NewPanel(0, "d", 0, 0, 10, 10);
  NewPanel(a, "child", 0, 0, 5, 5);
  for (int p : {a, b, c, d}) DisplayPanel(p);
  HidePanel(c);
  int list[8] = {};
  EXPECT_EQ(CreateVisiblePanelsList(b, 0, list, 8), 2);
  EXPECT_EQ(std::vector<int>(list, list + 2), std::vector<int>({a, d}));
  EXPECT_EQ(CreateVisiblePanelsList(0, 0, nullptr, 8), 3);
  EXPECT_EQ(CreateVisiblePanelsList(0, 0, list, 1), 1);
}

}  // namespace
