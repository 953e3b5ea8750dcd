#pragma once
// The kernel driver's control interface: status word, control codes and the
// records exchanged with the driver. The records are wire formats; every size
// and offset below is checked at compile time.
//
// Two interfaces share these definitions: the 32-bit one (trq_32) and the
// 64-bit one (trq_32x64), chosen by the build's pointer width. The 64-bit one
// numbers every function 0x400 higher and widens kernel addresses and ports.
// User-mode pointers stay 32 bits in both: they carry a user address as the
// driver device layer hands it out (platform/driver/user_addr.h).
#include <cstddef>
#include <cstdint>

#include "pci/wd_types.h"

#if UINTPTR_MAX > 0xFFFFFFFFu
#define WD_KERNEL64 1
#else
#define WD_KERNEL64 0
#endif

typedef uint32_t WDStatus;

// Status codes (texts: Stat2Str).
enum : WDStatus {
  kWdSuccess = 0x00000000u,
  kWdNoDriverHandle = 0xFFFFFFFFu,
  kWdError = 0x20000000u,
  kWdInvalidHandle = 0x20000001u,
  kWdInsufficientResources = 0x20000005u,
  kWdInternalError = 0x20000007u,
  kWdNotImplemented = 0x2000000Au,
  kWdKernelPlugInFailure = 0x2000000Bu,
  kWdResourceOverlap = 0x2000000Eu,
  kWdDeviceNotFound = 0x2000000Fu,
  kWdAlreadyDone = 0x20000011u,
  kWdTimeout = 0x20000015u,
  kWdNoEvents = 0x2000001Au,
  kWdInvalidParameter = 0x2000001Bu,
  kWdIncorrectVersion = 0x2000001Cu,
  kWdInvalidIoctl = 0x2000001Fu,
  kWdOperationFailed = 0x20000020u,
};

// Addresses the driver gives in kernel terms (ports, kernel mappings).
#if WD_KERNEL64
typedef uint64_t WDKernelAddr;
#else
typedef uint32_t WDKernelAddr;
#endif
// A user-mode address in a record: 32 bits in both interfaces.
typedef uint32_t WDUserAddr;

// ---- control codes ----

constexpr uint32_t kWdFunctionBias = WD_KERNEL64 ? 0x400u : 0u;
// Device type 0x9538, access 0, transfer method 3 (the driver works on the
// caller's record in place).
constexpr uint32_t WDCode(uint32_t function) { return 0x95380003u + (function + kWdFunctionBias) * 4u; }
// The function number of a code of this build's interface (for logs).
constexpr uint32_t WDFunction(uint32_t code) { return ((code - 0x95380003u) / 4u) - kWdFunctionBias; }

enum : uint32_t {
  kWdFnDmaUnlock = 0x902,
  kWdFnVersion = 0x910,
  kWdFnPciConfig = 0x91A,
  kWdFnKpOpen = 0x91B,
  kWdFnKpClose = 0x91C,
  kWdFnKpCall = 0x91D,
  kWdFnSleep = 0x927,
  kWdFnDebugText = 0x964,
  kWdFnTransfer = 0x98C,
  kWdFnMultiTransfer = 0x98D,
  kWdFnCleanupSetup = 0x995,
  kWdFnPcmciaScan = 0x996,
  kWdFnPcmciaConfig = 0x998,
  kWdFnPcmciaControl = 0x99B,
  kWdFnDmaSyncCpu = 0x99F,
  kWdFnDmaSyncIo = 0x9A0,
  kWdFnPciScan = 0x9A3,
  kWdFnIntEnable = 0x9B6,
  kWdFnIntWait = 0x9B9,
  kWdFnIntDisable = 0x9BB,
  kWdFnDmaLock = 0x9BE,
  kWdFnPciScanCaps = 0x9E5,
  kWdFnCardRegister = 0x9E6,
  kWdFnCardUnregister = 0x9E7,
  kWdFnPciCardInfo = 0x9E8,
  kWdFnPcmciaCardInfo = 0x9EA,
  kWdFnEventRegister = 0x9EF,
  kWdFnEventUnregister = 0x9F0,
  kWdFnEventPull = 0x9F1,
  kWdFnEventSend = 0x9F2,
};

