// The module library on the system's libftdi1 over the simulated USB bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "platform/d2xx/ftd2xx.h"
#include "platform/d2xx/sim_backend.h"
#include "platform/win/clock.h"
#include "tests/libusb_sim/libftdi_road_fixture.h"

namespace {

using roadtest::LibftdiRoad;

std::vector<std::string> traffic(sim::FtdiDevice &d) {
  std::vector<std::string> out;
  for (const auto &t : d.i2c().log()) out.push_back(sim::describe(t));
  return out;
}

TEST_F(LibftdiRoad, ListShowsEachChipAsD2xxWould) {
  add_module("KMVA", 1, "KMV-USB-1", "KM0001");
  bus().add_device("FT2232", "Dual RS232-HS", FT_DEVICE_2232H);
  bus().add_device("FT232R", "FT232R USB UART", FT_DEVICE_232R);
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  ASSERT_EQ(n, 3u);
  std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(n);
  ASSERT_EQ(FT_GetDeviceInfoList(nodes.data(), &n), FT_OK);
  struct Row {
    const char *serial, *description;
    DWORD type, id, flags;
  };
  const Row rows[] = {
      {"KMVA", "UM232H Q&V5", FT_DEVICE_232H, 0x04036014, FT_FLAGS_HISPEED},
      {"FT2232", "Dual RS232-HS", FT_DEVICE_2232H, 0x04036010, FT_FLAGS_HISPEED},
      {"FT232R", "FT232R USB UART", FT_DEVICE_232R, 0x04036001, 0},
  };
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(nodes[i].SerialNumber, rows[i].serial);
    EXPECT_STREQ(nodes[i].Description, rows[i].description);
    EXPECT_EQ(nodes[i].Type, rows[i].type);
    EXPECT_EQ(nodes[i].ID, rows[i].id);
    EXPECT_EQ(nodes[i].Flags, rows[i].flags);
  }
  int count = 0;
  EXPECT_EQ(GetFtdiDevices(5, &count), 0);
  EXPECT_EQ(count, 1);
  // Listing reads the strings through a handle of its own and lets it go.
  EXPECT_EQ(usb().open_handles(), 0);
}

TEST_F(LibftdiRoad, SetUpPutsTheChipIntoMpsseAt200kHz) {
  add_module("KMVA", 1, "KMV-USB-1", "KM0001");
  int count = 0;
  ASSERT_EQ(GetFtdiDevices(5, &count), 0);
  ASSERT_EQ(OpenDevice(0, 0), 0);
  sim::FtdiDevice &d = *bus().device("KMVA");
  EXPECT_TRUE(d.is_open());
  EXPECT_EQ(d.bit_mode(), FT_BITMODE_MPSSE);
  EXPECT_EQ(d.clock_divisor(), 0x0095);
  EXPECT_EQ(d.latency_ms(), 16);
  EXPECT_EQ(d.low_value(), 0xFF);
  EXPECT_EQ(d.low_direction(), 0xFB);
  EXPECT_TRUE(d.bad_commands().size() == 1 && d.bad_commands()[0] == 0xAA);
  EXPECT_EQ(CloseDevice(0), 0);
  EXPECT_FALSE(d.is_open());
}

// What the chip saw of one script of register, DAC and EEPROM operations.
struct Seen {
  std::vector<int> results;
  std::vector<unsigned> values;
  std::vector<std::vector<uint8_t>> writes;
  std::vector<std::string> traffic;
  std::vector<uint16_t> latches, dacs;
  std::vector<uint8_t> eeprom_read;
  bool operator==(const Seen &) const = default;
};

Seen run_script(sim::Bus &bus) {
  Seen s;
  sim::FtdiDevice &d = *bus.device("KMVA");
  sim::KmvModule &m = *bus.module("KMVA");
  d.record_calls(true);
  int count = 0;
  s.results.push_back(GetFtdiDevices(5, &count));
  s.results.push_back(OpenDevice(0, 0));
  d.clear_calls();
  d.i2c().clear_log();
  s.results.push_back(KMV_set_register(0, 0, 0x0111));
  s.results.push_back(KMV_set_register(0, 1, 0xE234));
  s.results.push_back(KMV_set_register(0, 3, 0x0000));
  m.set_input_pins(1, 0xABCD);
  m.set_input_pins(3, 0x0005);
  for (int reg : {1, 3}) {
    unsigned short v = 0;
    s.results.push_back(KMV_get_register(0, reg, &v));
    s.values.push_back(v);
  }
  s.results.push_back(KMV_set_dac_chan(0, 3, 4095));
  s.results.push_back(KMV_set_dac_chan(0, 7, 819));
  const uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  s.results.push_back(KMV_WriteUserEEP(0, bytes, 250, 10));
  s.eeprom_read.resize(59);
  int done = 0;
  s.results.push_back(KMV_ReadUserEEP(0, s.eeprom_read.data(), 0, 49, &done, 0));
  s.values.push_back(static_cast<unsigned>(done));
  s.results.push_back(KMV_ReadUserEEP(0, s.eeprom_read.data() + 49, 250, 10, &done, 0));
  s.values.push_back(static_cast<unsigned>(done));
  for (const auto &c : d.calls())
    if (c.op == "write") s.writes.push_back(c.data);
  s.traffic = traffic(d);
  for (int r = 0; r < 4; ++r) s.latches.push_back(m.register_latch(r));
  for (int c = 0; c < 16; ++c) s.dacs.push_back(m.dac_output(c));
  return s;
}

