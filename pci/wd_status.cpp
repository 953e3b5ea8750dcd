// Status texts and transfer commands.
#include <iterator>

#include "pci/wdc_driver.h"

namespace {

struct StatusText {
  WDStatus code;
  const char *text;
};

// Searched in this order, first match wins (so 0 is never "USBD: Success").
constexpr StatusText kStatusTexts[] = {
    {0x00000000u, "Success"},
    {0xFFFFFFFFu, "Invalid WinDriver handle"},
    {0x20000000u, "Error"},
    {0x20000001u, "Invalid handle"},
    {0x20000002u, "Invalid pipe number"},
    {0x20000003u, "Conflict between read and write operations"},
    {0x20000004u, "Packet size is zero"},
    {0x20000005u, "Insufficient resources"},
    {0x20000006u, "Unknown pipe type"},
    {0x20000007u, "Internal system error"},
    {0x20000008u, "Data mismatch"},
    {0x2000000Au, "Function not implemented"},
    {0x2000000Bu, "Kernel PlugIn failure"},
    {0x2000000Cu, "Failed enabling interrupt"},
    {0x2000000Du, "Interrupt not enabled"},
    {0x2000000Eu, "Resource overlap"},
    {0x2000000Fu, "Device not found"},
    {0x20000010u, "Wrong unique ID"},
    {0x20000011u, "Operation already done"},
    {0x20000012u, "Usb descriptor error"},
    {0x20000013u, "Set configuration operation failed"},
    {0x20000014u, "Cannot obtain PDO"},
    {0x20000015u, "Timeout expired"},
    {0x20000016u, "IRP operation canceled"},
    {0x20000017u, "Failed to map in user space"},
    {0x20000018u, "Failed to map in kernel space"},
    {0x20000019u, "No resources on the device"},
    {0x2000001Au, "No events"},
    {0x2000001Bu, "Invalid parameter"},
    {0x2000001Cu, "Incorrect WinDriver version installed"},
    {0x2000001Du, "Try again"},
    {0x2000001Eu, "Failed open WinDriver"},
    {0x2000001Fu, "Received an invalid IOCTL"},
    {0x20000020u, "Operation failed"},
    {0x20000021u, "Received an invalid 32bit IOCTL"},
    {0x20000022u, "No room to add handle"},
    {0x20000023u, "Driver not installed"},
    {0x00000000u, "USBD: Success"},
    {0x40000000u, "USBD: Operation pending"},
    {0x80000000u, "USBD: Error"},
    {0xC0000000u, "USBD: Halted"},
    {0xC0000001u, "HC status: CRC"},
    {0xC0000002u, "HC status: Bit stuffing "},
    {0xC0000003u, "HC status: Data toggle mismatch"},
    {0xC0000004u, "HC status: PID stall"},
    {0xC0000005u, "HC status: Device not responding"},
    {0xC0000006u, "HC status: PID check failed"},
    {0xC0000007u, "HC status: Unexpected PID"},
    {0xC0000008u, "HC status: Data overrun"},
    {0xC0000009u, "HC status: Data underrun"},
    {0xC000000Au, "HC status: Reserved1"},
    {0xC000000Bu, "HC status: Reserved2"},
    {0xC000000Cu, "HC status: Buffer overrun"},
    {0xC000000Du, "HC status: Buffer Underrun"},
    {0xC000000Fu, "HC status: Not accessed"},
    {0xC0000010u, "HC status: Fifo"},
    {0xC0000011u,
     "HC status: The host controller has set the Transaction Error (XactErr) bit in the transfer descriptor's "
     "status field"},
    {0xC0000012u, "HC status: Babble detected"},
    {0xC0000013u, "HC status: Data buffer error"},
    {0xC0010000u, "USBD: Transfer canceled"},
    {0xC0000030u, "HCD: Transfer submitted to a stalled endpoint"},
    {0x80000100u, "USBD: Out of memory"},
    {0x80000200u, "USBD: Invalid URB function"},
    {0x80000300u, "USBD: Invalid parameter"},
    {0x80000400u, "USBD: Attempted to close enpoint/interface/configuration with outstanding transfer"},
    {0x80000500u, "USBD: URB request failed"},
    {0x80000600u, "USBD: Invalid pipe handle"},
    {0x80000700u, "USBD: Not enough bandwidth for endpoint"},
    {0x80000800u, "USBD: Host controller error"},
    {0x80000900u, "USBD: Trasnfer terminated with short packet"},
    {0xC0000A00u, "USBD: Start frame outside range"},
    {0xC0000B00u, "HCD: Isochronous transfer completed with error"},
    {0xC0000C00u, "USBD: Frame length control already taken"},
    {0xC0000D00u, "USBD: Attemped operation on frame length control not owned by caller"},
    {0xC0000E00u, "USBD: API not supported/implemented"},
    {0xC0000F00u, "USBD: Invalid configuration descriptor"},
    {0xC0001000u, "USBD: Insufficient resources"},
    {0xC0002000u, "USBD: Set configuration failed"},
    {0xC0003000u, "USBD: Buffer too small"},
    {0xC0004000u, "USBD: Interface not found"},
    {0xC0005000u, "USBD: Invalid pipe flags"},
    {0xC0006000u, "USBD: Timeout"},
    {0xC0007000u, "USBD: Device gone"},
    {0xC0008000u, "USBD: Status not mapped"},
    {0xC0020000u, "USBD: The controller did not access the TD associated with this packe"},
    {0xC0030000u, "USBD: Controller reported an error in the TD"},
    {0xC0040000u, "USBD: The packet was submitted in time by the client but failed to reach the miniport in time"},
    {0xC0050000u, "USBD: The packet was not sent because the client submitted it too late to transmit"},
};
static_assert(std::size(kStatusTexts) == 37 + 51);

}  // namespace

const char *Stat2Str(WDStatus status) {
  for (const StatusText &s : kStatusTexts)
    if (s.code == status) return s.text;
  return "Unrecognized error code";
}

uint32_t WDTransferCommand(bool memory, bool block, bool write, uint32_t bytes) {
  uint32_t index;
  switch (bytes) {
    case 1: index = write ? 3 : 0; break;
    case 2: index = write ? 4 : 1; break;
    case 4: index = write ? 5 : 2; break;
    case 8: index = write ? 7 : 6; break;
    default: return kCmdNone;
  }
  return (memory ? 30 : 10) + (block ? 10 : 0) + index;
}
