// PLX address-space information, local-bus access, the serial EEPROM and the
// soft reset.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "pci/plx_lib.h"
#include "platform/win/strings.h"

namespace {

constexpr uint32_t kCntrlEepClock = 1u << 24, kCntrlEepSelect = 1u << 25, kCntrlEepDataIn = 1u << 26,
                   kCntrlEepDataOut = 1u << 27, kCntrlEepPresent = 1u << 28, kCntrlReload = 1u << 29,
                   kCntrlReset = 1u << 30, kCntrlVpdAccess = 1u << 31;

// ---- local-bus access ----

// Points the space's window at the local address; the offset into the space.
bool remap(const char *op, WDCDeviceHandle h, PLXDeviceContext *ctx, uint32_t space, uint32_t local_addr,
           uint32_t *offset) {
  const uint32_t size = WDC_AddrSpaceIsActive(h, space);
  if (space < 2 || size == 0) {
    PLX_SetLastErr("%s: Error - address space %lu is not a local space\n", op, static_cast<unsigned long>(space));
    return false;
  }
  const uint32_t reg = ctx->remap_base + (space - 2) * (ctx->master ? 240u : 4u);
  // the window is naturally aligned: sizes are powers of two
  WDC_WriteAddr32(h, 0, reg, (local_addr & ~(size - 1)) | 1u);
  *offset = local_addr & (size - 1);
  return true;
}

template <typename T, typename Read>
WDStatus read_local(const char *op, WDCDeviceHandle h, uint32_t space, uint32_t local_addr, T *value, Read read) {
  PLXDeviceContext *ctx = PLX_Context(op, h);
  uint32_t offset = 0;
  if (!ctx || !remap(op, h, ctx, space, local_addr, &offset)) return kWdInvalidParameter;
  return read(h, space, offset, value);
}

template <typename T, typename Write>
WDStatus write_local(const char *op, WDCDeviceHandle h, uint32_t space, uint32_t local_addr, T value, Write write) {
  PLXDeviceContext *ctx = PLX_Context(op, h);
  uint32_t offset = 0;
  if (!ctx || !remap(op, h, ctx, space, local_addr, &offset)) return kWdInvalidParameter;
  return write(h, space, offset, value);
}

// ---- serial EEPROM by bit-banging (Microwire) ----

class Microwire {
 public:
  Microwire(WDCDeviceHandle h, PLXDeviceContext *ctx) : h_(h), ctx_(ctx) {
    cntrl_ = P9050_ReadReg(h, ctx->cntrl) & ~(kCntrlEepClock | kCntrlEepSelect | kCntrlEepDataIn);
  }
  void select(bool on) {
    set(kCntrlEepSelect, on);
  }
  void bit(bool one) {
    set(kCntrlEepDataIn, one);
    set(kCntrlEepClock, true);
    set(kCntrlEepClock, false);
  }
  void bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bit((value >> i) & 1u);
  }
  bool data_out() { return (P9050_ReadReg(h_, ctx_->cntrl) & kCntrlEepDataOut) != 0; }
  uint16_t read16() {
    uint16_t v = 0;
    for (int i = 0; i < 16; ++i) {
      set(kCntrlEepClock, true);
      set(kCntrlEepClock, false);
      v = static_cast<uint16_t>(v << 1 | (data_out() ? 1 : 0));
    }
    return v;
  }
  // Start bit, two opcode bits, the address.
  void command(uint32_t opcode, uint32_t address) {
    select(true);
    bit(true);
    bits(opcode, 2);
    bits(address, address_bits());
  }
  int address_bits() const { return ctx_->master ? 8 : 6; }
  void end() {
    set(kCntrlEepDataIn, false);
    select(false);
  }

