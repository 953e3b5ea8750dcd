// DMA on the PLX 9054 channels (one page at a time) and on the Xilinx engine
// reached through space 2.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "pci/plx_lib.h"
#include "platform/driver/user_addr.h"
#include "platform/win/clock.h"

int plx_dma_sleep_first = 0;

namespace {

struct ChannelRegs {
  uint32_t mode, pci, local, count, desc, cmd;
};
constexpr ChannelRegs kChannel[2] = {{0x80, 0x84, 0x88, 0x8C, 0x90, 0xA8}, {0x94, 0x98, 0x9C, 0xA0, 0xA4, 0xA9}};
constexpr uint32_t kIntcsr9054 = 0x68;
constexpr uint32_t kLargePiece = 0x700000;

uint32_t width_bits(uint32_t local_width) { return local_width == 8 ? 0u : local_width == 16 ? 1u : 3u; }

void free_dma(PLXDmaStruct *d) {
  if (!d) return;
  if (d->dma) WDC_DMABufUnlock(d->dma);
  std::free(d);
}

}  // namespace

WDStatus PLX_DMAOpen(WDCDeviceHandle h, uint32_t local_addr, void **buffer, uint32_t options, uint32_t bytes,
                     uint32_t local_width, uint32_t channel, PLXDmaStruct **out) {
  if (!PLX_Context("PLX_DMAOpen", h)) return kWdInvalidParameter;
  if (!buffer || !out) {
    PLX_SetLastErr("PLX_DMAOpen: Error - NULL DMA buffer pointer\n");
    return kWdInvalidParameter;
  }
  auto *d = static_cast<PLXDmaStruct *>(std::calloc(1, sizeof(PLXDmaStruct)));
  if (!d) {
    PLX_SetLastErr("PLX_DMAOpen: Failed allocating memory for PLX DMA struct\n");
    return kWdInsufficientResources;
  }
  d->channel = channel ? 1 : 0;
  d->from_device = (options & DMA_FROM_DEVICE) ? 1 : 0;
  const ChannelRegs &r = kChannel[d->channel];
  d->mode_reg = r.mode;
  d->cmd_reg = r.cmd;
  WDStatus st = (options & DMA_KERNEL_BUFFER_ALLOC) ? WDC_DMAContigBufLock(h, buffer, options, bytes, &d->dma)
                                                    : WDC_DMASGBufLock(h, *buffer, options, bytes, &d->dma);
  if (st != kWdSuccess) {
    PLX_SetLastErr("PLX_DMAOpen: Failed locking a DMA buffer. Error 0x%lx - %s\n", static_cast<unsigned long>(st),
                   Stat2Str(st));
    free_dma(d);
    return st;
  }
  // Our DMA record lists one page: a buffer the driver splits into more
  // cannot be chained from it, so it is refused rather than half described.
  if (d->dma->pages > 1) {
    PLX_SetLastErr("PLX_DMAOpen: Error - a buffer of %lu pages needs a chained transfer, which is not supported\n",
                   static_cast<unsigned long>(d->dma->pages));
    free_dma(d);
    return kWdNotImplemented;
  }
  WDC_WriteAddr32(h, 0, r.mode, width_bits(local_width) | 0x40u | 0x80u | 0x100u);  // ready, BTERM, local burst
  WDC_WriteAddr32(h, 0, r.pci, static_cast<uint32_t>(d->dma->page[0].physical));
  WDC_WriteAddr32(h, 0, r.local, local_addr);
  WDC_WriteAddr32(h, 0, r.count, bytes);
  WDC_WriteAddr32(h, 0, r.desc, d->from_device ? 0x8u : 0u);
  *out = d;
  return kWdSuccess;
}

WDStatus PLX_DMAClose(WDCDeviceHandle h, PLXDmaStruct *dma) {
  if (!PLX_Context("PLX_DMAClose", h)) return kWdInvalidParameter;
  if (!dma) {
    PLX_SetLastErr("PLX_DMAClose: NULL DMA handle (device handle 0x" WD_PTR_FMT ")\n", reinterpret_cast<uintptr_t>(h));
    return kWdInvalidParameter;
  }
  free_dma(dma);
  return kWdSuccess;
}

WDStatus PLX_DMAStart(WDCDeviceHandle h, PLXDmaStruct *dma) {
  if (!PLX_Context("PLX_DMAStart", h) || !dma) return kWdInvalidParameter;
  WDC_DMASyncCpu(dma->dma);
  return WDC_WriteAddr8(h, 0, dma->cmd_reg, 3);  // enable and start
}