static_assert(WDCode(kWdFnVersion) == (WD_KERNEL64 ? 0x95383443u : 0x95382443u));
static_assert(WDCode(kWdFnPciConfig) == (WD_KERNEL64 ? 0x9538346Bu : 0x9538246Bu));
static_assert(WDCode(kWdFnKpClose) == (WD_KERNEL64 ? 0x95383473u : 0x95382473u));
static_assert(WDCode(kWdFnSleep) == (WD_KERNEL64 ? 0x9538349Fu : 0x9538249Fu));
static_assert(WDCode(kWdFnDebugText) == (WD_KERNEL64 ? 0x95383593u : 0x95382593u));
static_assert(WDCode(kWdFnTransfer) == (WD_KERNEL64 ? 0x95383633u : 0x95382633u));
static_assert(WDCode(kWdFnMultiTransfer) == (WD_KERNEL64 ? 0x95383637u : 0x95382637u));
static_assert(WDCode(kWdFnPciScan) == (WD_KERNEL64 ? 0x9538368Fu : 0x9538268Fu));
static_assert(WDCode(kWdFnCardRegister) == (WD_KERNEL64 ? 0x9538379Bu : 0x9538279Bu));
static_assert(WDCode(kWdFnCardUnregister) == (WD_KERNEL64 ? 0x9538379Fu : 0x9538279Fu));
static_assert(WDCode(kWdFnPciCardInfo) == (WD_KERNEL64 ? 0x953837A3u : 0x953827A3u));
static_assert(WDFunction(WDCode(kWdFnEventSend)) == kWdFnEventSend);

// ---- transfer commands (R/W read/write, port or memory, single or block) ----

enum : uint32_t {
  kCmdNone = 0,
  // Interrupt commands only: the interrupt is the card's when the value last
  // read AND the data is non-zero; else the remaining commands are skipped.
  kCmdMask = 1,
  kCmdReadPort8 = 10, kCmdReadPort16 = 11, kCmdReadPort32 = 12,
  kCmdWritePort8 = 13, kCmdWritePort16 = 14, kCmdWritePort32 = 15,
  kCmdReadPort64 = 16, kCmdWritePort64 = 17,
  kCmdReadPortBlock8 = 20, kCmdReadPortBlock16 = 21, kCmdReadPortBlock32 = 22,
  kCmdWritePortBlock8 = 23, kCmdWritePortBlock16 = 24, kCmdWritePortBlock32 = 25,
  kCmdReadPortBlock64 = 26, kCmdWritePortBlock64 = 27,
  kCmdReadMem8 = 30, kCmdReadMem16 = 31, kCmdReadMem32 = 32,
  kCmdWriteMem8 = 33, kCmdWriteMem16 = 34, kCmdWriteMem32 = 35,
  kCmdReadMem64 = 36, kCmdWriteMem64 = 37,
  kCmdReadMemBlock8 = 40, kCmdReadMemBlock16 = 41, kCmdReadMemBlock32 = 42,
  kCmdWriteMemBlock8 = 43, kCmdWriteMemBlock16 = 44, kCmdWriteMemBlock32 = 45,
  kCmdReadMemBlock64 = 46, kCmdWriteMemBlock64 = 47,
};

// The command for an access of `bytes` (1, 2, 4, 8); 0 for any other size.
uint32_t WDTransferCommand(bool memory, bool block, bool write, uint32_t bytes);

// ---- records ----

struct WDVersion {
  uint32_t number;  // 1230 for 12.3
  char text[128];
};
static_assert(sizeof(WDVersion) == 132);
static_assert(offsetof(WDVersion, text) == 4);

struct WDPciSlot {
  uint32_t bus;
  uint32_t slot;  // device number
  uint32_t function;
};
static_assert(sizeof(WDPciSlot) == 12);
static_assert(offsetof(WDPciSlot, slot) == 4 && offsetof(WDPciSlot, function) == 8);

struct WDPciId {
  uint32_t vendor;
  uint32_t device;
};
static_assert(sizeof(WDPciId) == 8);

constexpr uint32_t kWdMaxScan = 100;

// Scan options.
enum : uint32_t { kWdScanPlain = 0, kWdScanTopology = 1, kWdScanRegistered = 2 };

struct WDPciScanResult {
  uint32_t search_vendor;  // 0 any
  uint32_t search_device;  // 0 any
  uint32_t count;          // written by the driver
  WDPciId ids[kWdMaxScan];
  WDPciSlot slots[kWdMaxScan];
  uint32_t options;
};
static_assert(sizeof(WDPciScanResult) == 2016);
static_assert(offsetof(WDPciScanResult, search_device) == 4 && offsetof(WDPciScanResult, count) == 8);
static_assert(offsetof(WDPciScanResult, ids) == 12 && offsetof(WDPciScanResult, slots) == 812);
static_assert(offsetof(WDPciScanResult, options) == 2012);

