// The PCI variant's application code: the card module system, its setup
// files and the adjust panel, over two simulated KMV-100 cards.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "app/kmv_io_adjust.h"
#include "app/kmv_io_body.h"
#include "app/kmv_io_dialogs.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_io_files.h"
#include "app/kmv_meas.h"
#include "app/kmv_syst_pci.h"
#include "modules/kmv_hard.h"
#include "pci/plx_32w123c15.h"
#include "pci/p9050_qv.h"
#include "platform/driver/sim_backend.h"
#include "platform/ui/headless.h"
#include "platform/ui/popups.h"
#include "platform/win/progdir.h"
#include "sim/kmv100_card.h"
#include "tests/app/ui_app_fixture.h"

namespace {

namespace ui = platform::ui;

class PciApp : public apptest::UiAppFixture {
 protected:
  void SetUp() override {
    UiAppFixture::SetUp();
    platform::set_program_dir(testsupport::source_path("resources"));
    reset_cards();
    scope_ = std::make_unique<platform::driver::SimPciScope>();
    a = sim::add_kmv100(scope_->bus(), {0, 3, 0}, {"81000000005", "01.02.2020", 100, 100});
    b = sim::add_kmv100(scope_->bus(), {0, 4, 0}, {"81000000003", "03.04.2021", 80, 90});
    ASSERT_EQ(create_pci_parameter_sets(), 0);
    ui::register_callbacks(kmv_adjust_callbacks());
  }
  void TearDown() override {
    if (adjust_panel > 0) DiscardPanel(adjust_panel);
    adjust_panel = apar_visible = adj_mod_no = 0;
    delete_pci_parameter_sets();
    reset_cards();
    scope_.reset();
    UiAppFixture::TearDown();
  }
  static void reset_cards() {
    KMV_close();
    kmv_initialised = 0;
    KMV_force_mode(-1, 0, 0);
    WDC_DriverClose();
    qv_hWD = -1;
    for (int m = 0; m < KMV_PCI_SLOTS; ++m)
      pci_act_mod[m] = pci_out_enabled[m] = pci_cooling_on[m] = pci_ovld_alarm[m] = pci_cool_alarm[m] = 0;
  }
  int start(bool emulated = false) {
    const int r = init_system(dir_.write("kmv.ini", std::string("; KMV100\n[KMV_BASE]\nSIMULATION = ") +
                                                       (emulated ? "100" : "0") +
                                                       "\n[KMV_MODULE1]\nKMV_ACTIVE = 1\nC1_GAIN_HV = 40\n"
                                                       "[KMV_MODULE2]\nKMV_ACTIVE = 1\nC3_COOLVOLT = 1.5\n")
                                  .c_str());
    hardware = KMV_get_mode() == 0;
    return r;
  }

  std::unique_ptr<platform::driver::SimPciScope> scope_;
  std::shared_ptr<sim::Kmv100Card> a, b;
};

TEST_F(PciApp, StartFillsTheCardSets) {
  ASSERT_EQ(start(), 0) << error_log();
  EXPECT_STREQ(module_type_text, "KMV-100");
  EXPECT_EQ(no_of_active_kmv, 2);
  EXPECT_EQ(total_no_of_kmv, 2);
  EXPECT_EQ(mod_no, 0);
  EXPECT_STREQ(read_parameter(mod[0], 0).data, "81000000003");
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(0, 4)), 40.0f);
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(1, 10)), 1.5f);
  EXPECT_EQ(pci_act_mod[1], 1);
  EXPECT_EQ(pci_act_mod[2], 0);
}

TEST_F(PciApp, ValuesReachACardOnlyWhileItsOutputsAreEnabled) {
  ASSERT_EQ(start(), 0);
  b->writes.clear();
  ASSERT_EQ(set_module_parameter(0, 4, float_value(60.0f)), 0);
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(0, 4)), 60.0f);
  EXPECT_TRUE(b->writes.empty()) << "stored only";
  ASSERT_EQ(set_module_parameter(0, 9, int_value(1)), 0);
  EXPECT_EQ(pci_cooling_on[0], 1);
  EXPECT_FALSE(b->outputs().c3_cooling) << "the cooler waits for the enable too";

  pci_out_enabled[0] = 1;
  ASSERT_EQ(set_module_parameter(0, 4, float_value(70.0f)), 0);
  EXPECT_EQ(b->outputs().c1_gain, 2867) << "round(70 * 4095.1 / 100)";
  ASSERT_EQ(set_module_parameter(0, 9, int_value(1)), 0);
  EXPECT_TRUE(b->outputs().c3_cooling);
  // Clamped by the card's limit of 80 and read back.
  ASSERT_EQ(set_module_parameter(0, 4, float_value(95.0f)), 0);
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(0, 4)), 80.0f);
  EXPECT_EQ(set_module_parameter(8, 4, float_value(1.0f)), KMV_MOD_NO);
}

