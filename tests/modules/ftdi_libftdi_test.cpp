// The libftdi1 backend over a fake of the libftdi and libusb calls it makes.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modules/FTDI_func.h"
#include "platform/d2xx/libftdi_backend.h"
#include "platform/win/clock.h"
#include "tests/testsupport/testsupport.h"

namespace {

using platform::d2xx::FtdiApi;

struct FakeDev {
  uint8_t bus = 1;
  std::vector<uint8_t> ports;
  uint16_t bcd = 0x0900;
  std::string description, serial;
  std::string driver;  // of interface 0
  int open_result = 0;
  std::deque<std::vector<uint8_t>> reads;  // what each transfer brings
  std::vector<uint8_t> buffered;           // libftdi's buffer: brought, not yet taken
  std::vector<uint8_t> written;
  int write_result = 0;  // < 0: the write fails
  std::array<uint8_t, 256> eeprom{};
  int eeprom_size = 256;
  int read_calls = 0, tciflush = 0, tcoflush = 0, resets = 0, refs = 0;
  int cycle_result = 0;
};

struct Fake {
  std::vector<FakeDev> devs;
  std::vector<int> find_order;
  std::map<ftdi_context *, FakeDev *> opened;
  int contexts = 0;
} fake;

libusb_device *as_usb(FakeDev *d) { return reinterpret_cast<libusb_device *>(d); }
FakeDev *as_fake(libusb_device *d) { return reinterpret_cast<FakeDev *>(d); }
FakeDev *dev_of(ftdi_context *c) { return fake.opened.count(c) ? fake.opened[c] : nullptr; }

std::string key_of(const FakeDev &d) {
  std::string k = std::to_string(d.bus) + "-";
  for (size_t i = 0; i < d.ports.size(); ++i) k += (i ? "." : "") + std::to_string(d.ports[i]);
  return k;
}

std::shared_ptr<FtdiApi> fake_api() {
  auto api = std::make_shared<FtdiApi>();
  api->new_context = [] {
    ++fake.contexts;
    return new ftdi_context{};
  };
  api->free_context = [](ftdi_context *c) {
    --fake.contexts;
    fake.opened.erase(c);
    delete c;
  };
  api->set_interface = [](ftdi_context *, enum ftdi_interface) { return 0; };
  api->usb_find_all = [](ftdi_context *, ftdi_device_list **head, int, int) {
    ftdi_device_list **tail = head;
    for (int i : fake.find_order) {
      *tail = new ftdi_device_list{nullptr, as_usb(&fake.devs[i])};
      tail = &(*tail)->next;
    }
    return static_cast<int>(fake.find_order.size());
  };
  api->list_free = [](ftdi_device_list **head) {
    while (*head) {
      ftdi_device_list *next = (*head)->next;
      delete *head;
      *head = next;
    }
  };
  api->usb_get_strings = [](ftdi_context *, libusb_device *d, char *, int, char *descr, int dl, char *serial, int sl) {
    snprintf(descr, dl, "%s", as_fake(d)->description.c_str());
    snprintf(serial, sl, "%s", as_fake(d)->serial.c_str());
    return 0;
  };
  api->usb_open_dev = [](ftdi_context *c, libusb_device *d) {
    if (as_fake(d)->open_result < 0) return as_fake(d)->open_result;
    fake.opened[c] = as_fake(d);
    return 0;
  };
  api->usb_close = [](ftdi_context *c) {
    fake.opened.erase(c);
    return 0;
  };
  api->usb_reset = [](ftdi_context *c) { return ++dev_of(c)->resets, 0; };
  api->tciflush = [](ftdi_context *c) { return ++dev_of(c)->tciflush, 0; };
  api->tcoflush = [](ftdi_context *c) { return ++dev_of(c)->tcoflush, 0; };
  // Each transfer brings one entry of reads; libftdi keeps what is beyond the
  // size asked for in its buffer and serves it first.
  api->read_data = [](ftdi_context *c, unsigned char *buf, int size) {
    FakeDev *d = dev_of(c);
    if (d->buffered.empty()) {
      ++d->read_calls;
      if (!d->reads.empty()) {
        d->buffered = d->reads.front();
        d->reads.pop_front();
      }
    }
    const int n = std::min(size, static_cast<int>(d->buffered.size()));
    std::copy(d->buffered.begin(), d->buffered.begin() + n, buf);
    d->buffered.erase(d->buffered.begin(), d->buffered.begin() + n);
    c->readbuffer_remaining = static_cast<unsigned>(d->buffered.size());
    return n;
  };
  api->write_data = [](ftdi_context *c, const unsigned char *buf, int size) {
    FakeDev *d = dev_of(c);
    if (d->write_result < 0) return d->write_result;
    d->written.insert(d->written.end(), buf, buf + size);
    // The MPSSE answers a bad command with 0xFA and the command.
    if (size == 1 && buf[0] == 0xAA) d->reads.push_back({0xFA, 0xAA});
    return size;
  };
  api->set_bitmode = [](ftdi_context *, unsigned char, unsigned char) { return 0; };
  api->read_pins = [](ftdi_context *, unsigned char *p) { return *p = 0x5A, 0; };
  api->set_latency_timer = [](ftdi_context *, unsigned char) { return 0; };
  api->read_data_set_chunksize = [](ftdi_context *, unsigned int) { return 0; };
  api->write_data_set_chunksize = [](ftdi_context *, unsigned int) { return 0; };
  api->set_event_char = [](ftdi_context *, unsigned char, unsigned char) { return 0; };
  api->set_error_char = [](ftdi_context *, unsigned char, unsigned char) { return 0; };
  api->read_eeprom = [](ftdi_context *) { return 0; };
  api->get_eeprom_value = [](ftdi_context *c, enum ftdi_eeprom_value v, int *out) {
    if (v != CHIP_SIZE) return -1;
    *out = dev_of(c)->eeprom_size;
    return 0;
  };
  api->get_eeprom_buf = [](ftdi_context *c, unsigned char *buf, int size) {
    if (size < 256) return -1;
    std::copy(dev_of(c)->eeprom.begin(), dev_of(c)->eeprom.end(), buf);
    return 0;
  };
  api->get_bus_number = [](libusb_device *d) { return as_fake(d)->bus; };
  api->get_port_numbers = [](libusb_device *d, uint8_t *ports, int len) {
    const auto &p = as_fake(d)->ports;
    const int n = std::min(len, static_cast<int>(p.size()));
    std::copy(p.begin(), p.begin() + n, ports);
    return n;
  };
  api->get_device_descriptor = [](libusb_device *d, libusb_device_descriptor *desc) {
    *desc = libusb_device_descriptor{};
    desc->idVendor = 0x0403;
    desc->idProduct = 0x6014;
    desc->bcdDevice = as_fake(d)->bcd;
    return 0;
  };
  api->ref_device = [](libusb_device *d) { return ++as_fake(d)->refs, d; };
  api->unref_device = [](libusb_device *d) { --as_fake(d)->refs; };
  api->reset_device = [](libusb_device_handle *) {
    for (auto &[c, d] : fake.opened) return d->cycle_result;
    return 0;
  };
  api->interface_driver = [](const std::string &key) {
    for (const FakeDev &d : fake.devs)
      if (key_of(d) == key) return d.driver;
    return std::string();
  };
  return api;
}

class Libftdi : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = Fake{};
    fake.devs.reserve(8);
  }
  void TearDown() override {
    platform::d2xx::set_backend(platform::d2xx::make_empty_backend());
    EXPECT_EQ(fake.contexts, 0);
    for (const FakeDev &d : fake.devs) EXPECT_EQ(d.refs, 0);
  }
  FakeDev &add(uint8_t bus, std::vector<uint8_t> ports, const std::string &serial) {
    FakeDev d;
    d.bus = bus;
    d.ports = std::move(ports);
    d.serial = serial;
    d.description = "UM232H Q&V5";
    fake.devs.push_back(d);
    fake.find_order.push_back(static_cast<int>(fake.devs.size()) - 1);
    return fake.devs.back();
  }
  void start() { platform::d2xx::set_backend(platform::d2xx::make_libftdi_backend(fake_api())); }
  FT_HANDLE open(int index) {
    DWORD n = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_Open(index, &h), FT_OK);
    return h;
  }
  testsupport::VirtualClock clock_;
};