struct WDPciConfigAccess {
  WDPciSlot slot;
  WDUserAddr buffer;  // the caller's data
  uint32_t offset;
  uint32_t bytes;
  uint32_t read;    // 1 read, 0 write
  uint32_t result;  // non-zero: failed (written by the driver)
};
static_assert(sizeof(WDPciConfigAccess) == 32);
static_assert(offsetof(WDPciConfigAccess, buffer) == 12 && offsetof(WDPciConfigAccess, offset) == 16);
static_assert(offsetof(WDPciConfigAccess, bytes) == 20 && offsetof(WDPciConfigAccess, read) == 24);
static_assert(offsetof(WDPciConfigAccess, result) == 28);

// Card item kinds and bus types.
enum : uint32_t { kItemInterrupt = 1, kItemMemory = 2, kItemIo = 3, kItemBus = 5 };
enum : uint32_t { kBusIsa = 1, kBusPci = 5, kBusPcmcia = 8 };

#pragma pack(push, 4)
struct WDCardItem {
  uint32_t item;          // kItem*
  uint32_t not_sharable;
  union {
    struct {
      uint32_t bus_type;  // kBus*
      uint32_t reserved[9 + 2 * WD_KERNEL64];
    } bus;
    struct {
      uint64_t physical;
      uint64_t length;
      WDKernelAddr kernel;
      WDUserAddr user;  // the process's mapping
      uint32_t bar;
      uint32_t options;
      uint32_t reserved[2 + WD_KERNEL64];
    } mem;
    struct {
      WDKernelAddr port;
      uint32_t length;
      uint32_t bar;
    } io;
    struct {
      uint32_t number;
      uint32_t options;
      uint32_t handle;
    } interrupt;
  } u;
};
#pragma pack(pop)
static_assert(sizeof(WDCardItem) == (WD_KERNEL64 ? 56 : 48));
static_assert(offsetof(WDCardItem, not_sharable) == 4 && offsetof(WDCardItem, u) == 8);
static_assert(offsetof(WDCardItem, u.bus.bus_type) == 8);
static_assert(offsetof(WDCardItem, u.mem.physical) == 8 && offsetof(WDCardItem, u.mem.length) == 16);
static_assert(offsetof(WDCardItem, u.mem.kernel) == 24);
static_assert(offsetof(WDCardItem, u.mem.user) == (WD_KERNEL64 ? 32 : 28));
static_assert(offsetof(WDCardItem, u.mem.bar) == (WD_KERNEL64 ? 36 : 32));
static_assert(offsetof(WDCardItem, u.mem.options) == (WD_KERNEL64 ? 40 : 36));
static_assert(offsetof(WDCardItem, u.mem.reserved) == (WD_KERNEL64 ? 44 : 40));
static_assert(offsetof(WDCardItem, u.io.port) == 8);
static_assert(offsetof(WDCardItem, u.io.length) == (WD_KERNEL64 ? 16 : 12));
static_assert(offsetof(WDCardItem, u.io.bar) == (WD_KERNEL64 ? 20 : 16));
static_assert(offsetof(WDCardItem, u.interrupt.number) == 8 && offsetof(WDCardItem, u.interrupt.options) == 12);
static_assert(offsetof(WDCardItem, u.interrupt.handle) == 16);

constexpr uint32_t kWdMaxItems = 20;

#pragma pack(push, 4)
struct WDCard {
  uint32_t count;  // at most kWdMaxItems
  uint32_t reserved;
  WDCardItem items[kWdMaxItems];
};

struct WDPciCardInfo {
  WDPciSlot slot;
  uint32_t reserved;
  WDCard card;
};

struct WDCardRegister {
  WDCard card;
  uint32_t check_lock_only;
  uint32_t handle;  // non-zero once registered
  uint32_t options;
  char text[132];
};
#pragma pack(pop)
static_assert(sizeof(WDCard) == (WD_KERNEL64 ? 1128 : 968));
static_assert(offsetof(WDCard, items) == 8);
static_assert(sizeof(WDPciCardInfo) == (WD_KERNEL64 ? 1144 : 984));
static_assert(offsetof(WDPciCardInfo, reserved) == 12 && offsetof(WDPciCardInfo, card) == 16);
static_assert(sizeof(WDCardRegister) == (WD_KERNEL64 ? 1272 : 1112));
static_assert(offsetof(WDCardRegister, check_lock_only) == (WD_KERNEL64 ? 1128 : 968));
static_assert(offsetof(WDCardRegister, handle) == (WD_KERNEL64 ? 1132 : 972));
static_assert(offsetof(WDCardRegister, options) == (WD_KERNEL64 ? 1136 : 976));
static_assert(offsetof(WDCardRegister, text) == (WD_KERNEL64 ? 1140 : 980));

