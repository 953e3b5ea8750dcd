// PLX interrupts and events.
#include <cstring>

#include "pci/plx_lib.h"
#include "pci/wdc_internal.h"

namespace {

constexpr uint32_t kDmaCmdStatus[2] = {0xA8, 0xA9};  // 9054 channel command/status bytes
constexpr uint32_t kDmaMode[2] = {0x80, 0x94};

#define PLX_DEV_ARGS(ctx, h) static_cast<unsigned long>((ctx)->vendor), static_cast<unsigned long>((ctx)->device), \
                             reinterpret_cast<uintptr_t>(h)

// Read and write commands on space 0 in the form its kind needs.
WDTransfer reg_command(WDCDeviceHandle h, uint32_t offset, bool write, uint32_t bytes) {
  WDTransfer t;
  std::memset(&t, 0, sizeof t);
  const bool memory = h->spaces[0].is_memory != 0;
  t.address = h->spaces[0].kernel + offset;
  t.command = WDTransferCommand(memory, false, write, bytes);
  return t;
}

void fill_result(WDCDeviceHandle h, PLXDeviceContext *ctx, PLXIntResult *r) {
  std::memset(r, 0, sizeof *r);
  r->count = h->interrupt.count;
  r->lost = h->interrupt.lost;
  r->stopped = h->interrupt.wait_status == kIntWaitStopped;
  if (ctx->int_pos_intcsr < ctx->int_commands.size()) r->intcsr = ctx->int_commands[ctx->int_pos_intcsr].data.u32;
  if (ctx->int_pos_dma < ctx->int_commands.size())
    r->dma_status = ctx->int_commands[ctx->int_pos_dma].data.u8;
}

void plx_int_handler(void *data) {
  auto h = static_cast<WDCDeviceHandle>(data);
  auto *ctx = static_cast<PLXDeviceContext *>(WDC_GetDevContext(h));
  if (!ctx || !ctx->int_handler) return;
  PLXIntResult r;
  fill_result(h, ctx, &r);
  ctx->int_handler(h, &r);
}

void plx_int_handler_dma(void *data) {
  auto h = static_cast<WDCDeviceHandle>(data);
  auto *ctx = static_cast<PLXDeviceContext *>(WDC_GetDevContext(h));
  if (!ctx || !ctx->int_handler) return;
  if (ctx->int_dma) WDC_DMASyncIo(ctx->int_dma->dma);
  PLXIntResult r;
  fill_result(h, ctx, &r);
  ctx->int_handler(h, &r);
}

WDStatus int_enable_dma(WDCDeviceHandle h, PLXDeviceContext *ctx, PLXDmaStruct *dma) {
  if (!dma || !dma->dma) {
    PLX_SetLastErr("IntEnableDma: Error - %s (Device handle 0x" WD_PTR_FMT ", DMA handle 0x" WD_PTR_FMT ")\n",
                   !dma ? "NULL DMA handle (pData)" : "DMA is not open", reinterpret_cast<uintptr_t>(h),
                   reinterpret_cast<uintptr_t>(dma));
    return kWdInvalidParameter;
  }
  const uint32_t ch = dma->channel ? 1 : 0;
  ctx->int_commands.assign(4, WDTransfer{});
  ctx->int_commands[0] = reg_command(h, ctx->intcsr, false, 4);
  ctx->int_commands[1].command = kCmdMask;
  ctx->int_commands[1].data.u64 = 0xF0E020;  // the interrupt-source bits
  ctx->int_commands[2] = reg_command(h, kDmaCmdStatus[ch], false, 1);
  ctx->int_commands[3] = reg_command(h, kDmaCmdStatus[ch], true, 1);
  ctx->int_commands[3].data.u8 = 8;  // clear the channel's interrupt
  ctx->int_pos_intcsr = 0;
  ctx->int_pos_dma = 2;
  ctx->int_dma = dma;
  const WDStatus st = WDC_IntEnable(h, ctx->int_commands.data(), 4, kIntCopyOption, plx_int_handler_dma, h, 0);
  if (st != kWdSuccess) {
    PLX_SetLastErr("IntEnableDma: Failed enabling interrupts (vid 0x%lX did 0x%lX, handle 0x" WD_PTR_FMT
                   ").\nError 0x%lx - %s\n",
                   PLX_DEV_ARGS(ctx, h), static_cast<unsigned long>(st), Stat2Str(st));
    ctx->int_commands.clear();
    ctx->int_dma = nullptr;
    return st;
  }
  // The bridge's PCI interrupt and the channel's interrupt in INTCSR, the
  // done interrupt routed to PCI in the channel's mode: what the disable clears.
  uint32_t v = 0;
  WDC_ReadAddr32(h, 0, ctx->intcsr, &v);
  WDC_WriteAddr32(h, 0, ctx->intcsr, v | 0x100u | (ch ? 0x80000u : 0x40000u));
  WDC_ReadAddr32(h, 0, kDmaMode[ch], &v);
  WDC_WriteAddr32(h, 0, kDmaMode[ch], v | 0x20400u);
  return kWdSuccess;
}

void plx_event_handler(WDEvent *event, void *data) {
  auto h = static_cast<WDCDeviceHandle>(data);
  auto *ctx = static_cast<PLXDeviceContext *>(WDC_GetDevContext(h));
  if (ctx && ctx->event_handler && event) ctx->event_handler(h, event->action);
}

}  // namespace

