#include "tests/app/app_fixture.h"

#include <algorithm>

#include "app/kmv_syst_settings.h"
#include "support/Qv_err.h"

namespace apptest {

void reset_app_state() {
  for (int i = 0; i < KMV_SLOTS; ++i) {
    act_mod[i] = out_enabled[i] = cooling_on[i] = connection_lost[i] = ovld_alarm[i] = cool_alarm[i] = 0;
    usbmod_info[i] = KMVUSBModuleInfo{};
  }
  no_of_active_kmv = total_no_of_kmv = st_trq = nd_trq = mod_no = kmv_error = 0;
  sim_switch = 0;
  sim_mod_no = -1;
  first_mod_no = 0;
  hardware = 0;
  AppAttr = AppAttrRecord{};
  trq_panel = trq_ctrl_panel = trq_opt_panel = trq_adjust_panel = trq_info_panel = trq_info_list_panel = 0;
}

void AppFixture::SetUp() {
  simtest::SimFixture::SetUp();
  reset_app_state();
  delete_module_parameter_sets();
  ASSERT_EQ(create_module_parameter_sets(), 0);
  errors_.point_to(testsupport::source_path("resources/kmv_err.dat"), dir_.file("trq_err.out"));
  errmsg_to_screen = 0;
  errmsg_to_file = 1;
}

void AppFixture::TearDown() {
  delete_module_parameter_sets();
  reset_app_state();
  simtest::SimFixture::TearDown();
}

int AppFixture::start_emulation(int count, int first) {
  sim_switch = 200;
  sim_mod_no = count;
  first_mod_no = first;
  std::string ini = "[KMVUSB_BASE]\nSIMULATION_USB = 1\n";
  for (int m = first; m < first + count; ++m) ini += "[KMVUSB_MODULE" + std::to_string(m) + "]\nKMVUSB_ACTIVE = 1\n";
  const int r = init_usbsystem(dir_.write("kmvusb.ini", ini).c_str());
  hardware = KMVUSB_get_mode() == 0;
  return r;
}

int AppFixture::start_emulation_slots(std::initializer_list<int> slots) {
  sim_switch = 200;
  std::string ini = "[KMVUSB_BASE]\nSIMULATION_USB = 1\n";
  for (int m : slots) ini += "[KMVUSB_MODULE" + std::to_string(m + 1) + "]\nKMVUSB_ACTIVE = 1\n";
  const int r = init_usbsystem(dir_.write("kmvusb.ini", ini).c_str());
  hardware = KMVUSB_get_mode() == 0;
  return r;
}

int AppFixture::start_hardware() {
  add_module("FTA", 1, "KMV-USB-1", "KM0010", {80, 100, 100, 100});
  add_module("FTB", 2, "KMV-USB-2", "KM0020");
  const int r = init_usbsystem(dir_
                                   .write("kmvusb.ini",
                                          "[KMVUSB_BASE]\nSIMULATION_USB = 0\n"
                                          "[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 1\n"
                                          "[KMVUSB_MODULE2]\nKMVUSB_ACTIVE = 1\n")
                                   .c_str());
  hardware = KMVUSB_get_mode() == 0;
  return r;
}

std::string AppFixture::error_log() { return testsupport::read_file(dir_.file("trq_err.out")); }

}  // namespace apptest
