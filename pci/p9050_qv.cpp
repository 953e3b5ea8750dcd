// Driver start, card probe by subsystem id and the port accessors.
#include "pci/p9050_qv.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "pci/plx_device.h"
#include "pci/wdc_card.h"
#include "pci/wdc_driver.h"
#include "platform/driver/user_addr.h"

WDDriverHandle qv_hWD = -1;
char P9050_ErrorString[1024];
char P9054_ErrorString[1024];

namespace {

constexpr uint32_t kSubsystemOffset = 0x2C;

void set_message(const char *format, ...) __attribute__((format(printf, 1, 2)));
void set_message(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(P9050_ErrorString, sizeof P9050_ErrorString, format, ap);
  va_end(ap);
}

// The scan request for vendor/device; the count field decides, not the status.
std::unique_ptr<WDPciScanResult> scan(int vendor, int device) {
  auto rec = std::make_unique<WDPciScanResult>();
  std::memset(rec.get(), 0, sizeof *rec);
  rec->search_vendor = static_cast<uint32_t>(vendor);
  rec->search_device = static_cast<uint32_t>(device);
  driver_ioctl(WDCode(kWdFnPciScan), qv_hWD, rec.get(), sizeof *rec, 0);
  if (rec->count > kWdMaxScan) rec->count = kWdMaxScan;
  return rec;
}

// The subsystem dword of a card; false when the read did not go through.
bool subsystem_of(const WDPciSlot &slot, uint32_t *value) {
  *value = 0;
  platform::driver::UserBuffer buf(value, sizeof *value);
  WDPciConfigAccess rec;
  std::memset(&rec, 0, sizeof rec);
  rec.slot = slot;
  rec.buffer = buf.addr();
  rec.offset = kSubsystemOffset;
  rec.bytes = 4;
  rec.read = 1;
  const WDStatus st = driver_ioctl(WDCode(kWdFnPciConfig), qv_hWD, &rec, sizeof rec, 0);
  return st == kWdSuccess && rec.result == 0;
}

bool driver_missing() {
  P9050_ErrorString[0] = '\0';
  if (qv_hWD != -1) return false;
  set_message("Cannot open WinDriver device\n");
  return true;
}

WDTransfer transfer(QVPort port, uint32_t command) {
  WDTransfer t;
  std::memset(&t, 0, sizeof t);
  t.address = port;
  t.command = command;
  return t;
}

}  // namespace

WDDriverHandle RegisterWinDriver(void) {
  PLX_LibInit();
  qv_hWD = WDC_GetWDHandle();
  return qv_hWD;
}

int P9050_CountQVCards(int vendor, int device, int subsystem, int *indexes, WDPciSlot *slots, int capacity) {
  if (driver_missing()) return 0;
  const auto rec = scan(vendor, device);
  if (rec->count == 0) {
    if (vendor == 0x11E3)
      set_message("no QL5232/QL5130 cards found\n");
    else
      set_message("no PLX%x cards found\n", static_cast<unsigned>(device));
    return 0;
  }
  if (subsystem == -1) return static_cast<int>(rec->count);
  const bool storing = indexes != nullptr || slots != nullptr;
  int n = 0;
  for (uint32_t i = 0; i < rec->count; ++i) {
    if (storing && n >= capacity) break;  // the caller's arrays are full
    uint32_t value = 0;
    // A card whose configuration read fails does not match.
    if (!subsystem_of(rec->slots[i], &value) || value != static_cast<uint32_t>(subsystem)) continue;
    if (indexes) indexes[n] = static_cast<int>(i);
    if (slots) slots[n] = rec->slots[i];
    ++n;
  }
  return n;
}

int P9050_ReadQVByte(QVPort port) {
  WDTransfer t = transfer(port, kCmdReadPort8);
  driver_ioctl(WDCode(kWdFnTransfer), qv_hWD, &t, sizeof t, 0);
  return static_cast<int8_t>(t.data.u8);
}