TEST_F(LibftdiRoad, RegisterDacAndEepromTrafficIsWhatTheD2xxRoadSends) {
  add_module("KMVA", 1, "KMV-USB-1", "KM0001");
  const Seen road = run_script(bus());
  EXPECT_EQ(road.results, std::vector<int>(road.results.size(), 0));
  EXPECT_EQ(road.values, (std::vector<unsigned>{0xE23D, 0x0005, 49, 10}));
  EXPECT_EQ(road.latches, (std::vector<uint16_t>{0x0111, 0xE23F, 0xFFFF, 0xFFFF}));
  EXPECT_EQ(road.dacs[3], 4095);
  EXPECT_EQ(road.dacs[7], 819);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(road.eeprom_read.data())), "KMV-USB-1");
  EXPECT_EQ(road.eeprom_read[49], 1);
  EXPECT_EQ(road.eeprom_read[58], 10);
  EXPECT_TRUE(bus().module("KMVA")->bus().violations().empty());

  // The same script through the simulated D2XX layer, on the same module after a power cycle.
  simtest::reset_all();
  bus().unplug("KMVA");
  bus().replug("KMVA", -1, true);
  platform::d2xx::set_backend(platform::d2xx::make_sim_backend(shared_bus()));
  const Seen reference = run_script(bus());
  EXPECT_FALSE(road.writes.empty());
  EXPECT_FALSE(road.traffic.empty());
  EXPECT_EQ(road.writes, reference.writes);
  EXPECT_EQ(road.traffic, reference.traffic);
  EXPECT_EQ(road, reference);
}


// Replies of many packets: libftdi strips the two status bytes of each packet.
TEST_F(LibftdiRoad, LongRepliesArriveWholeAcrossPackets) {
  bus().add_module("KMVA");
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  FT_HANDLE h = nullptr;
  ASSERT_EQ(FT_Open(0, &h), FT_OK);
  ASSERT_EQ(FT_SetTimeouts(h, 1000, 1000), FT_OK);
  ASSERT_EQ(FT_SetBitMode(h, 0, FT_BITMODE_MPSSE), FT_OK);
  // 1500 pin reads of ACBUS, whose value is set first: 1500 reply bytes of 0xA5.
  std::vector<UCHAR> cmd = {0x82, 0xA5, 0xFF};
  cmd.insert(cmd.end(), 1500, 0x83);
  cmd.push_back(0x87);
  DWORD written = 0;
  ASSERT_EQ(FT_Write(h, cmd.data(), static_cast<DWORD>(cmd.size()), &written), FT_OK);
  EXPECT_EQ(written, cmd.size());
  std::vector<UCHAR> got(1600, 0);
  DWORD received = 0;
  ASSERT_EQ(FT_Read(h, got.data(), 1500, &received), FT_OK);
  ASSERT_EQ(received, 1500u);
  EXPECT_EQ(std::count(got.begin(), got.begin() + 1500, 0xA5), 1500);
  // Three full packets and a short one; none of the status bytes came through.
  EXPECT_GE(usb().counts("KMVA").packets_in, 3u);
  DWORD waiting = 9;
  ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
  EXPECT_EQ(waiting, 0u);
  EXPECT_EQ(FT_Close(h), FT_OK);
}

// libftdi's read goes on until it has the size asked for or a packet comes
// empty, which the chip sends only when its latency timer runs out: a poll
// that asked for more than was there waited 16 ms for every reply.
TEST_F(LibftdiRoad, RepliesAreTakenWithoutWaitingForTheLatencyTimer) {
  add_module("KMVA", 1, "KMV-USB-1", "KM0001");
  int count = 0;
  ASSERT_EQ(GetFtdiDevices(5, &count), 0);
  ASSERT_EQ(OpenDevice(0, 0), 0);
  usb().clear_counts();
  const double t0 = platform::clock::now();
  ASSERT_EQ(KMV_set_register(0, 0, 0x1111), 0);
  // Six primitives of 1 ms each; the three acknowledges come at once.
  EXPECT_LT(platform::clock::now() - t0, 0.010);
  const sim::UsbCounts c = usb().counts("KMVA");
  EXPECT_EQ(c.bulk_out, 6u);
  EXPECT_EQ(c.bulk_in, 3u);
  EXPECT_EQ(c.empty_in, 0u);
  EXPECT_EQ(c.bytes_in, 3u);
}

// A reply that never comes: the transport polls 500 times 1 ms apart. An empty
// transfer waits for the chip's latency timer, and polls made before it runs
// out again would each wait as long (16 ms): 8 s instead of D2XX's half second.
TEST_F(LibftdiRoad, AMissingReplyIsGivenUpAfterTheTransportsPolls) {
  add_module("KMVA", 1, "KMV-USB-1", "KM0001");
  int count = 0;
  ASSERT_EQ(GetFtdiDevices(5, &count), 0);
  ASSERT_EQ(OpenDevice(0, 0), 0);
  bus().device("KMVA")->withhold_replies(1);
  usb().clear_counts();
  const double t0 = platform::clock::now();
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), -1);
  EXPECT_LT(platform::clock::now() - t0, 0.6);
  // One transfer per latency period, not one per poll.
  EXPECT_LE(usb().counts("KMVA").bulk_in, 40u);
  // The next one goes through.
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), 0);
  EXPECT_EQ(bus().register_latch("KMVA", 0), 0x1111);
}

}  // namespace
