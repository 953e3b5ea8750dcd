// Standard-call twins: each calls its body and widens the result.
#include "modules/kmv_fun.h"

int32_t KMV_STDCALL KMVUSBstd_test_if_active(int16_t module) { return KMVUSB_test_if_active(module); }
int32_t KMV_STDCALL KMVUSBstd_get_init_status(int16_t module, int16_t *status) {
  return KMVUSB_get_init_status(module, status);
}
int32_t KMV_STDCALL KMVUSBstd_get_module_info(int16_t module, KMVUSBModuleInfo *info) {
  return KMVUSB_get_module_info(module, info);
}
int32_t KMV_STDCALL KMVUSBstd_get_mode(void) { return KMVUSB_get_mode(); }

int32_t KMV_STDCALL KMVstd_test_if_active(int16_t module) { return KMV_test_if_active(module); }
int32_t KMV_STDCALL KMVstd_get_init_status(int16_t module, int16_t *status) {
  return KMV_get_init_status(module, status);
}
int32_t KMV_STDCALL KMVstd_get_module_info(int16_t module, KMVModuleInfo *info) {
  return KMV_get_module_info(module, info);
}
int32_t KMV_STDCALL KMVstd_get_mode(void) { return KMV_get_mode(); }
int32_t KMV_STDCALL KMVstd_get_error_string(int16_t code, char *buf, int16_t maxlen) {
  return KMV_get_error_string(code, buf, maxlen);
}

int32_t KMV_STDCALL KMVUSBstd_init(const char *ini_path) { return KMVUSB_init(ini_path); }
int32_t KMV_STDCALL KMVUSBstd_set_parameters(int16_t module, int16_t send, const KMVUSBParameters *rec) {
  return KMVUSB_set_parameters(module, send, rec);
}
int32_t KMV_STDCALL KMVUSBstd_set_parameter(int16_t module, int16_t par_id, int16_t send, float value) {
  return KMVUSB_set_parameter(module, par_id, send, value);
}
int32_t KMV_STDCALL KMVUSBstd_get_parameters(int16_t module, KMVUSBParameters *out) {
  return KMVUSB_get_parameters(module, out);
}
int32_t KMV_STDCALL KMVUSBstd_get_parameter(int16_t module, int16_t par_id, float *value) {
  return KMVUSB_get_parameter(module, par_id, value);
}
int32_t KMV_STDCALL KMVUSBstd_enable_outputs(int16_t module, int16_t connector, int16_t enable) {
  return KMVUSB_enable_outputs(module, connector, enable);
}
int32_t KMV_STDCALL KMVUSBstd_clear_overload(int16_t module, int16_t connector) {
  return KMVUSB_clear_overload(module, connector);
}
int32_t KMV_STDCALL KMVUSBstd_get_overload_state(int16_t module, int16_t *state) {
  return KMVUSB_get_overload_state(module, state);
}
int32_t KMV_STDCALL KMVUSBstd_get_curr_lmt_state(int16_t module, int16_t *state) {
  return KMVUSB_get_curr_lmt_state(module, state);
}
int32_t KMV_STDCALL KMVUSBstd_set_mode(int16_t mode, const int16_t flags[4]) { return KMVUSB_set_mode(mode, flags); }
int32_t KMV_STDCALL KMVUSBstd_get_eeprom_data(int16_t module, KMVUSBEepromData *data) {
  return KMVUSB_get_eeprom_data(module, data);
}
int32_t KMV_STDCALL KMVUSBstd_write_eeprom_data(int16_t module, int16_t access_code, KMVUSBEepromData *data) {
  return KMVUSB_write_eeprom_data(module, access_code, data);
}
int32_t KMV_STDCALL KMVUSBstd_get_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit) {
  return KMVUSB_get_gain_HV_limit(module, connector, limit);
}
int32_t KMV_STDCALL KMVUSBstd_set_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit) {
  return KMVUSB_set_gain_HV_limit(module, connector, limit);
}
int32_t KMV_STDCALL KMVUSBstd_close(void) { return KMVUSB_close(); }
int32_t KMV_STDCALL KMVUSBstd_reconnect(int16_t module) { return KMVUSB_reconnect(module); }

int32_t KMV_STDCALL KMVstd_init(const char *ini_path) { return KMV_init(ini_path); }
int32_t KMV_STDCALL KMVstd_set_parameters(int16_t module, int16_t send, const KMVParameters *rec) {
  return KMV_set_parameters(module, send, rec);
}
int32_t KMV_STDCALL KMVstd_set_parameter(int16_t module, int16_t par_id, int16_t send, float value) {
  return KMV_set_parameter(module, par_id, send, value);
}
int32_t KMV_STDCALL KMVstd_get_parameters(int16_t module, KMVParameters *out) { return KMV_get_parameters(module, out); }
int32_t KMV_STDCALL KMVstd_get_parameter(int16_t module, int16_t par_id, float *value) {
  return KMV_get_parameter(module, par_id, value);
}
int32_t KMV_STDCALL KMVstd_enable_outputs(int16_t module, int16_t enable) { return KMV_enable_outputs(module, enable); }
int32_t KMV_STDCALL KMVstd_clear_overload(int16_t module) { return KMV_clear_overload(module); }
int32_t KMV_STDCALL KMVstd_get_overload_state(int16_t module, int16_t *state) {
  return KMV_get_overload_state(module, state);
}
int32_t KMV_STDCALL KMVstd_get_curr_lmt_state(int16_t module, int16_t *state) {
  return KMV_get_curr_lmt_state(module, state);
}
int32_t KMV_STDCALL KMVstd_set_mode(int16_t mode, int16_t takeover, const int16_t flags[8]) {
  return KMV_set_mode(mode, takeover, flags);
}
int32_t KMV_STDCALL KMVstd_get_eeprom_data(int16_t module, KMVEepromData *data) {
  return KMV_get_eeprom_data(module, data);
}
int32_t KMV_STDCALL KMVstd_write_eeprom_data(int16_t module, int16_t access_code, KMVEepromData *data) {
  return KMV_write_eeprom_data(module, access_code, data);
}
int32_t KMV_STDCALL KMVstd_get_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit) {
  return KMV_get_gain_HV_limit(module, connector, limit);
}
int32_t KMV_STDCALL KMVstd_set_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit) {
  return KMV_set_gain_HV_limit(module, connector, limit);
}
int32_t KMV_STDCALL KMVstd_close(void) { return KMV_close(); }