int P9050_ReadQVWord(QVPort port) {
  WDTransfer t = transfer(port, kCmdReadPort16);
  driver_ioctl(WDCode(kWdFnTransfer), qv_hWD, &t, sizeof t, 0);
  return static_cast<int16_t>(t.data.u16);
}

uint32_t P9050_ReadQVDword(QVPort port) {
  WDTransfer t = transfer(port, kCmdReadPort32);
  driver_ioctl(WDCode(kWdFnTransfer), qv_hWD, &t, sizeof t, 0);
  return t.data.u32;
}

WDStatus P9050_WriteQVByte(QVPort port, uint8_t value) {
  WDTransfer t = transfer(port, kCmdWritePort8);
  t.data.u8 = value;
  return driver_ioctl(WDCode(kWdFnTransfer), qv_hWD, &t, sizeof t, 0);
}

WDStatus P9050_WriteQVWord(QVPort port, uint16_t value) {
  WDTransfer t = transfer(port, kCmdWritePort16);
  t.data.u16 = value;
  return driver_ioctl(WDCode(kWdFnTransfer), qv_hWD, &t, sizeof t, 0);
}

WDStatus P9050_WriteQVDword(QVPort port, uint32_t value) {
  WDTransfer t = transfer(port, kCmdWritePort32);
  t.data.u32 = value;
  return driver_ioctl(WDCode(kWdFnTransfer), qv_hWD, &t, sizeof t, 0);
}

int GetWinDriverVersion(void) {
  const WDDriverHandle h = WD_OpenDevice();
  if (h == -1) return -1;
  WDVersion v;
  std::memset(&v, 0, sizeof v);
  driver_ioctl(WDCode(kWdFnVersion), h, &v, sizeof v, 0);
  WD_CloseDevice(h);
  return static_cast<int>(v.number);
}

int P9050_CountCards(int vendor, int device) {
  if (driver_missing()) return 0;
  WDVersion v;
  std::memset(&v, 0, sizeof v);
  driver_ioctl(WDCode(kWdFnVersion), qv_hWD, &v, sizeof v, 0);
  if (v.number <= 1229) {
    set_message("error - Incorrect WinDriver version\n");
    return 0;
  }
  const auto rec = scan(vendor, device);
  if (rec->count == 0) {
    set_message("no cards found\n");
    return 0;
  }
  if (vendor == 0 && device == 0) {
    for (uint32_t i = 0; i < rec->count; ++i)
      if (rec->ids[i].vendor == 0 && rec->ids[i].device == 0) return 1;
    return 0;
  }
  return static_cast<int>(rec->count);
}

int P9050_Count_180_HOF_Cards(int vendor, int device, int subsystem, int *indexes, WDPciSlot *slots, int kind) {
  if (driver_missing()) return 0;
  if (vendor != 0x11E3 || device != 0x1B || static_cast<uint32_t>(subsystem) != 0x121111E3u) return 0;
  const auto rec = scan(vendor, device);
  if (rec->count == 0) {
    set_message("no QL5232/QL5130 cards found\n");
    return 0;
  }
  int counts[2] = {0, 0};
  for (uint32_t i = 0; i < rec->count; ++i) {
    uint32_t value = 0;
    if (!subsystem_of(rec->slots[i], &value) || value != static_cast<uint32_t>(subsystem)) continue;
    WDCDeviceHandle h = nullptr;
    if (P9050_Open(&h, static_cast<uint32_t>(vendor), static_cast<uint32_t>(device), i, 0) != 1) continue;
    const uint64_t length1 = h->num_spaces > 1 ? h->spaces[1].length : 0;
    int found = -1;
    if (length1 > 0x400000 && h->num_spaces == 3)
      found = 0;
    else if (length1 == 0x400000)
      found = 1;
    // The classification needs the card no longer.
    PLX_DeviceClose(h);
    if (found < 0) continue;
    if (found == kind) {
      if (indexes) indexes[counts[found]] = static_cast<int>(i);
      if (slots) slots[counts[found]] = rec->slots[i];
    }
    ++counts[found];
  }
  return kind != 0 ? counts[1] : counts[0];
}