 private:
  void set(uint32_t mask, bool on) {
    cntrl_ = on ? (cntrl_ | mask) : (cntrl_ & ~mask);
    WDC_WriteAddr32(h_, 0, ctx_->cntrl, cntrl_);
    WDC_Sleep(500, 0);  // every edge waits 500 us
  }
  WDCDeviceHandle h_;
  PLXDeviceContext *ctx_;
  uint32_t cntrl_;
};

WDStatus rt_read16(WDCDeviceHandle h, PLXDeviceContext *ctx, uint32_t offset, uint16_t *value) {
  Microwire mw(h, ctx);
  mw.command(0x2, offset / 2);
  *value = mw.read16();
  mw.end();
  return kWdSuccess;
}

WDStatus rt_write16(WDCDeviceHandle h, PLXDeviceContext *ctx, uint32_t offset, uint16_t value) {
  Microwire mw(h, ctx);
  const int ab = mw.address_bits();
  mw.command(0x0, 0x3u << (ab - 2));  // write enable
  mw.end();
  mw.command(0x1, offset / 2);
  mw.bits(value, 16);
  mw.end();
  mw.select(true);  // busy until data out goes high
  bool ready = false;
  for (int i = 0; i < 100 && !ready; ++i) ready = mw.data_out();
  mw.end();
  mw.command(0x0, 0);  // write disable
  mw.end();
  uint16_t back = 0;
  rt_read16(h, ctx, offset, &back);
  if (back != value) {
    PLX_SetLastErr("PLX_EEPROM_RT_Write16: Error - Wrote 0x%04X, read back 0x%04X (device handle 0x" WD_PTR_FMT ")\n",
                   value, back, reinterpret_cast<uintptr_t>(h));
    return kWdOperationFailed;
  }
  return kWdSuccess;
}

// ---- serial EEPROM through the VPD registers ----

constexpr uint32_t kVpdAddress = 0x4E, kVpdData = 0x50;

bool vpd_poll(WDCDeviceHandle h, bool until_set) {
  for (int i = 0; i < 10; ++i) {
    uint16_t flag = 0;
    WDC_PciReadCfg16(h, kVpdAddress, &flag);
    if (((flag & 0x8000u) != 0) == until_set) return true;
    WDC_Sleep(20000, 0);
  }
  return false;
}

}  // namespace

uint32_t PLX_GetNumAddrSpaces(WDCDeviceHandle h) {
  if (!PLX_Context("PLX_GetNumAddrSpaces", h)) return 0;
  return h->num_spaces;
}

int PLX_GetAddrSpaceInfo(WDCDeviceHandle h, PLXAddrSpaceInfo *info) {
  if (!PLX_Context("PLX_GetAddrSpaceInfo", h)) return 0;
  if (!info) {
    PLX_SetLastErr("%s: NULL device %s\n", "PLX_GetAddrSpaceInfo", "address space information");
    return 0;
  }
  const uint32_t space = info->space;
  if (space >= h->num_spaces) {
    PLX_SetLastErr("PLX_GetAddrSpaceInfo: Error - Address space %ld is out of range (0 - %ld)\n",
                   static_cast<long>(space), static_cast<long>(h->num_spaces) - 1);
    return 0;
  }
  const WDCAddrDesc &d = h->spaces[space];
  info->is_active = WDC_AddrSpaceIsActive(h, space) != 0;
  platform::copy_bounded(info->type, sizeof info->type, d.is_memory ? "Memory" : "I/O");
  std::snprintf(info->name, sizeof info->name, "BAR %ld", static_cast<long>(space));
  if (info->is_active) {
    const int width = static_cast<int>(sizeof(WDKernelAddr) * 2);
    std::snprintf(info->desc, sizeof info->desc, "0x%0*" PRIX64 " - 0x%0*" PRIX64 " (%" PRId64 " bytes)", width,
                  static_cast<uint64_t>(d.kernel), width, static_cast<uint64_t>(d.kernel + d.length - 1),
                  static_cast<int64_t>(d.length));
  } else {
    platform::copy_bounded(info->desc, sizeof info->desc, "Inactive address space");
  }
  return 1;
}