TEST_F(PciApp, SetupFileWrittenAndReadBack) {
  ASSERT_EQ(start(), 0);
  set_module_parameter(0, 4, float_value(33.5f));
  set_module_parameter(1, 8, int_value(170));
  set_module_parameter(1, 12, float_value(55.25f));
  const std::string path = dir_.file("cards.set");
  ASSERT_EQ(save(path.c_str(), nullptr), 0) << error_log();

  char type_text[32] = "";
  set_module_parameter(0, 4, float_value(1.0f));
  set_module_parameter(1, 8, int_value(0));
  set_module_parameter(1, 12, float_value(2.0f));
  ASSERT_EQ(load(path.c_str(), 3, 1), 0) << error_log();
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(0, 4)), 33.5f);
  EXPECT_EQ(value_int(read_module_parameter(1, 8)), 170);
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(1, 12)), 55.25f);
  (void)type_text;

  // Not a USB setup file, and a USB one is not a PCI one.
  EXPECT_EQ(load_usb(path.c_str(), 3, 1), -1);
  EXPECT_NE(error_log().find("INV_SETUP"), std::string::npos);

  std::vector<char> body(store_setup(nullptr) + 1);
  store_setup(body.data());
  EXPECT_NE(std::string(body.data()).find("SYS_PARA_BEGIN:"), std::string::npos);
}

// An entry's number names its card directly, whatever number comes first:
// "#MP8" is card 7, and there is no "#MP9".
TEST_F(PciApp, SetupEntryNumberNamesTheCard) {
  std::string ini = "; KMV100\n[KMV_BASE]\nSIMULATION = 100\n";
  for (int m = 1; m <= KMV_PCI_SLOTS; ++m) ini += "[KMV_MODULE" + std::to_string(m) + "]\nKMV_ACTIVE = 1\n";
  ASSERT_EQ(init_system(dir_.write("kmv.ini", ini).c_str()), 0) << error_log();
  ASSERT_EQ(no_of_active_kmv, KMV_PCI_SLOTS);
  char text[] = "SYS_PARA_BEGIN:\0#MP8 [MP_C1U_GAIN_HV,F,12.5]\0#MP2 [MP_C1U_GAIN_HV,F,7]\0SYS_PARA_END:\0";
  load_setup(text, 2);
  EXPECT_EQ(error_log(), "");
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(7, 4)), 12.5f);
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(1, 4)), 7.0f);
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(0, 4)), 0.0f) << "the first entry's card is not card 0";

  char beyond[] = "SYS_PARA_BEGIN:\0#MP9 [MP_C1U_GAIN_HV,F,20]\0SYS_PARA_END:\0";
  load_setup(beyond, 2);
  EXPECT_NE(error_log().find("IO_ERR_USCMD"), std::string::npos);
  for (int m = 0; m < KMV_PCI_SLOTS; ++m) EXPECT_NE(value_float(read_module_parameter(m, 4)), 20.0f) << m;
}

// Card 3 (count index 1) is held by another program, so its serial number
// cannot be read during the count and it sorts first; the card that starts
// is the program's active card.
TEST_F(PciApp, ACardHeldElsewhereLeavesTheOtherOneActive) {
  scope_->bus().exclusive_registration = true;
  RegisterWinDriver();
  WDCDeviceHandle held = nullptr;
  ASSERT_EQ(P9050_Open(&held, 0x10B5, 0x9050, 1, 0), 1);
  EXPECT_EQ(start(), -1) << "not every card found runs";
  EXPECT_EQ(total_no_of_kmv, 2);
  EXPECT_EQ(no_of_active_kmv, 1);
  EXPECT_EQ(pci_act_mod[0], 0);
  EXPECT_EQ(pci_act_mod[1], 1);
  EXPECT_EQ(mod_no, 1);
  EXPECT_STREQ(mod_info[1].serial_no, "81000000005");
  PLX_DeviceClose(held);
}