PLXDeviceContext *PLX_Context(const char *operation, WDCDeviceHandle handle) {
  if (!handle) {
    PLX_SetLastErr("%s: NULL device %s\n", operation, "handle");
    return nullptr;
  }
  auto *ctx = static_cast<PLXDeviceContext *>(WDC_GetDevContext(handle));
  if (!ctx) PLX_SetLastErr("%s: NULL device %s\n", operation, "context");
  return ctx;
}

WDStatus PLX_IntEnable(WDCDeviceHandle h, PLX_INT_HANDLER handler, PLXDmaStruct *dma) {
  PLXDeviceContext *ctx = PLX_Context("PLX_IntEnable", h);
  if (!ctx) return kWdInvalidParameter;
  if (WDC_IntIsEnabled(h)) {
    PLX_SetLastErr("Interrupts are already enabled ...\n");
    return kWdAlreadyDone;
  }
  ctx->int_handler = handler;
  if (ctx->master) return int_enable_dma(h, ctx, dma);

  uint16_t intcsr = 0;
  WDStatus st = WDC_ReadAddr16(h, 0, ctx->intcsr, &intcsr);
  if (st != kWdSuccess) {
    PLX_SetLastErr("IntEnable: Failed reading from the INTCSR register (vid 0x%lX did 0x%lX, handle 0x" WD_PTR_FMT
                   ")\nError 0x%lx - %s\n",
                   PLX_DEV_ARGS(ctx, h), static_cast<unsigned long>(st), Stat2Str(st));
    return st;
  }
  ctx->int_commands.assign(3, WDTransfer{});
  ctx->int_commands[0] = reg_command(h, ctx->intcsr, false, 2);
  ctx->int_commands[1].command = kCmdMask;
  ctx->int_commands[1].data.u64 = 0x24;  // local interrupt 1 and 2 active
  ctx->int_commands[2] = reg_command(h, ctx->intcsr, true, 2);
  ctx->int_commands[2].data.u16 = static_cast<uint16_t>(intcsr & ~0x500u);
  ctx->int_pos_intcsr = 0;
  ctx->int_pos_dma = 0xFF;
  st = WDC_IntEnable(h, ctx->int_commands.data(), 3, kIntCopyOption, plx_int_handler, h, 0);
  if (st != kWdSuccess) {
    PLX_SetLastErr("IntEnable: Failed enabling interrupts (vid 0x%lX did 0x%lX, handle 0x" WD_PTR_FMT
                   ").\nError 0x%lx - %s\n",
                   PLX_DEV_ARGS(ctx, h), static_cast<unsigned long>(st), Stat2Str(st));
    ctx->int_commands.clear();
    return st;
  }
  st = WDC_WriteAddr16(h, 0, ctx->intcsr, static_cast<uint16_t>(intcsr | 0x500u));
  if (st != kWdSuccess) {
    PLX_SetLastErr("IntEnable: Faild writing to the INTCSR register to physically enable the interrupts on the board "
                   "(vid 0x%lX did 0x%lX, handle 0x" WD_PTR_FMT ")\nError 0x%lx - %s\n",
                   PLX_DEV_ARGS(ctx, h), static_cast<unsigned long>(st), Stat2Str(st));
    // the board cannot interrupt: do not leave a wait thread behind
    WDC_IntDisable(h);
    ctx->int_commands.clear();
    return st;
  }
  return kWdSuccess;
}