WDStatus PLX_ReadAddrLocal8(WDCDeviceHandle h, uint32_t s, uint32_t a, uint8_t *v) {
  return read_local("PLX_ReadAddrLocal8", h, s, a, v, WDC_ReadAddr8);
}
WDStatus PLX_ReadAddrLocal16(WDCDeviceHandle h, uint32_t s, uint32_t a, uint16_t *v) {
  return read_local("PLX_ReadAddrLocal16", h, s, a, v, WDC_ReadAddr16);
}
WDStatus PLX_ReadAddrLocal32(WDCDeviceHandle h, uint32_t s, uint32_t a, uint32_t *v) {
  return read_local("PLX_ReadAddrLocal32", h, s, a, v, WDC_ReadAddr32);
}
WDStatus PLX_ReadAddrLocal64(WDCDeviceHandle h, uint32_t s, uint32_t a, uint64_t *v) {
  return read_local("PLX_ReadAddrLocal64", h, s, a, v, WDC_ReadAddr64);
}
WDStatus PLX_WriteAddrLocal8(WDCDeviceHandle h, uint32_t s, uint32_t a, uint8_t v) {
  return write_local("PLX_WriteAddrLocal8", h, s, a, v, WDC_WriteAddr8);
}
WDStatus PLX_WriteAddrLocal16(WDCDeviceHandle h, uint32_t s, uint32_t a, uint16_t v) {
  return write_local("PLX_WriteAddrLocal16", h, s, a, v, WDC_WriteAddr16);
}
WDStatus PLX_WriteAddrLocal32(WDCDeviceHandle h, uint32_t s, uint32_t a, uint32_t v) {
  return write_local("PLX_WriteAddrLocal32", h, s, a, v, WDC_WriteAddr32);
}
WDStatus PLX_WriteAddrLocal64(WDCDeviceHandle h, uint32_t s, uint32_t a, uint64_t v) {
  return write_local("PLX_WriteAddrLocal64", h, s, a, v, WDC_WriteAddr64);
}

WDStatus PLX_ReadAddrLocalBlock(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint32_t bytes, void *buffer,
                                uint32_t width, uint32_t options) {
  PLXDeviceContext *ctx = PLX_Context("PLX_ReadAddrLocalBlock", h);
  uint32_t offset = 0;
  if (!ctx || !remap("PLX_ReadAddrLocalBlock", h, ctx, space, local_addr, &offset)) return kWdInvalidParameter;
  return WDC_ReadAddrBlock(h, space, offset, bytes, buffer, width, options);
}

WDStatus PLX_WriteAddrLocalBlock(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint32_t bytes,
                                 const void *buffer, uint32_t width, uint32_t options) {
  PLXDeviceContext *ctx = PLX_Context("PLX_WriteAddrLocalBlock", h);
  uint32_t offset = 0;
  if (!ctx || !remap("PLX_WriteAddrLocalBlock", h, ctx, space, local_addr, &offset)) return kWdInvalidParameter;
  return WDC_WriteAddrBlock(h, space, offset, bytes, buffer, width, options);
}

int PLX_EEPROMIsPresent(WDCDeviceHandle h) {
  PLXDeviceContext *ctx = PLX_Context("PLX_EEPROMIsPresent", h);
  if (!ctx) return 0;
  return (P9050_ReadReg(h, ctx->cntrl) & kCntrlEepPresent) ? 1 : 0;
}