TEST_F(Libftdi, ListIsOrderedByBusAndPort) {
  add(2, {1}, "C");
  add(1, {3}, "B");
  add(1, {1, 2}, "A").bcd = 0x0600;
  start();
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  ASSERT_EQ(n, 3u);
  std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(n);
  ASSERT_EQ(FT_GetDeviceInfoList(nodes.data(), &n), FT_OK);
  EXPECT_STREQ(nodes[0].SerialNumber, "A");
  EXPECT_STREQ(nodes[1].SerialNumber, "B");
  EXPECT_STREQ(nodes[2].SerialNumber, "C");
  EXPECT_EQ(nodes[0].Type, FT_DEVICE_232R);
  EXPECT_EQ(nodes[1].Type, FT_DEVICE_232H);
  EXPECT_EQ(nodes[1].Flags, DWORD{FT_FLAGS_HISPEED});
  EXPECT_EQ(nodes[1].ID, 0x04036014u);
  EXPECT_STREQ(nodes[1].Description, "UM232H Q&V5");
  // A second listing gives the same order and keeps no extra references.
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  EXPECT_EQ(fake.devs[0].refs, 1);
}

TEST_F(Libftdi, DeviceHeldByAnotherProcessShowsFlagsOnly) {
  add(1, {1}, "MINE");
  add(1, {2}, "THEIRS").driver = "usbfs";
  start();
  FT_HANDLE h = open(0);
  ASSERT_NE(h, nullptr);
  fake.devs[0].driver = "usbfs";  // what sysfs shows for our own claim too
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(n);
  ASSERT_EQ(FT_GetDeviceInfoList(nodes.data(), &n), FT_OK);
  EXPECT_EQ(nodes[0].Flags & FT_FLAGS_OPENED, 1u);
  EXPECT_STREQ(nodes[0].SerialNumber, "MINE");
  EXPECT_EQ(nodes[0].ftHandle, h);
  EXPECT_EQ(nodes[1].Flags & FT_FLAGS_OPENED, 1u);
  EXPECT_STREQ(nodes[1].SerialNumber, "");
  EXPECT_STREQ(nodes[1].Description, "");
  FT_HANDLE other = nullptr;
  EXPECT_EQ(FT_Open(1, &other), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(FT_Open(0, &other), FT_DEVICE_NOT_OPENED);  // already ours
  EXPECT_EQ(FT_Close(h), FT_OK);
  EXPECT_EQ(FT_Close(h), FT_INVALID_HANDLE);
}

TEST_F(Libftdi, FailedOpenLeavesNothingBehind) {
  add(1, {1}, "A").open_result = -8;  // permissions
  start();
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  FT_HANDLE h = reinterpret_cast<FT_HANDLE>(1);
  EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(FT_Open(5, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(fake.contexts, 1);  // the listing context only
}

TEST_F(Libftdi, ReadLoopsOverShortTransfersUntilItHasTheCount) {
  FakeDev &d = add(1, {1}, "A");
  d.reads = {{}, {1, 2}, {}, {3, 4, 5, 6}};
  start();
  FT_HANDLE h = open(0);
  ASSERT_EQ(FT_SetTimeouts(h, 1000, 1000), FT_OK);
  std::array<UCHAR, 8> buf{};
  DWORD got = 0;
  ASSERT_EQ(FT_Read(h, buf.data(), 5, &got), FT_OK);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(buf[4], 5);
  EXPECT_EQ(d.read_calls, 4);
  DWORD waiting = 0;
  ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);  // the sixth byte waits in our own queue
  EXPECT_EQ(waiting, 1u);
  ASSERT_EQ(FT_Read(h, buf.data(), 1, &got), FT_OK);
  EXPECT_EQ(buf[0], 6);
}

TEST_F(Libftdi, ReadStopsAtItsTimeOutWithAShortCount) {
  FakeDev &d = add(1, {1}, "A");
  d.reads = {{7}};
  start();
  FT_HANDLE h = open(0);
  ASSERT_EQ(FT_SetTimeouts(h, 100, 100), FT_OK);
  const double t0 = platform::clock::now();
  std::array<UCHAR, 4> buf{};
  DWORD got = 9;
  ASSERT_EQ(FT_Read(h, buf.data(), 4, &got), FT_OK);
  EXPECT_EQ(got, 1u);
  EXPECT_GE(platform::clock::now() - t0, 0.1);
  EXPECT_LT(platform::clock::now() - t0, 0.2);
}

TEST_F(Libftdi, QueueStatusTakesOneTransferAndNeverWaits) {
  FakeDev &d = add(1, {1}, "A");
  d.reads = {{}, {9, 8}, {}};
  start();
  FT_HANDLE h = open(0);
  const double t0 = platform::clock::now();
  DWORD waiting = 5;
  ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
  EXPECT_EQ(waiting, 0u);
  // Came back empty: the chip says nothing more before its latency timer (1 ms
  // until one is set) runs out, so a poll before then takes no transfer.
  ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
  EXPECT_EQ(d.read_calls, 1);
  platform::clock::sleep(0.001);
  ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
  EXPECT_EQ(waiting, 2u);
  ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
  EXPECT_EQ(waiting, 2u);
  EXPECT_EQ(d.read_calls, 3);
  EXPECT_EQ(platform::clock::now(), t0 + 0.001);
  ASSERT_EQ(FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
  EXPECT_EQ(waiting, 0u);
  EXPECT_EQ(d.tciflush, 1);
  EXPECT_EQ(d.tcoflush, 1);
}

TEST_F(Libftdi, FailedTransfersAreIoErrors) {
  FakeDev &d = add(1, {1}, "A");
  start();
  FT_HANDLE h = open(0);
  const UCHAR b[2] = {1, 2};
  DWORD written = 0;
  ASSERT_EQ(FT_Write(h, b, 2, &written), FT_OK);
  EXPECT_EQ(written, 2u);
  d.write_result = -1;
  EXPECT_EQ(FT_Write(h, b, 2, &written), FT_IO_ERROR);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(FT_SetLatencyTimer(h, 0), FT_INVALID_PARAMETER);
  LONG port = 0;
  ASSERT_EQ(FT_GetComPortNumber(h, &port), FT_OK);
  EXPECT_EQ(port, -1);
  d.cycle_result = LIBUSB_ERROR_NOT_FOUND;  // the device went to re-enumerate
  EXPECT_EQ(FT_CyclePort(h), FT_OK);
  d.cycle_result = LIBUSB_ERROR_IO;
  EXPECT_EQ(FT_CyclePort(h), FT_IO_ERROR);
}

TEST_F(Libftdi, TransportSynchronisesThroughTheBackend) {
  FakeDev &d = add(1, {4}, "KMV1");
  d.reads = {{}};
  start();
  for (int i = 0; i < FTDI_MAX_DEVICES; ++i) FTDIHandle[i] = nullptr;
  int n = 0;
  ASSERT_EQ(GetFtdiDevices(5, &n), 0);
  ASSERT_EQ(n, 1);
  ASSERT_EQ(OpenDevice(0, 0), 0);
  ASSERT_GE(d.written.size(), 14u);
  EXPECT_EQ(d.written[0], 0xAA);
  EXPECT_EQ(d.written[1], 0x8A);
  EXPECT_EQ(d.resets, 1);
  EXPECT_EQ(CloseDevice(0), 0);
}

TEST_F(Libftdi, UserAreaLiesBehindTheStrings) {
  FakeDev &d = add(1, {1}, "A");
  d.eeprom[0x0E] = 0xA0;  // manufacturer at 0xA0, 18 bytes
  d.eeprom[0x0F] = 0x12;
  d.eeprom[0x10] = 0xB2;  // product, 22 bytes
  d.eeprom[0x11] = 0x16;
  d.eeprom[0x12] = 0xC8;  // serial, 18 bytes: the strings end at 0xDA
  d.eeprom[0x13] = 0x12;
  for (int i = 0; i < 16; ++i) d.eeprom[0xDA + i] = static_cast<uint8_t>(0x30 + i);
  start();
  FT_HANDLE h = open(0);
  DWORD size = 0;
  ASSERT_EQ(FT_EE_UASize(h, &size), FT_OK);
  EXPECT_EQ(size, 0xFEu - 0xDA);
  std::array<UCHAR, 16> ua{};
  DWORD got = 0;
  ASSERT_EQ(FT_EE_UARead(h, ua.data(), 16, &got), FT_OK);
  EXPECT_EQ(got, 16u);
  EXPECT_EQ(ua[0], 0x30);
  EXPECT_EQ(ua[15], 0x3F);
  EXPECT_EQ(FT_EE_UARead(h, ua.data(), 100, &got), FT_INVALID_PARAMETER);
  d.eeprom_size = -1;  // blank EEPROM (the image was read once already)
  EXPECT_EQ(FT_EE_UASize(h, &size), FT_OK);
}

TEST(UserAreaBounds, FromTheStringDescriptors) {
  std::array<uint8_t, 256> img{};
  int b = 0, e = 0;
  EXPECT_FALSE(platform::d2xx::user_area_bounds(img.data(), 256, &b, &e));  // no strings
  img[0x0E] = 0x98;  // a 128-byte image keeps offsets with bit 7 set
  img[0x0F] = 0x10;
  img[0x10] = 0xA8;
  img[0x11] = 0x20;
  ASSERT_TRUE(platform::d2xx::user_area_bounds(img.data(), 128, &b, &e));
  EXPECT_EQ(b, 0x48);
  EXPECT_EQ(e, 0x7E);
  img[0x11] = 0x70;  // strings reaching over the checksum
  EXPECT_FALSE(platform::d2xx::user_area_bounds(img.data(), 128, &b, &e));
  EXPECT_FALSE(platform::d2xx::user_area_bounds(img.data(), 100, &b, &e));
}

TEST(LibftdiLoad, LoadedLibraryFillsTheWholeTable) {
  // Present on a 64-bit build host; absent for the 32-bit build, which then runs without devices.
  auto api = platform::d2xx::load_libftdi_api();
  if (!api) GTEST_SKIP() << "libftdi1 not loadable here";
  EXPECT_NE(api->new_context, nullptr);
  EXPECT_NE(api->reset_device, nullptr);
  EXPECT_TRUE(static_cast<bool>(api->write_eeprom_location));
  EXPECT_TRUE(static_cast<bool>(api->interface_driver));
}

}  // namespace

namespace {

// An FT232H image as D2XX leaves it: strings at 0xA0, a user block behind them.
void fill_d2xx_image(FakeDev &d) {
  std::vector<uint8_t> img(256, 0);
  img[0x00] = 0x11;  // chip settings the product record does not name
  platform::d2xx::ProductRecord r;
  r.description = "UM232H Q&V5";
  r.serial = d.serial;
  std::vector<uint8_t> user(16);
  for (int i = 0; i < 16; ++i) user[i] = static_cast<uint8_t>(0x30 + i);
  ASSERT_TRUE(platform::d2xx::eeprom_layout::lay_out(img, r, user));
  std::copy(img.begin(), img.end(), d.eeprom.begin());
}

std::vector<std::pair<int, int>> eeprom_writes;

void with_word_writes(std::shared_ptr<FtdiApi> &api) {
  api->write_eeprom_location = [](ftdi_context *c, int addr, unsigned short value) {
    eeprom_writes.emplace_back(addr, value);
    dev_of(c)->eeprom[2 * addr] = static_cast<uint8_t>(value & 0xFF);
    dev_of(c)->eeprom[2 * addr + 1] = static_cast<uint8_t>(value >> 8);
    return 0;
  };
}

}  // namespace

TEST_F(Libftdi, ProductRecordIsProgrammedWordByWordKeepingTheRest) {
  FakeDev &d = add(1, {1}, "A1");
  fill_d2xx_image(d);
  eeprom_writes.clear();
  auto api = fake_api();
  with_word_writes(api);
  platform::d2xx::set_backend(platform::d2xx::make_libftdi_backend(api));
  FT_HANDLE h = open(0);
  std::array<char, 32> m{};
  std::array<char, 16> mid{}, ser{};
  std::array<char, 64> descr{};
  FT_PROGRAM_DATA p{FT_EE_SIGNATURE1, FT_EE_SIGNATURE2, 5, 0, 0, m.data(), mid.data(), descr.data(), ser.data(), 0, 0, 0, 0};
  ASSERT_EQ(FT_EE_Read(h, &p), FT_OK);
  EXPECT_STREQ(descr.data(), "UM232H Q&V5");
  std::strcpy(descr.data(), "UM232H Q&V6");
  ASSERT_EQ(FT_EE_Program(h, &p), FT_OK);
  // One character of the description and the checksum changed, nothing else.
  ASSERT_EQ(eeprom_writes.size(), 2u);
  EXPECT_EQ(eeprom_writes.back().first, 127);
  std::vector<uint8_t> img(d.eeprom.begin(), d.eeprom.end());
  EXPECT_TRUE(platform::d2xx::eeprom_layout::checksum_ok(img));
  EXPECT_EQ(img[0], 0x11);
  std::array<UCHAR, 16> ua{};
  DWORD got = 0;
  ASSERT_EQ(FT_EE_UARead(h, ua.data(), 16, &got), FT_OK);  // read afresh after the write
  EXPECT_EQ(ua[15], 0x3F);
  const UCHAR block[2] = {0xAB, 0xCD};
  ASSERT_EQ(FT_EE_UAWrite(h, const_cast<UCHAR *>(block), 2), FT_OK);
  ASSERT_EQ(FT_EE_UARead(h, ua.data(), 2, &got), FT_OK);
  EXPECT_EQ(ua[0], 0xAB);
  EXPECT_EQ(ua[1], 0xCD);
  EXPECT_EQ(CloseDevice(0), -1);
  FT_Close(h);
}

TEST_F(Libftdi, BlankOrUnwritableEepromIsReportedNotCrashedOn) {
  FakeDev &d = add(1, {1}, "A1");
  d.eeprom.fill(0xFF);
  start();  // no word writes in this library
  FT_HANDLE h = open(0);
  std::array<char, 64> descr{};
  FT_PROGRAM_DATA p{FT_EE_SIGNATURE1, FT_EE_SIGNATURE2, 5, 0, 0, nullptr, nullptr, descr.data(), nullptr, 0, 0, 0, 0};
  EXPECT_EQ(FT_EE_Read(h, &p), FT_EEPROM_NOT_PROGRAMMED);
  fill_d2xx_image(fake.devs[0]);
  FT_Close(h);
  h = open(0);
  UCHAR b = 1;
  EXPECT_EQ(FT_EE_UAWrite(h, &b, 1), FT_NOT_SUPPORTED);
  FT_Close(h);
}