WDStatus PLX_IntDisable(WDCDeviceHandle h) {
  PLXDeviceContext *ctx = PLX_Context("PLX_IntDisable", h);
  if (!ctx) return kWdInvalidParameter;
  if (!WDC_IntIsEnabled(h)) {
    PLX_SetLastErr("Interrupts are already disabled ...\n");
    return kWdAlreadyDone;
  }
  if (ctx->master) {
    uint32_t v = 0;
    if (WDC_ReadAddr32(h, 0, ctx->intcsr, &v) == kWdSuccess) WDC_WriteAddr32(h, 0, ctx->intcsr, v & ~0xC0100u);
    for (uint32_t reg : kDmaMode)
      if (WDC_ReadAddr32(h, 0, reg, &v) == kWdSuccess) WDC_WriteAddr32(h, 0, reg, v & ~0x400u);
  } else {
    uint16_t v = 0;
    if (WDC_ReadAddr16(h, 0, ctx->intcsr, &v) == kWdSuccess)
      WDC_WriteAddr16(h, 0, ctx->intcsr, static_cast<uint16_t>(v & 0xFAFFu));
  }
  const WDStatus st = WDC_IntDisable(h);
  ctx->int_commands.clear();
  ctx->int_dma = nullptr;
  return st;
}

int PLX_IntIsEnabled(WDCDeviceHandle h) {
  if (!PLX_Context("PLX_IntIsEnabled", h)) return 0;
  return WDC_IntIsEnabled(h);
}

WDStatus PLX_EventRegister(WDCDeviceHandle h, PLX_EVENT_HANDLER handler) {
  PLXDeviceContext *ctx = PLX_Context("PLX_EventRegister", h);
  if (!ctx) return kWdInvalidParameter;
  if (WDC_EventIsRegistered(h)) {
    PLX_SetLastErr("Events are already registered ...\n");
    return kWdAlreadyDone;
  }
  ctx->event_handler = handler;
  const WDStatus st = WDC_EventRegister(h, 0x3BF3, plx_event_handler, h, 0);
  if (st != kWdSuccess)
    PLX_SetLastErr("Failed to register events. Error 0x%lx - %s\n", static_cast<unsigned long>(st), Stat2Str(st));
  return st;
}

WDStatus PLX_EventUnregister(WDCDeviceHandle h) {
  if (!PLX_Context("PLX_EventUnregister", h)) return kWdInvalidParameter;
  if (!WDC_EventIsRegistered(h)) {
    PLX_SetLastErr("Cannot unregister events - no events currently registered...\n");
    return kWdAlreadyDone;
  }
  return WDC_EventUnregister(h);
}

int PLX_EventIsRegistered(WDCDeviceHandle h) {
  if (!PLX_Context("PLX_EventIsRegistered", h)) return 0;
  return WDC_EventIsRegistered(h);
}
