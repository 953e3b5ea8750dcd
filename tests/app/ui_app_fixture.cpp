#include "tests/app/ui_app_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/kmv_meas.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"

namespace apptest {

namespace {

int stub_ctrl(int, int, int, void *, int, int) { return 0; }
int stub_panel(int, int, void *, int, int) { return 0; }
int stub_menu(int, int, void *, int) { return 0; }

// Callbacks that other parts of the program bind; here they do nothing.
const platform::ui::CallbackBinding kStubs[] = {
    {"TrqCtrlCallback", stub_ctrl},     {"PanelCallback", stub_panel},      {"TrqConf_Callback", stub_panel},
    {"LoadTrqCallback", stub_ctrl},     {"SaveTrqCallback", stub_ctrl},     {"ExitCallbackUsb", stub_ctrl},
    {"OptCtrlCallback", stub_ctrl},     {"Trqopt_Callback", stub_panel},    {"ScaleCallback", stub_menu},
    {"EnOutCallback", stub_menu},       {"FloatCallback", stub_menu},       {"TRQ_AdjustCallback", stub_ctrl},
    {"Trqeep_Callback", stub_panel},    {"InitAparCallback", stub_menu},    {"Apar_Callback", stub_panel},
    {"AdjustCallback", stub_ctrl},
};

int page(const std::string &file, int id, int index) {
  const int loaded = LoadPanel(trq_panel, file.c_str(), id);
  EXPECT_GT(loaded, 0) << platform::ui::last_error_detail();
  InsertPanelAsTabPage(trq_panel, MAIN_TAB, index, loaded);
  int handle = 0;
  int count = 0;
  GetNumTabPages(trq_panel, MAIN_TAB, &count);
  GetPanelHandleFromTabPage(trq_panel, MAIN_TAB, index < 0 ? count - 1 : index, &handle);
  DiscardPanel(loaded);
  return handle;
}

}  // namespace

void UiAppFixture::SetUp() {
  AppFixture::SetUp();
  platform::ui::headless::reset();
  platform::ui::register_callbacks(kStubs);
  platform::ui::register_callbacks(kmv_syst_callbacks());
}

void UiAppFixture::TearDown() {
  platform::ui::headless::reset();
  digout_menubar = label_menubar = 0;
  AppFixture::TearDown();
}

void UiAppFixture::open_window() {
  const std::string file = testsupport::source_path("resources/kmv_meas.uir");
  set_appattr_defaults();
  trq_panel = LoadPanel(0, file.c_str(), PANEL_MAIN_USB);
  ASSERT_GT(trq_panel, 0) << platform::ui::last_error_detail();
  trq_ctrl_panel = page(file, PANEL_CONF, 0);
  GetCtrlAttribute(trq_ctrl_panel, CONF_MOMENTARY_SAMPLE, ATTR_ON_COLOR, &momentary_colour);
  GetCtrlAttribute(trq_ctrl_panel, CONF_TOGGLE_SAMPLE, ATTR_ON_COLOR, &toggle_colour);
  SetCtrlAttribute(trq_ctrl_panel, CONF_MOMENTARY_SAMPLE, ATTR_ON_COLOR, toggle_colour);
  trq_opt_panel = page(file, PANEL_TRQOPT, -1);
  trq_adjust_panel = page(file, PANEL_TRQEEP, -1);
  initialize_ctrl_panel(1);
  GetCtrlAttribute(trq_panel, MAIN_WARN_A1, ATTR_FILL_COLOR, &warn_color);
  act_warn_color = warn_color;
  digout_menubar = LoadMenuBar(0, file.c_str(), MENUBAR_DIGOUT);
  label_menubar = LoadMenuBar(0, file.c_str(), MENUBAR_LABEL);
  for (short i = 0; i < KMV_SLOTS; ++i)
    if (act_mod[i]) KMVUSB_enable_outputs(i, -1, 0);
  for (short i = 0; i < KMV_SLOTS; ++i)
    if (act_mod[i]) read_overload_state(i);
  SetCtrlAttribute(trq_panel, MAIN_TIMER, ATTR_ENABLED, 1);
  DisplayPanel(trq_panel);
}

int UiAppFixture::tick() { return platform::ui::headless::tick(trq_panel, MAIN_TIMER); }

int UiAppFixture::attr(int panel, int control, int attribute) {
  int v = -12345;
  GetCtrlAttribute(panel, control, attribute, &v);
  return v;
}

int UiAppFixture::ival(int panel, int control) {
  int v = -12345;
  GetCtrlVal(panel, control, &v);
  return v;
}

float UiAppFixture::fval(int panel, int control) {
  float v = -12345;
  GetCtrlVal(panel, control, &v);
  return v;
}

}  // namespace apptest

namespace apptest {

namespace {

uint16_t code(double scaled) {
  const float f = std::min(std::max(static_cast<float>(scaled), 0.0f), 4095.0f);
  return static_cast<uint16_t>(std::lround(f));
}

}  // namespace

std::string module_mismatch(sim::Bus &bus, const std::string &serial, short m) {
  char why[160];
  const auto enabled = [&](int k) { return ((out_enabled[m] >> k) & 1) != 0; };
  const uint16_t reg0 = bus.register_latch(serial, 0), reg2 = bus.register_latch(serial, 2);
  for (int c = 0; c < 4; ++c) {
    const int base = 7 * c;
    const struct {
      int bit, id;
    } supplies[] = {{c, base + 3}, {4 + c, base + 1}, {8 + c, base + 2}};
    for (const auto &s : supplies) {
      const bool on = enabled(c) && read_int_parameter(m, s.id) != 0;
      if (((reg0 >> s.bit) & 1) != (on ? 0 : 1)) {
        std::snprintf(why, sizeof why, "register 0 bit %d is %d (parameter %d)", s.bit, (reg0 >> s.bit) & 1, s.id);
        return why;
      }
    }
    if (((reg2 >> c) & 1) != (read_int_parameter(m, base + 5) != 0 ? 1 : 0)) {
      std::snprintf(why, sizeof why, "cooler bit %d of register 2 is %d", c, (reg2 >> c) & 1);
      return why;
    }
    const struct {
      int channel;
      uint16_t want;
    } dacs[] = {
        {4 + c, enabled(c) ? code(read_float_parameter(m, base + 4) * 4095.1 / 100.0) : uint16_t{0}},
        {c, code((5.0 - read_float_parameter(m, base + 6)) * 4095.1 / 5.0)},
        {8 + c, code(std::max(static_cast<double>(read_float_parameter(m, base + 7)), 0.005) * 4095.1 / 2.0)},
    };
    for (const auto &d : dacs) {
      if (bus.dac_output(serial, d.channel) != d.want) {
        std::snprintf(why, sizeof why, "DAC %d is %u, not %u", d.channel, bus.dac_output(serial, d.channel), d.want);
        return why;
      }
    }
  }
  const int digout = enabled(4) ? read_int_parameter(m, KMV_PAR_DIGOUT) : 0;
  if ((reg2 >> 8) != digout) {
    std::snprintf(why, sizeof why, "digital byte is 0x%02X, not 0x%02X", reg2 >> 8, digout);
    return why;
  }
  return "";
}

}  // namespace apptest
