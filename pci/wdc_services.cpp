// Card-layer services: the other scans, bus type, interrupts with their wait
// thread, events, kernel plug-ins and the card clean-up request.
#include "pci/wdc_services.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "pci/wdc_internal.h"
#include "platform/driver/user_addr.h"

using platform::driver::user_addr_register;
using platform::driver::user_addr_release;

namespace {

WDStatus bad_handle() {
  WdcSetLastErrStr("Error - %s\n", "Invalid device handle");
  return kWdInvalidParameter;
}

// ---- interrupts ----

struct InterruptState : WDCInterruptThread {
  uint32_t commands_addr = 0;  // the commands' user address while enabled
};

void interrupt_wait_thread(void *data) {
  auto *s = static_cast<InterruptState *>(data);
  for (;;) {
    // its own handle, so the wait blocks independently of the process's one
    driver_ioctl(WDCode(kWdFnIntWait), s->driver, s->rec, sizeof *s->rec, 1);
    if (s->rec->wait_status == kIntWaitStopped) break;
    if (s->rec->wait_status == kIntWaitLost) continue;
    s->handler(s->data);
  }
}

}  // namespace

WDStatus InterruptEnable(WDCInterruptThread **state, WDDriverHandle driver, WDInterrupt *rec, INT_HANDLER handler,
                         void *data) {
  auto s = std::make_unique<InterruptState>();
  s->driver = driver;
  s->handler = handler;
  s->data = data;
  s->rec = rec;
  WDStatus st = driver_ioctl(WDCode(kWdFnIntEnable), driver, rec, sizeof *rec, 0);
  if (st != kWdSuccess) return st;
  st = ThreadStart(&s->thread, interrupt_wait_thread, s.get());
  if (st != kWdSuccess) {
    driver_ioctl(WDCode(kWdFnIntDisable), driver, rec, sizeof *rec, 0);
    return st;
  }
  *state = s.release();
  return kWdSuccess;
}

WDStatus InterruptDisable(WDCInterruptThread *state) {
  std::unique_ptr<InterruptState> s(static_cast<InterruptState *>(state));
  if (!s) return kWdInvalidParameter;
  // releases the waiting thread with "stopped"
  const WDStatus st = driver_ioctl(WDCode(kWdFnIntDisable), s->driver, s->rec, sizeof *s->rec, 0);
  ThreadWait(s->thread);
  user_addr_release(s->commands_addr);
  return st;
}

WDStatus WDC_IntEnable(WDCDeviceHandle h, WDTransfer *commands, uint32_t count, uint32_t options,
                       INT_HANDLER handler, void *data, int use_kernel_plugin) {
  WDC_Trace("WDC_IntEnable: Entered\n");
  if (!h) return bad_handle();
  if (!handler) {
    WDC_Err("Error - NULL event handler callback function\n");
    WdcSetLastErrStr("Error - %s\n", "NULL event handler callback function");
    return kWdInvalidParameter;
  }
  if (h->int_enabled) {
    WDC_Err("WDC_IntEnable: Interrupt is already enabled\n");
    return kWdAlreadyDone;
  }
  if (!h->interrupt.handle) {
    WDC_Err("WDC_IntEnable: Error - No interrupt handle\n");
    return kWdInvalidParameter;
  }
  if (use_kernel_plugin && !h->kp.handle) {
    WDC_Err("WDC_IntEnable: Error - No Kernel PlugIn handle\n");
    return kWdInvalidParameter;
  }
  if (count && !commands) {
    WDC_Err("WDC_IntEnable: Error - No interrupt transfer commands (expecting %ld commands)\n",
            static_cast<long>(count));
    return kWdInvalidParameter;
  }
  uint32_t type = h->interrupt.options & kIntTypeMask;
  if (options & kIntTypeMask) {
    const uint32_t wanted = options & kIntTypeMask;
    // level-sensitive INTx is what every PCI card offers; MSI forms only when listed
    if ((wanted & ~(h->interrupt.options & kIntTypeMask)) != 0) {
      WDC_Err("WDC_IntEnable: Error - selected interrupt type is not supported by device\n");
      return kWdInvalidParameter;
    }
    type = wanted;
  }
  WDInterrupt &rec = h->interrupt;
  rec.options = (h->interrupt.options & ~kIntTypeMask) | type | (options & ~kIntTypeMask);
  rec.kp_handle = use_kernel_plugin ? h->kp.handle : 0;
  rec.command_count = count;
  rec.wait_status = kIntWaitOk;
  const uint32_t commands_addr = count ? user_addr_register(commands, size_t{count} * sizeof(WDTransfer)) : 0;
  rec.commands = commands_addr;
  WDCInterruptThread *state = nullptr;
  const WDStatus st = InterruptEnable(&state, WDC_GetWDHandle(), &rec, handler, data);
  if (st != kWdSuccess) {
    user_addr_release(commands_addr);
    rec.commands = 0;
    WDC_Err("WDC_IntEnable: Failed enabling interrupt.\nError 0x%lx - %s\n", static_cast<unsigned long>(st),
            Stat2Str(st));
    return st;
  }
  static_cast<InterruptState *>(state)->commands_addr = commands_addr;
  h->int_commands = commands;
  h->int_command_count = count;
  h->int_thread.reset(state);
  h->int_enabled = true;
  WDC_Trace("WDC_IntEnable: Interrupt enabled successfully\n");
  return kWdSuccess;
}

