#include "pci/plx_device.h"
#include "pci/wdc_services.h"
int PLX_IntIsEnabled(WDCDeviceHandle handle) { return WDC_IntIsEnabled(handle); }
WDStatus PLX_IntDisable(WDCDeviceHandle handle) { return WDC_IntDisable(handle); }
