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