WDStatus WDC_IntDisable(WDCDeviceHandle h) {
  if (!h) return bad_handle();
  if (!h->int_enabled) {
    WDC_Err("WDC_IntDisable: Interrupt is already disabled\n");
    return kWdAlreadyDone;
  }
  const WDStatus st = InterruptDisable(h->int_thread.release());
  h->int_enabled = false;
  h->int_commands = nullptr;
  h->int_command_count = 0;
  h->interrupt.commands = 0;
  return st;
}

int WDC_IntIsEnabled(WDCDeviceHandle h) { return h && h->int_enabled ? 1 : 0; }

const char *WDC_IntType2Str(uint32_t type) {
  switch (type) {
    case 0: return "Edge-Triggered Interrupt";
    case kIntLevelSensitive: return "Level-Sensitive Interrupt";
    case kIntMsi: return "Message-Signaled Interrupt (MSI)";
    case kIntMsix: return "Extended Message-Signaled Interrupt (MSI-X)";
    default: return "Unknown";
  }
}

// ---- scans and bus type ----

WDStatus WDC_PciScanDevicesByTopology(uint32_t vendor, uint32_t device, WDCPciScanResult *result) {
  return WDC_PciScanWithOptions(vendor, device, result, kWdScanTopology);
}

WDStatus WDC_PciScanRegisteredDevices(uint32_t vendor, uint32_t device, WDCPciScanResult *result) {
  return WDC_PciScanWithOptions(vendor, device, result, kWdScanRegistered);
}

namespace {

// The capability-scan record (ours: the driver's layout is not given).
struct WDPciScanCaps {
  WDPciSlot slot;
  uint32_t cap_id;
  uint32_t options;
  uint32_t count;
  struct {
    uint32_t id;
    uint32_t offset;
  } caps[100];
};
static_assert(sizeof(WDPciScanCaps) == 824);

}  // namespace

WDStatus WDC_PciScanCapsWithOptions(WDCDeviceHandle h, uint32_t cap_id, WDCPciScanCapsResult *result,
                                    uint32_t options) {
  if (!h) return bad_handle();
  if (!result) {
    WdcSetLastErrStr("Error - %s\n", "NULL pointer to capabilities scan results struct");
    return kWdInvalidParameter;
  }
  if (options != 1 && options != 2) {
    WDC_Err("PCIScanCaps: Error. Invalid dwOptions [0x%lx]\n", static_cast<unsigned long>(options));
    return kWdInvalidParameter;
  }
  auto rec = std::make_unique<WDPciScanCaps>();
  std::memset(rec.get(), 0, sizeof *rec);
  rec->slot = h->slot;
  rec->cap_id = cap_id;
  rec->options = options;
  const WDStatus st = driver_ioctl(WDCode(kWdFnPciScanCaps), WDC_GetWDHandle(), rec.get(), sizeof *rec, 0);
  if (st != kWdSuccess) {
    WDC_Err("PCIScanCaps: Failed scanning PCI capabilities. Error 0x%lx - %s\n", static_cast<unsigned long>(st),
            Stat2Str(st));
    return st;
  }
  std::memset(result, 0, sizeof *result);
  result->count = std::min<uint32_t>(rec->count, 100);
  for (uint32_t i = 0; i < result->count; ++i) {
    result->caps[i].id = rec->caps[i].id;
    result->caps[i].offset = rec->caps[i].offset;
  }
  WDC_Trace("PCIScanCaps: PCI capabilities scanned successfully.\nFound [%ld] matching capabilities\n",
            static_cast<long>(result->count));
  return kWdSuccess;
}

WDStatus WDC_PciScanCaps(WDCDeviceHandle h, uint32_t cap_id, WDCPciScanCapsResult *result) {
  return WDC_PciScanCapsWithOptions(h, cap_id, result, 1);
}

WDStatus WDC_PciScanExtCaps(WDCDeviceHandle h, uint32_t cap_id, WDCPciScanCapsResult *result) {
  return WDC_PciScanCapsWithOptions(h, cap_id, result, 2);
}

uint32_t WDC_GetBusType(WDCDeviceHandle h) {
  if (!h || h->card.card.count == 0) return 0;
  // the bus item's bus-type word (the item type word would read 5 for every bus)
  return h->card.card.items[0].u.bus.bus_type;
}

