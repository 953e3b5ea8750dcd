// The setup bodies of the two program variants: four USB module slots shown
// in two columns, eight PCI card slots numbered directly.
#include <cstring>
#include <string_view>

#include "app/kmv_io_body.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_pci.h"

namespace {

// The first module number of a body goes to column A, any other to column B.
// A lone module shows in both columns; the other blocks are then another
// module's settings and go to no module.
short usb_slot(int number, int first_number) {
  if (number == first_number) return st_trq;
  return no_of_active_kmv >= 2 && nd_trq != st_trq ? nd_trq : -1;
}
short pci_slot(int number, int) { return static_cast<short>(number - 1); }

// An emulated module takes the serial number of the block it is given, so
// only a module on the bus has one of its own to tell another module's by.
std::string_view usb_serial(short slot) {
  if (hardware != 1 || slot < 0 || slot >= KMV_SLOTS) return {};
  const char *serial = usbmod_info[slot].serial_no;  // full length without a NUL
  return {serial, strnlen(serial, sizeof usbmod_info[slot].serial_no)};
}

SetupSlots usb_slots() {
  return {KMV_SLOTS,     modusb, KMVUSB_test_if_active, act_mod, usb_slot, set_usbmodule_parameter,
          module_par_table, KMV_PARAMETERS, usb_serial};
}

SetupSlots pci_slots() {
  return {KMV_PCI_SLOTS,  mod, KMV_test_if_active, pci_act_mod, pci_slot, set_module_parameter,
          pci_par_table, KMV_PCI_PARAMETERS, nullptr};
}

}  // namespace

int store_usbsetup(char *dst) { return store_body(dst, usb_slots()); }
void load_usbsetup(char *body, int mode) { load_body(body, mode, usb_slots()); }
int store_setup(char *dst) { return store_body(dst, pci_slots()); }
void load_setup(char *body, int mode) { load_body(body, mode, pci_slots()); }
