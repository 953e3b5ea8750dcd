#include "tests/app/ui_app_fixture.h"

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