// ---- kernel plug-in and clean-up ----

namespace {

struct WDKernelPlugInCall {
  uint32_t handle;
  uint32_t message;
  WDUserAddr data;
  uint32_t result;
};
static_assert(sizeof(WDKernelPlugInCall) == 16);

struct WDCleanupSetup {
  uint32_t card;
  WDUserAddr commands;
  uint32_t count;
  uint32_t options;
};
static_assert(sizeof(WDCleanupSetup) == 16);

}  // namespace

WDStatus WDC_KernelPlugInOpen(WDCDeviceHandle h, const char *driver_name, void *data) {
  if (!h) return bad_handle();
  if (!driver_name || !*driver_name) {
    WDC_Err("Error - Empty Kernel-Plugin driver name\n");
    WdcSetLastErrStr("Error - %s\n", "Empty Kernel-Plugin driver name");
    return kWdInvalidParameter;
  }
  platform::driver::UserBuffer name(const_cast<char *>(driver_name), std::strlen(driver_name) + 1);
  platform::driver::UserBuffer open_data(data, data ? 1 : 0);
  WDKernelPlugIn rec{};
  rec.driver_name = name.addr();
  rec.open_data = open_data.addr();
  const WDStatus st = driver_ioctl(WDCode(kWdFnKpOpen), WDC_GetWDHandle(), &rec, sizeof rec, 0);
  if (st != kWdSuccess) {
    WDC_Err("Failed opening a Kernel PlugIn handle. Error 0x%lx - %s\n", static_cast<unsigned long>(st),
            Stat2Str(st));
    return st;
  }
  rec.driver_name = rec.open_data = 0;  // the request's addresses die with it
  h->kp = rec;
  h->kp_data = data;
  return kWdSuccess;
}

WDStatus WDC_CallKerPlug(WDCDeviceHandle h, uint32_t message, void *data, uint32_t *result) {
  if (!h) return bad_handle();
  platform::driver::UserBuffer buf(data, data ? 1 : 0);
  WDKernelPlugInCall rec{h->kp.handle, message, buf.addr(), 0};
  const WDStatus st = driver_ioctl(WDCode(kWdFnKpCall), WDC_GetWDHandle(), &rec, sizeof rec, 0);
  if (st != kWdSuccess) {
    WDC_Err("WDC_CallKerPlug: Failed sending 0x%lx message to the Kernel PlugIn (%s). Error 0x%lx - %s\n",
            static_cast<unsigned long>(message), "", static_cast<unsigned long>(st), Stat2Str(st));
    return st;
  }
  if (result) *result = rec.result;
  return kWdSuccess;
}

WDStatus WDC_CardCleanupSetup(WDCDeviceHandle h, WDTransfer *commands, uint32_t count, uint32_t options) {
  if (!h) return bad_handle();
  platform::driver::UserBuffer buf(commands, size_t{count} * sizeof(WDTransfer));
  WDCleanupSetup rec{h->card.handle, buf.addr(), count, options};
  return driver_ioctl(WDCode(kWdFnCleanupSetup), WDC_GetWDHandle(), &rec, sizeof rec, 0);
}

// ---- event records ----

WDEvent *EventAlloc(uint32_t matches) {
  const size_t bytes = std::max<size_t>(sizeof(WDEvent), WDEventSize(matches));
  auto *e = static_cast<WDEvent *>(std::calloc(1, bytes));
  return e;
}

void EventFree(WDEvent *event) { std::free(event); }

WDEvent *EventDup(const WDEvent *event) {
  if (!event) return nullptr;
  WDEvent *copy = EventAlloc(event->match_count);
  if (copy) std::memcpy(copy, event, WDEventSize(event->match_count ? event->match_count : 1));
  return copy;
}

namespace {

WDEvent *make_event(uint32_t kind, uint32_t vendor, uint32_t device, uint32_t options, uint32_t actions) {
  WDEvent *e = EventAlloc(1);
  if (!e) return nullptr;
  e->kind = kind;
  e->vendor = vendor;
  e->device = device;
  e->options = options;
  e->action = actions;
  e->match_count = 1;
  e->matches[0].vendor = static_cast<uint16_t>(vendor);
  e->matches[0].device = static_cast<uint16_t>(device);
  return e;
}

}  // namespace

WDEvent *PciEventCreate(uint32_t vendor, uint32_t device, const WDPciSlot *slot, uint32_t options, uint32_t actions) {
  WDEvent *e = make_event(1, vendor, device, options, actions);
  if (e && slot) {
    e->slot = *slot;
    e->matches[0].bus = static_cast<uint16_t>(slot->bus);
    e->matches[0].slot = static_cast<uint16_t>(slot->slot);
    e->matches[0].function = static_cast<uint16_t>(slot->function);
  }
  return e;
}

