#pragma once
// The PCI driver access: driver control interface, card layer, PLX layer and
// their services.
#include "pci/plx_device.h"
#include "pci/plx_lib.h"
#include "pci/wd_os.h"
#include "pci/wd_records.h"
#include "pci/wdc_card.h"
#include "pci/wdc_driver.h"
#include "pci/wdc_pcmcia.h"
#include "pci/wdc_services.h"