int PLX_DMAIsDone(WDCDeviceHandle h, PLXDmaStruct *dma) {
  if (!PLX_Context("PLX_DMAIsDone", h) || !dma) return 0;
  uint8_t status = 0;
  WDC_ReadAddr8(h, 0, dma->cmd_reg, &status);
  return (status & 0x10u) ? 1 : 0;
}

int PLX_DMAIsAborted(WDCDeviceHandle h, PLXDmaStruct *dma) {
  if (!PLX_Context("PLX_DMAIsAborted", h) || !dma) return 0;
  const uint32_t intcsr = P9050_ReadReg(h, kIntcsr9054);
  return (intcsr & (dma->channel ? 0x4000000u : 0x2000000u)) ? 0 : 1;
}

int PLX_DMAPollCompletion(WDCDeviceHandle h, PLXDmaStruct *dma, uint32_t expected_ms) {
  if (!PLX_Context("PLX_DMAPollCompletion", h) || !dma) return 0;
  if (plx_dma_sleep_first && expected_ms >= 1) Sleep(expected_ms);
  const double start = Timer();
  int done = 0;
  for (uint64_t polls = 1;; ++polls) {
    if (PLX_DMAIsDone(h, dma)) {
      done = 1;
      break;
    }
    if (polls % 50000 != 0) continue;
    const uint32_t intcsr = P9050_ReadReg(h, kIntcsr9054);
    uint16_t status = 0;
    WDC_PciReadCfg16(h, 0x06, &status);
    if (PLX_DMAIsAborted(h, dma) && (status & 0x7800u)) {
      WDC_PciWriteCfg16(h, 0x06, static_cast<uint16_t>(status & 0x7800u));  // write 1 to clear
      uint16_t again = 0;
      WDC_PciReadCfg16(h, 0x06, &again);
      PLX_SetLastErr(
          "Transfer aborted !! - PCI reg. 6 = 0x%04x, 2nd read PCI reg. 6 = 0x%04x, PLX reg. 0x68 = 0x%08x\n", status,
          again, intcsr);
      break;
    }
    if (Timer() - start > 1.0) {
      PLX_SetLastErr("Timeout ( 1.0 sec ) in DMA Transfer !! - PCI reg. 6 = 0x%04x, PLX reg. 0x68 = 0x%08x\n", status,
                     intcsr);
      break;
    }
    // the timer runs on the program's clock: let it move while we wait
    platform::clock::sleep(0.0001);
  }
  WDC_DMASyncIo(dma->dma);
  return done;
}

WDStatus PLX_DMASyncCpu(PLXDmaStruct *dma) { return dma ? WDC_DMASyncCpu(dma->dma) : kWdInvalidParameter; }
WDStatus PLX_DMASyncIo(PLXDmaStruct *dma) { return dma ? WDC_DMASyncIo(dma->dma) : kWdInvalidParameter; }

int P9054_DMARdWrBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, int to_device) {
  if (bytes == 0) return 1;
  if (!h) return 0;
  if (h->vendor != kPlxVendor) return XIL_DMARdWrBlock(h, local_addr, buffer, bytes, to_device, 2);
  const uint32_t base = P9050_ReadReg(h, 0xF4) & ~1u;
  PLXDmaStruct *dma = nullptr;
  void *buf = buffer;
  if (PLX_DMAOpen(h, base + local_addr, &buf, to_device ? DMA_TO_DEVICE : DMA_FROM_DEVICE, bytes, 32, 0, &dma) !=
      kWdSuccess)
    return 0;
  PLX_DMAStart(h, dma);
  const int ok = PLX_DMAPollCompletion(h, dma, bytes / (to_device ? 140000u : 70000u));
  PLX_DMAClose(h, dma);
  return ok;
}

int P9054_DMAReadBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes) {
  return P9054_DMARdWrBlock(h, local_addr, buffer, bytes, 0);
}

int P9054_DMAReadWriteBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, int to_device) {
  return P9054_DMARdWrBlock(h, local_addr, buffer, bytes, to_device);
}

int P9054_DMAReadWriteLargeBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, int to_device) {
  auto *p = static_cast<uint8_t *>(buffer);
  while (bytes) {
    const uint32_t piece = bytes < kLargePiece ? bytes : kLargePiece;
    if (!P9054_DMARdWrBlock(h, local_addr, p, piece, to_device)) return 0;
    p += piece;
    local_addr += piece;
    bytes -= piece;
  }
  return 1;
}

int P9054_DMAReadLargeBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes) {
  return P9054_DMAReadWriteLargeBlock(h, local_addr, buffer, bytes, 0);
}

// ---- the Xilinx engine ----