#pragma pack(push, 4)
struct WDTransfer {
  WDKernelAddr address;  // port or kernel address
  uint32_t command;
  uint32_t bytes;  // block commands
  uint32_t auto_increment;
  uint32_t options;
#if !WD_KERNEL64
  uint32_t reserved;
#endif
  union {
    uint8_t u8;
    uint16_t u16;
    uint32_t u32;
    uint64_t u64;
    WDUserAddr buffer;  // block commands
  } data;
};
#pragma pack(pop)
static_assert(sizeof(WDTransfer) == 32);
static_assert(offsetof(WDTransfer, command) == (WD_KERNEL64 ? 8 : 4));
static_assert(offsetof(WDTransfer, bytes) == (WD_KERNEL64 ? 12 : 8));
static_assert(offsetof(WDTransfer, auto_increment) == (WD_KERNEL64 ? 16 : 12));
static_assert(offsetof(WDTransfer, options) == (WD_KERNEL64 ? 20 : 16));
static_assert(offsetof(WDTransfer, data) == 24);

enum : uint32_t { kWdDebugLevelError = 1, kWdDebugLevelTrace = 4, kWdDebugSectionAll = 0xFFFFFFFFu };

struct WDDebugText {
  char text[256];  // at most 254 characters
  uint32_t level;
  uint32_t section;
};
static_assert(sizeof(WDDebugText) == 264);
static_assert(offsetof(WDDebugText, level) == 256 && offsetof(WDDebugText, section) == 260);

struct WDSleep {
  uint32_t microseconds;
  uint32_t options;
};
static_assert(sizeof(WDSleep) == 8 && offsetof(WDSleep, options) == 4);

// A kernel plug-in handle (zero when none).
struct WDKernelPlugIn {
  uint32_t handle;
  WDUserAddr driver_name;
  WDUserAddr driver_path;
  WDUserAddr open_data;
};
static_assert(sizeof(WDKernelPlugIn) == 16);

// Interrupt type bits of the interrupt options.
enum : uint32_t {
  kIntLevelSensitive = 0x01,
  kIntMsi = 0x10,
  kIntMsix = 0x20,
  kIntTypeMask = 0x31,
  kIntCopyOption = 0x02,
};
// Wait results in WDInterrupt::wait_status.
enum : uint32_t { kIntWaitOk = 0, kIntWaitStopped = 1, kIntWaitLost = 2 };

struct WDInterrupt {
  uint32_t handle;
  uint32_t options;
  WDUserAddr commands;  // WDTransfer array run by the driver at interrupt time
  uint32_t command_count;
  uint32_t kp_handle;
  uint32_t count;  // interrupts seen
  uint32_t lost;   // interrupts the waiter missed
  uint32_t enabled_type;
  uint32_t last_message;
  uint32_t wait_status;  // kIntWait*
  uint32_t reserved[4];
};
static_assert(sizeof(WDInterrupt) == 56);
static_assert(offsetof(WDInterrupt, commands) == 8 && offsetof(WDInterrupt, wait_status) == 36);

// One event's record: the fixed part (62 bytes) and up to 10-byte match entries.
#pragma pack(push, 1)
struct WDEventMatch {
  uint16_t vendor;
  uint16_t device;
  uint16_t bus;
  uint16_t slot;
  uint16_t function;
};
struct WDEvent {
  uint32_t handle;
  uint32_t action;  // the actions asked for, or the one that happened
  uint32_t status;
  uint32_t kind;     // 1 PCI, 2 PCMCIA, 3 USB
  uint32_t options;  // bit 0: a reply is expected
  uint32_t kp_handle;
  uint32_t vendor;
  uint32_t device;
  WDPciSlot slot;
  uint32_t unique_id;
  uint32_t reserved[3];
  uint16_t match_count;
  WDEventMatch matches[1];
};
#pragma pack(pop)
static_assert(offsetof(WDEvent, matches) == 62);
static_assert(sizeof(WDEventMatch) == 10);
constexpr uint32_t WDEventSize(uint32_t matches) { return 62 + 10 * matches; }