int PLX_EEPROM_VPD_Validate(WDCDeviceHandle h) {
  if (!PLX_Context("PLX_EEPROM_VPD_Validate", h)) return 0;
  if (!PLX_EEPROMIsPresent(h)) {
    PLX_SetLastErr("PLX_EEPROM_VPD_Validate: Error - serial EEPROM was not found on board (handle 0x" WD_PTR_FMT
                   ")\n",
                   reinterpret_cast<uintptr_t>(h));
    return 0;
  }
  struct Check {
    uint32_t offset;
    uint8_t expect;
    const char *name;
  };
  static constexpr Check kChain[] = {
      {0x34, 0x40, "NEW_CAP"}, {0x41, 0x48, "PMNEXT"}, {0x49, 0x4C, "HS_NEXT"}, {0x4D, 0x00, "VPD_NEXT"}};
  for (const Check &c : kChain) {
    uint8_t v = 0xFF;
    if (WDC_PciReadCfg8(h, c.offset, &v) != kWdSuccess || v != c.expect) {
      PLX_SetLastErr("PLX_EEPROM_VPD_Validate: %s register validation failed\n", c.name);
      return 0;
    }
  }
  return 1;
}

WDStatus PLX_EEPROM_VPD_Read32(WDCDeviceHandle h, uint32_t offset, uint32_t *value) {
  PLXDeviceContext *ctx = PLX_Context("PLX_EEPROM_VPD_Read32", h);
  if (!ctx || !value || offset % 4) {
    if (ctx) PLX_SetLastErr("PLX_EEPROM_VPD_Read32: Error - offset 0x%lX is not a multiple of 4\n",
                            static_cast<unsigned long>(offset));
    return kWdInvalidParameter;
  }
  const uint32_t cntrl = P9050_ReadReg(h, ctx->cntrl);
  WDC_WriteAddr32(h, 0, ctx->cntrl, cntrl & ~kCntrlVpdAccess);
  WDC_PciWriteCfg16(h, kVpdAddress, static_cast<uint16_t>(offset & 0x7FFF));
  const bool done = vpd_poll(h, true);
  if (done) WDC_PciReadCfg32(h, kVpdData, value);
  WDC_WriteAddr32(h, 0, ctx->cntrl, cntrl);
  return done ? kWdSuccess : kWdOperationFailed;
}

WDStatus PLX_EEPROM_VPD_Write32(WDCDeviceHandle h, uint32_t offset, uint32_t value) {
  PLXDeviceContext *ctx = PLX_Context("PLX_EEPROM_VPD_Write32", h);
  if (!ctx || offset % 4) {
    if (ctx) PLX_SetLastErr("PLX_EEPROM_VPD_Write32: Error - offset 0x%lX is not a multiple of 4\n",
                            static_cast<unsigned long>(offset));
    return kWdInvalidParameter;
  }
  uint8_t protect = 0;
  WDC_ReadAddr8(h, 0, ctx->prot_area, &protect);
  WDC_WriteAddr8(h, 0, ctx->prot_area, static_cast<uint8_t>((offset / 4) & 0x7F));
  const uint32_t cntrl = P9050_ReadReg(h, ctx->cntrl);
  WDC_WriteAddr32(h, 0, ctx->cntrl, cntrl & ~kCntrlVpdAccess);
  WDC_PciWriteCfg32(h, kVpdData, value);
  WDC_PciWriteCfg16(h, kVpdAddress, static_cast<uint16_t>((offset & 0x7FFF) | 0x8000u));
  const bool done = vpd_poll(h, false);
  WDC_WriteAddr32(h, 0, ctx->cntrl, cntrl);
  WDC_WriteAddr8(h, 0, ctx->prot_area, protect);
  if (!done) return kWdOperationFailed;
  uint32_t back = 0;
  const WDStatus st = PLX_EEPROM_VPD_Read32(h, offset, &back);
  if (st != kWdSuccess || back != value) {
    PLX_SetLastErr("PLX_EEPROM_VPD_Write32: Error - Wrote 0x%08X, read back 0x%08X (device handle 0x" WD_PTR_FMT ")\n",
                   value, back, reinterpret_cast<uintptr_t>(h));
    return kWdOperationFailed;
  }
  return kWdSuccess;
}