namespace {

constexpr uint32_t kXilControl = 0x200C, kXilCounter = 0x2008, kXilAddress = 0x800, kXilLevel = 0x900;

bool xil_mapped(WDCDeviceHandle h) { return h && h->num_spaces > 2 && h->spaces[2].is_memory && h->spaces[2].user; }

}  // namespace

int XIL_ReadReg16(WDCDeviceHandle h, uint32_t offset, uint16_t *value) {
  uint64_t v = 0;
  if (!xil_mapped(h) || !platform::driver::mmio_read(h->spaces[2].user + offset, 2, &v)) return 1;
  *value = static_cast<uint16_t>(v);
  return 0;
}
int XIL_WriteReg16(WDCDeviceHandle h, uint32_t offset, uint16_t value) {
  return xil_mapped(h) && platform::driver::mmio_write(h->spaces[2].user + offset, 2, value) ? 0 : 1;
}
int XIL_ReadReg32(WDCDeviceHandle h, uint32_t offset, uint32_t *value) {
  uint64_t v = 0;
  if (!xil_mapped(h) || !platform::driver::mmio_read(h->spaces[2].user + offset, 4, &v)) return 1;
  *value = static_cast<uint32_t>(v);
  return 0;
}
int XIL_WriteReg32(WDCDeviceHandle h, uint32_t offset, uint32_t value) {
  return xil_mapped(h) && platform::driver::mmio_write(h->spaces[2].user + offset, 4, value) ? 0 : 1;
}

WDStatus XIL_DMAOpen(WDCDeviceHandle h, void *buffer, uint32_t bytes, int to_device, XILDmaStruct **out) {
  if (!h || !buffer || !out) return kWdInvalidParameter;
  auto *d = static_cast<XILDmaStruct *>(std::calloc(1, sizeof(XILDmaStruct)));
  if (!d) return kWdInsufficientResources;
  const WDStatus st =
      WDC_DMASGBufLock(h, buffer, to_device ? DMA_TO_DEVICE : DMA_FROM_DEVICE, bytes, &d->dma);
  if (st != kWdSuccess) {
    std::free(d);
    return st;
  }
  d->expected = bytes / 4;
  d->to_device = to_device ? 1 : 0;
  *out = d;
  return kWdSuccess;
}

WDStatus XIL_DMAStart(WDCDeviceHandle h, XILDmaStruct *d, uint32_t mode) {
  if (!h || !d) return kWdInvalidParameter;
  WDC_DMASyncCpu(d->dma);
  XIL_WriteReg32(h, kXilAddress, static_cast<uint32_t>(d->dma->page[0].physical));
  XIL_WriteReg32(h, kXilCounter, 0);
  XIL_WriteReg32(h, kXilControl, mode | (d->to_device ? 0x10u : 0u));
  return kWdSuccess;
}

int XIL_DMAIsDone(WDCDeviceHandle h, XILDmaStruct *d) {
  uint32_t counter = 0, control = 0, level = 0;
  if (!d || XIL_ReadReg32(h, kXilCounter, &counter) || XIL_ReadReg32(h, kXilControl, &control) ||
      XIL_ReadReg32(h, kXilLevel, &level))
    return 0;
  return counter == d->expected && (control & 0x3000000u) == 0x3000000u && level >= 512;
}

int XIL_DMAPollCompletion(WDCDeviceHandle h, XILDmaStruct *d, uint32_t expected_ms) {
  if (!h || !d) return 0;
  if (plx_dma_sleep_first && expected_ms >= 1) Sleep(expected_ms);
  const double start = Timer();
  int done = 0;
  while (!(done = XIL_DMAIsDone(h, d))) {
    if (Timer() - start > 1.0) {
      PLX_SetLastErr("Timeout ( 1.0 sec ) in DMA Transfer !!\n");
      break;
    }
    platform::clock::sleep(0.0001);
  }
  WDC_DMASyncIo(d->dma);
  return done;
}

WDStatus XIL_DMAClose(WDCDeviceHandle h, XILDmaStruct *d) {
  if (!d) return kWdInvalidParameter;
  const WDStatus st = WDC_DMABufUnlock(d->dma);
  std::free(d);
  return st;
}

int XIL_DMARdWrBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, int to_device,
                     uint32_t mode) {
  if (bytes == 0) return 1;
  XILDmaStruct *d = nullptr;
  if (XIL_DMAOpen(h, buffer, bytes, to_device, &d) != kWdSuccess) return 0;
  XIL_DMAStart(h, d, mode);
  const int ok = XIL_DMAPollCompletion(h, d, bytes / (to_device ? 140000u : 70000u));
  XIL_DMAClose(h, d);
  return ok;
}

int XIL_DMAReadBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, uint32_t mode) {
  return XIL_DMARdWrBlock(h, local_addr, buffer, bytes, 0, mode);
}