WDEvent *PcmciaEventCreate(uint32_t manufacturer, uint32_t card, uint32_t options, uint32_t actions) {
  return make_event(2, manufacturer, card, options, actions);
}

WDEvent *UsbEventCreate(uint32_t vendor, uint32_t product, uint32_t options, uint32_t actions) {
  return make_event(3, vendor, product, options, actions);
}

void *HSWatchAlloc(void) { return std::calloc(1, 32); }
void HSWatchFree(void *watch) { std::free(watch); }
int HSConfigurePci(WDEvent *) { return 1; }

// ---- events ----

namespace {

void event_pull(void *data) {
  auto *s = static_cast<WDCEventState *>(data);
  WDEvent *e = EventAlloc(1);
  if (!e) return;
  e->handle = s->handle;
  if (driver_ioctl(WDCode(kWdFnEventPull), s->pull ? s->pull->driver : WDC_GetWDHandle(), e, WDEventSize(1), 0) ==
      kWdSuccess) {
    if (e->kind == 1 && (e->action == 2 || e->action == 9)) HSConfigurePci(e);
    if (e->action && s->handler) s->handler(e, s->data);
    if (e->options & 1) driver_ioctl(WDCode(kWdFnEventSend), WDC_GetWDHandle(), e, WDEventSize(1), 0);
  }
  EventFree(e);
}

}  // namespace

WDStatus WDC_EventRegister(WDCDeviceHandle h, uint32_t actions, EVENT_HANDLER handler, void *data,
                           int use_kernel_plugin) {
  if (!h || !handler) {
    WDC_Err("Error - NULL event handler callback function");
    return !h ? bad_handle() : kWdInvalidParameter;
  }
  if (!actions) {
    WDC_Err("WDC_EventRegister: Error - No events actions were set\n");
    return kWdInvalidParameter;
  }
  if (h->events) {
    WDC_Err("WDC_EventRegister: Event already registered\n");
    return kWdAlreadyDone;
  }
  if (use_kernel_plugin && !h->kp.handle) {
    WDC_Err("WDC_EventRegister: Error - Device does not use a Kernel PlugIn\n");
    return kWdInvalidParameter;
  }
  auto s = std::make_unique<WDCEventState>();
  s->handler = handler;
  s->data = data;
  WDEvent *filled = PciEventCreate(h->vendor, h->device, &h->slot, 0, actions);
  if (!filled) return kWdInsufficientResources;
  if (WDC_GetBusType(h) != kBusPci) filled->kind = WDC_GetBusType(h) == kBusPcmcia ? 2 : 0;
  filled->kp_handle = use_kernel_plugin ? h->kp.handle : 0;
  s->record.assign(reinterpret_cast<uint8_t *>(filled), reinterpret_cast<uint8_t *>(filled) + WDEventSize(1));
  EventFree(filled);
  WDStatus st = driver_ioctl(WDCode(kWdFnEventRegister), WDC_GetWDHandle(), s->record.data(),
                             static_cast<uint32_t>(s->record.size()), 0);
  if (st == kWdSuccess) {
    std::memcpy(&s->handle, s->record.data(), sizeof s->handle);
    s->interrupt.handle = s->handle;
    st = InterruptEnable(&s->pull, WDC_GetWDHandle(), &s->interrupt, event_pull, s.get());
    if (st != kWdSuccess)
      driver_ioctl(WDCode(kWdFnEventUnregister), WDC_GetWDHandle(), s->record.data(),
                   static_cast<uint32_t>(s->record.size()), 0);
  }
  if (st != kWdSuccess) {
    WDC_Err("WDC_EventRegister: Failed to register event.\nError 0x%lx - %s\n", static_cast<unsigned long>(st),
            Stat2Str(st));
    return st;
  }
  WDC_Trace("WDC_EventRegister: Events registered successfully. event handle 0x%lx\n",
            static_cast<unsigned long>(s->handle));
  h->events = std::move(s);
  return kWdSuccess;
}

WDStatus WDC_EventUnregister(WDCDeviceHandle h) {
  if (!h) return bad_handle();
  if (!h->events) {
    WDC_Err("WDC_EventUnregister: Events are not registered\n");
    return kWdAlreadyDone;
  }
  std::unique_ptr<WDCEventState> s = std::move(h->events);
  const WDStatus st_int = InterruptDisable(s->pull);
  const WDStatus st = driver_ioctl(WDCode(kWdFnEventUnregister), WDC_GetWDHandle(), s->record.data(),
                                   static_cast<uint32_t>(s->record.size()), 0);
  return st_int != kWdSuccess ? st_int : st;
}

int WDC_EventIsRegistered(WDCDeviceHandle h) { return h && h->events ? 1 : 0; }