WDStatus PLX_EEPROM_RT_Read16(WDCDeviceHandle h, uint32_t offset, uint16_t *value) {
  PLXDeviceContext *ctx = PLX_Context("PLX_EEPROM_RT_Read16", h);
  if (!ctx || !value) return kWdInvalidParameter;
  return rt_read16(h, ctx, offset, value);
}

WDStatus PLX_EEPROM_RT_Write16(WDCDeviceHandle h, uint32_t offset, uint16_t value) {
  PLXDeviceContext *ctx = PLX_Context("PLX_EEPROM_RT_Write16", h);
  if (!ctx) return kWdInvalidParameter;
  return rt_write16(h, ctx, offset, value);
}

WDStatus PLX_EEPROM_RT_Read32(WDCDeviceHandle h, uint32_t offset, uint32_t *value) {
  PLXDeviceContext *ctx = PLX_Context("PLX_EEPROM_RT_Read32", h);
  if (!ctx || !value || offset % 4) return kWdInvalidParameter;
  uint16_t lo = 0, hi = 0;
  rt_read16(h, ctx, offset, &lo);
  rt_read16(h, ctx, offset + 2, &hi);
  *value = uint32_t{hi} << 16 | lo;
  return kWdSuccess;
}

WDStatus PLX_EEPROM_RT_Write32(WDCDeviceHandle h, uint32_t offset, uint32_t value) {
  PLXDeviceContext *ctx = PLX_Context("PLX_EEPROM_RT_Write32", h);
  if (!ctx || offset % 4) return kWdInvalidParameter;
  const WDStatus st = rt_write16(h, ctx, offset, static_cast<uint16_t>(value));
  if (st != kWdSuccess) return st;
  return rt_write16(h, ctx, offset + 2, static_cast<uint16_t>(value >> 16));
}

WDStatus PLX_SoftResetMaster(WDCDeviceHandle h) {
  PLXDeviceContext *ctx = PLX_Context("PLX_SoftResetMaster", h);
  if (!ctx) return kWdInvalidParameter;
  constexpr uint32_t kCntrl = 0x6C, kPower = 0xE8;
  uint16_t command = 0;
  WDC_PciReadCfg16(h, 0x04, &command);
  const uint32_t power = P9050_ReadReg(h, kPower);
  uint32_t cntrl = P9050_ReadReg(h, kCntrl) & ~(kCntrlReload | kCntrlReset);
  WDC_WriteAddr32(h, 0, kCntrl, cntrl);
  const bool eeprom = (cntrl & kCntrlEepPresent) != 0;
  uint32_t saved_regs[2] = {}, saved_cfg[3] = {};
  static constexpr uint32_t kRegs[2] = {0x40, 0x44}, kCfg[3] = {0x3C, 0x48, 0x44};
  if (eeprom) {
    for (int i = 0; i < 2; ++i) saved_regs[i] = P9050_ReadReg(h, kRegs[i]);
    for (int i = 0; i < 3; ++i) WDC_PciReadCfg32(h, kCfg[i], &saved_cfg[i]);
  }
  for (uint32_t bit : {kCntrlReset, kCntrlReload}) {
    WDC_WriteAddr32(h, 0, kCntrl, cntrl | bit);
    WDC_Sleep(5000000, 1);
    WDC_WriteAddr32(h, 0, kCntrl, cntrl);
  }
  if (power & 1u) WDC_WriteAddr32(h, 0, kPower, P9050_ReadReg(h, kPower) | 1u);
  if (eeprom) {
    for (int i = 0; i < 2; ++i) WDC_WriteAddr32(h, 0, kRegs[i], saved_regs[i]);
    WDC_PciWriteCfg32(h, 0x3C, saved_cfg[0]);
    WDC_PciWriteCfg32(h, 0x48, saved_cfg[1] & ~0xC20000u);
    WDC_PciWriteCfg32(h, 0x44, saved_cfg[2] & ~0x8000u);
  }
  WDC_PciWriteCfg16(h, 0x04, command);
  return kWdSuccess;
}
