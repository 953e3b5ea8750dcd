// Standard-call twins of the manager: each calls its body and widens the result.
#include "modules/qv_usb_fun.h"

int32_t QVUSB_STDCALL QVUSBstd_find_devices(int16_t kind) { return QVUSB_find_devices(kind); }
int32_t QVUSB_STDCALL QVUSBstd_connect_device(int16_t number) { return QVUSB_connect_device(number); }
int32_t QVUSB_STDCALL QVUSBstd_disconnect_device(int16_t number) { return QVUSB_disconnect_device(number); }
int32_t QVUSB_STDCALL QVUSBstd_reconnect_device(int16_t number) { return QVUSB_reconnect_device(number); }
int32_t QVUSB_STDCALL QVUSBstd_get_init_status(int16_t number, int16_t *status) {
  return QVUSB_get_init_status(number, status);
}
int32_t QVUSB_STDCALL QVUSBstd_get_device_info(int16_t number, usb_module_info *out) {
  return QVUSB_get_device_info(number, out);
}
int32_t QVUSB_STDCALL QVUSBstd_get_device_data(int16_t number, usb_module_record *out) {
  return QVUSB_get_device_data(number, out);
}
int32_t QVUSB_STDCALL QVUSBstd_get_error_string(int16_t code, char *text, int16_t max) {
  return QVUSB_get_error_string(code, text, max);
}
