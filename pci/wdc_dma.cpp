// DMA buffers of the card layer: a record per buffer, locked and unlocked by
// the driver, synchronised around transfers.
#include <cstdlib>
#include <cstring>

#include "pci/wdc_services.h"
#include "platform/driver/user_addr.h"

namespace {

// What the library keeps beside the driver's record.
struct DmaHolder {
  WDDma rec;          // first: the caller's WDDma* points here
  void *owned;        // a buffer the library allocated
  uint32_t user;      // the buffer's user address while locked
};

WDStatus lock(WDCDeviceHandle h, void *buffer, bool owned, uint32_t options, uint32_t bytes, WDDma **dma) {
  auto *d = static_cast<DmaHolder *>(std::calloc(1, sizeof(DmaHolder)));
  if (!d) {
    WDC_Err("Failed allocating memory for a DMA struct\n");
    if (owned) std::free(buffer);
    return kWdInsufficientResources;
  }
  d->owned = owned ? buffer : nullptr;
  d->user = platform::driver::user_addr_register(buffer, bytes);
  d->rec.user = d->user;
  d->rec.bytes = bytes;
  d->rec.options = options;
  const WDStatus st = driver_ioctl(WDCode(kWdFnDmaLock), WDC_GetWDHandle(), &d->rec, sizeof d->rec, 0);
  if (st != kWdSuccess) {
    platform::driver::user_addr_release(d->user);
    std::free(d->owned);
    std::free(d);
    return st;
  }
  *dma = &d->rec;
  return kWdSuccess;
}

bool check_pointers(WDDma **dma, const void *buffer_ptr) {
  if (!dma) {
    WdcSetLastErrStr("Error - %s\n", "NULL address of DMA struct pointer");
    return false;
  }
  if (!buffer_ptr) {
    WdcSetLastErrStr("Error - %s\n", "NULL address of DMA buffer pointer");
    return false;
  }
  return true;
}

WDStatus alloc_and_lock(WDCDeviceHandle h, void **buffer, uint32_t options, uint32_t bytes, WDDma **dma) {
  if (!h) {
    WdcSetLastErrStr("Error - %s\n", "Invalid device handle");
    return kWdInvalidParameter;
  }
  if (!check_pointers(dma, buffer)) return kWdInvalidParameter;
  void *mem = nullptr;
  if (bytes == 0 || posix_memalign(&mem, GetPageSize(), bytes) != 0) {
    WDC_Err("Failed allocating memory for a DMA struct\n");
    return kWdInsufficientResources;
  }
  std::memset(mem, 0, bytes);
  const WDStatus st = lock(h, mem, true, options | DMA_KERNEL_BUFFER_ALLOC, bytes, dma);
  if (st == kWdSuccess) *buffer = mem;
  return st;
}

}  // namespace

WDStatus WDC_DMAContigBufLock(WDCDeviceHandle h, void **buffer, uint32_t options, uint32_t bytes, WDDma **dma) {
  return alloc_and_lock(h, buffer, options, bytes, dma);
}

WDStatus WDC_SharedBufferAlloc(WDCDeviceHandle h, uint32_t bytes, uint32_t options, void **buffer, WDDma **dma) {
  return alloc_and_lock(h, buffer, options, bytes, dma);
}

WDStatus WDC_DMASGBufLock(WDCDeviceHandle h, void *buffer, uint32_t options, uint32_t bytes, WDDma **dma) {
  if (!h) {
    WdcSetLastErrStr("Error - %s\n", "Invalid device handle");
    return kWdInvalidParameter;
  }
  if (!check_pointers(dma, buffer)) return kWdInvalidParameter;
  if (options & DMA_KERNEL_BUFFER_ALLOC) {
    WDC_Err(
        "WDC_DMASGBufLock: Error - The DMA_KERNEL_BUFFER_ALLOC flag should not be set when locking a Scatter/Gather "
        "DMA buffer\n");
    return kWdInvalidParameter;
  }
  return lock(h, buffer, false, options, bytes, dma);
}

WDStatus WDC_DMABufUnlock(WDDma *dma) {
  if (!dma) return kWdInvalidParameter;
  auto *d = reinterpret_cast<DmaHolder *>(dma);
  const WDStatus st = driver_ioctl(WDCode(kWdFnDmaUnlock), WDC_GetWDHandle(), &d->rec, sizeof d->rec, 0);
  platform::driver::user_addr_release(d->user);
  std::free(d->owned);
  std::free(d);
  return st;
}

WDStatus WDC_DMASyncCpu(WDDma *dma) {
  if (!dma) return kWdInvalidParameter;
  return driver_ioctl(WDCode(kWdFnDmaSyncCpu), WDC_GetWDHandle(), dma, sizeof *dma, 0);
}

WDStatus WDC_DMASyncIo(WDDma *dma) {
  if (!dma) return kWdInvalidParameter;
  return driver_ioctl(WDCode(kWdFnDmaSyncIo), WDC_GetWDHandle(), dma, sizeof *dma, 0);
}
