// Feeds arbitrary bytes as a setup file through the whole load on two
// emulated modules, the identification read and the type identification.
// Whatever a load applied must survive a save and a second load unchanged.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/kmv_io_files.h"
#include "app/kmv_syst.h"
#include "app/kmv_type.h"
#include "fuzz/scratch.h"
#include "platform/win/clock.h"
#include "support/Qv_err.h"

namespace {

bool start_modules() {
  platform::clock::use_virtual(true);
  static char dat[] = TRQ_SOURCE_DIR "/resources/kmv_err.dat";
  error_dat = dat;
  errmsg_to_screen = 0;
  errmsg_to_file = 0;
  if (create_module_parameter_sets() != 0) std::abort();
  std::atexit(delete_module_parameter_sets);
  const std::string ini = fuzzing::scratch_path() + ".ini";
  std::FILE *f = std::fopen(ini.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fputs("[KMVUSB_BASE]\nSIMULATION_USB = 1\n[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 1\n"
             "[KMVUSB_MODULE2]\nKMVUSB_ACTIVE = 1\n",
             f);
  std::fclose(f);
  sim_switch = 200;
  sim_mod_no = 2;
  first_mod_no = 1;
  if (init_usbsystem(ini.c_str()) < 0) std::abort();
  std::remove(ini.c_str());
  return true;
}

// Both modules' values, on the stack: a vector grown value by value took
// a tenth of each run.
using Snapshot = std::array<ParameterValue, 2 * KMV_PARAMETERS>;

Snapshot snapshot() {
  Snapshot v;
  for (short m = 0; m < 2; ++m)
    for (int j = 0; j < KMV_PARAMETERS; ++j) v[m * KMV_PARAMETERS + j] = read_parameter(modusb[m], j);
  return v;
}

bool same(const Snapshot &a, const Snapshot &b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(a[i].data, b[i].data, sizeof a[i].data) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return start_modules() ? 0 : 1; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (!fuzzing::write_scratch(data, size)) return 0;
  // The scratch file's name does not end in ".set": the type test gets a copy that does.
  const std::string &path = fuzzing::scratch_path();
  const std::string set_path = path + ".set";
  std::rename(path.c_str(), set_path.c_str());

  char model[21], code[11];
  int modules = 0;
  get_trq_type(set_path.c_str(), model, code, &modules);
  if (modules < 0 || modules > 2) std::abort();
  load_usb(set_path.c_str(), 1, 1);
  if (load_usb(set_path.c_str(), 3, 1) == 0) {
    const auto loaded = snapshot();
    if (save_usb(set_path.c_str(), nullptr) != 0) std::abort();
    if (load_usb(set_path.c_str(), 3, 1) != 0) std::abort();
    if (!same(loaded, snapshot())) std::abort();
  }
  std::remove(set_path.c_str());
  return 0;
}
