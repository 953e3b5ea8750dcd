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
int32_t QVUSB_STDCALL QVUSBstd_test_if_active(int16_t number, int16_t *count) {
  return QVUSB_test_if_active(number, count);
}
int32_t QVUSB_STDCALL QVUSBstd_get_parameter(int16_t number, int16_t id, float *value) {
  return QVUSB_get_parameter(number, id, value);
}
int32_t QVUSB_STDCALL QVUSBstd_set_parameter(int16_t number, int16_t id, float value) {
  return QVUSB_set_parameter(number, id, value);
}
int32_t QVUSB_STDCALL QVUSBstd_set_GOR_led(int16_t number, int16_t mode) { return QVUSB_set_GOR_led(number, mode); }
int32_t QVUSB_STDCALL QVUSBstd_get_GORparameters(int16_t number, gor_module_block *out) {
  return QVUSB_get_GORparameters(number, out);
}
int32_t QVUSB_STDCALL QVUSBstd_set_GORparameters(int16_t number, const gor_module_block *in) {
  return QVUSB_set_GORparameters(number, in);
}
int32_t QVUSB_STDCALL QVUSBstd_get_GOR_laser_parameters(int16_t number, int16_t laser, gor_laser_block *out) {
  return QVUSB_get_GOR_laser_parameters(number, laser, out);
}
int32_t QVUSB_STDCALL QVUSBstd_set_GOR_laser_parameters(int16_t number, int16_t laser, const gor_laser_block *in) {
  return QVUSB_set_GOR_laser_parameters(number, laser, in);
}
int32_t QVUSB_STDCALL QVUSBstd_switch_GOR_laser(int16_t number, int16_t laser, int16_t on) {
  return QVUSB_switch_GOR_laser(number, laser, on);
}
int32_t QVUSB_STDCALL QVUSBstd_get_GOR_EEP_parameters(int16_t number, gor_module_block *out) {
  return QVUSB_get_GOR_EEP_parameters(number, out);
}
int32_t QVUSB_STDCALL QVUSBstd_set_GOR_EEP_parameters(int16_t number, const gor_module_block *in) {
  return QVUSB_set_GOR_EEP_parameters(number, in);
}