TEST_F(PciApp, LoadDialogSwitchesEveryCardOffFirst) {
  setenv("QV_REGISTRY_DIR", dir_.path().c_str(), 1);
  ASSERT_EQ(start(), 0);
  set_module_parameter(1, 12, float_value(44.0f));
  std::snprintf(data_dir, sizeof data_dir, "%s/", dir_.path().c_str());
  std::snprintf(setup_file_name, sizeof setup_file_name, "%s", dir_.file("pci.set").c_str());
  ASSERT_EQ(save(setup_file_name, nullptr), 0);
  set_module_parameter(1, 12, float_value(1.0f));

  ASSERT_EQ(KMV_enable_outputs(-1, 1), 0);
  for (int m = 0; m < KMV_PCI_SLOTS; ++m) pci_ovld_alarm[m] = pci_cool_alarm[m] = pci_out_enabled[m] = 1;
  ASSERT_TRUE(a->outputs().c3_gain != 0 || a->outputs().c3_coolvolt != 0);
  cmd_load_file = 0;
  ui::headless::later([] { EXPECT_EQ(ui::headless::click(GetActivePanel(), LOAD_LOAD), 0); });
  EXPECT_EQ(manage_load_panel(0), 1) << error_log();
  for (int m = 0; m < KMV_PCI_SLOTS; ++m) {
    EXPECT_EQ(pci_ovld_alarm[m] | pci_cool_alarm[m] | pci_out_enabled[m], 0) << m;
  }
  EXPECT_EQ(a->outputs().c3_gain, 0) << "outputs off before the load";
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(1, 12)), 44.0f);
  unsetenv("QV_REGISTRY_DIR");
}

TEST_F(PciApp, AdjustPanelReadsAndWritesTheCardEeprom) {
  ASSERT_EQ(start(), 0);
  InitAparCallback(0, 0, nullptr, 0);
  ASSERT_GT(adjust_panel, 0);
  EXPECT_EQ(apar_visible, 1);
  int items = 0;
  GetNumListItems(adjust_panel, ADJUST_CARD, &items);
  EXPECT_EQ(items, 2);
  char label[32] = "";
  GetLabelFromIndex(adjust_panel, ADJUST_CARD, 1, label, sizeof label);
  EXPECT_STREQ(label, "Module 2");
  char text[64] = "";
  GetCtrlVal(adjust_panel, ADJUST_SERIAL, text);
  EXPECT_STREQ(text, "81000000003");
  EXPECT_EQ(attr(adjust_panel, ADJUST_CODE, ATTR_VISIBLE), 0);
  short limit = 0;
  GetCtrlVal(adjust_panel, ADJUST_LIMIT_C1, &limit);
  EXPECT_EQ(limit, 80);

  // A new date needs the access code.
  ui::headless::set_value(adjust_panel, ADJUST_DATE, std::string("07.08.2023 and more"));
  ui::headless::commit(adjust_panel, ADJUST_WRITE);
  EXPECT_EQ(attr(adjust_panel, ADJUST_CODE, ATTR_VISIBLE), 1);
  ui::headless::set_value(adjust_panel, ADJUST_CODE, 1111);
  ui::headless::commit(adjust_panel, ADJUST_CODE);
  ASSERT_FALSE(ui::headless::shown().empty());
  EXPECT_EQ(ui::headless::shown().back().message, "Invalid password - Access denied");
  EXPECT_TRUE(b->eeprom.stored.empty());
  ui::headless::commit(adjust_panel, ADJUST_WRITE);
  ui::headless::set_value(adjust_panel, ADJUST_CODE, 8365);
  ui::headless::commit(adjust_panel, ADJUST_CODE);
  KMVEepromData d{};
  ASSERT_EQ(KMV_get_eeprom_data(0, &d), 0);
  EXPECT_STREQ(d.date, "07.08.2023 ") << "cut to 11 characters";

  // A lower limit also lowers the card's gain in its set.
  set_module_parameter(0, 4, float_value(75.0f));
  ui::headless::set_value(adjust_panel, ADJUST_LIMIT_C1, short{50});
  ui::headless::commit(adjust_panel, ADJUST_LIMIT_C1);
  EXPECT_EQ(b->eeprom.byte(100), 50);
  EXPECT_EQ(gain_C1_limit[0], 50);
  EXPECT_FLOAT_EQ(value_float(read_module_parameter(0, 4)), 50.0f);

  // The other card.
  ui::headless::set_value(adjust_panel, ADJUST_CARD, 1);
  GetCtrlVal(adjust_panel, ADJUST_SERIAL, text);
  EXPECT_STREQ(text, "81000000005");
  ui::headless::commit(adjust_panel, ADJUST_CLOSE);
  EXPECT_EQ(apar_visible, 0);
}

TEST_F(PciApp, OneCardHidesTheSelector) {
  KMV_force_mode(KMV_MODE_EMULATION, 1, 1);
  ASSERT_EQ(init_system(dir_.write("kmv.ini", "; KMV100\n[KMV_BASE]\n[KMV_MODULE1]\nACTIVE = 1\n").c_str()), 0);
  InitAparCallback(0, 0, nullptr, 0);
  ASSERT_GT(adjust_panel, 0);
  EXPECT_EQ(attr(adjust_panel, ADJUST_CARD, ATTR_VISIBLE), 0);
  char text[64] = "";
  GetCtrlVal(adjust_panel, ADJUST_SERIAL, text);
  EXPECT_STREQ(text, "8100000001");
}

}  // namespace
