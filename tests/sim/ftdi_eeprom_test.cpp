// The simulated FTDI chip's EEPROM: the image D2XX and libftdi1 read, word by word.
#include <gtest/gtest.h>

#include <string>

#include "platform/d2xx/eeprom_layout.h"
#include "platform/d2xx/ftd2xx.h"
#include "sim/bus.h"

namespace {

namespace layout = platform::d2xx::eeprom_layout;
using platform::d2xx::ProductRecord;

// The string descriptor k as the image holds it, read the way a USB host would.
std::string descriptor_text(const std::vector<uint8_t> &img, int k) {
  std::string s;
  EXPECT_TRUE(layout::read_string(img, k, &s));
  return s;
}

TEST(SimEeprom, ImageCarriesTheChipsIdentityAndUserBlock) {
  struct Case {
    uint32_t type;
    int size;
    int strings_at;
  };
  for (const Case c : {Case{8, 256, 0xA0}, Case{5, 128, 0x18}}) {
    SCOPED_TRACE(c.type);
    sim::Bus bus;
    sim::FtdiDevice &d = bus.add_device("FT123456", "FT245R USB FIFO Q&V1", c.type);
    d.set_user_block(0x0102);
    const std::vector<uint8_t> img = d.eeprom_image();
    ASSERT_EQ(static_cast<int>(img.size()), c.size);
    EXPECT_EQ(d.eeprom_words(), c.size / 2);
    EXPECT_TRUE(layout::checksum_ok(img));
    EXPECT_EQ(descriptor_text(img, 0), "FTDI");
    EXPECT_EQ(descriptor_text(img, 1), "FT245R USB FIFO Q&V1");
    EXPECT_EQ(descriptor_text(img, 2), "FT123456");
    EXPECT_EQ(layout::word_at(img, 2), d.id() >> 16);
    EXPECT_EQ(layout::word_at(img, 4), d.id() & 0xFFFF);
    int b = 0, e = 0;
    ASSERT_TRUE(layout::user_area(img, &b, &e));
    EXPECT_EQ(b, c.strings_at + 10 + 42 + 18);
    EXPECT_EQ(e, c.size - 2);
    EXPECT_EQ(static_cast<int>(d.user_area().size()), e - b);
    EXPECT_EQ(img[b + 2], 0x02);  // the module number sits in the image
    EXPECT_EQ(img[b + 3], 0x01);
  }
}

TEST(SimEeprom, UserBytesChangedThroughTheVectorReachTheImage) {
  sim::Bus bus;
  bus.add_module("K1");
  sim::FtdiDevice *dev = bus.device("K1");
  dev->user_area()[5] = 0x77;
  int b = 0, e = 0;
  ASSERT_TRUE(layout::user_area(dev->eeprom_image(), &b, &e));
  EXPECT_EQ(dev->eeprom_read_word((b + 4) / 2) >> 8 * ((b + 5) % 2) & 0xFF, 0x77);
  EXPECT_TRUE(layout::checksum_ok(dev->eeprom_image()));
}

TEST(SimEeprom, WordWritesShowInTheUserAreaAtOnceAndInTheDescriptionAfterPowerOn) {
  sim::Bus bus;
  bus.add_module("K1");
  sim::FtdiDevice &d = *bus.device("K1");
  // Program a new record into a copy, then write it word by word as a host would.
  std::vector<uint8_t> img = d.eeprom_image();
  ProductRecord r;
  ASSERT_TRUE(layout::decode(img, &r));
  r.description = "UM232H Q&V1";
  std::vector<uint8_t> user = d.user_area();
  user[0] = 0x42;
  ASSERT_TRUE(layout::lay_out(img, r, user));
  for (int w = 0; w < d.eeprom_words(); ++w) d.eeprom_write_word(w, layout::word_at(img, 2 * w));
  EXPECT_EQ(d.user_area()[0], 0x42);
  EXPECT_EQ(d.description(), "UM232H Q&V5");  // read at enumeration only
  ASSERT_EQ(d.open(), FT_OK);
  ASSERT_EQ(d.cycle_port(), FT_OK);
  EXPECT_EQ(d.description(), "UM232H Q&V1");
  // A damaged image leaves the chip's identity as it was.
  d.eeprom_write_word(0x10, 0x1234);
  bus.unplug("K1");
  bus.replug("K1");
  EXPECT_EQ(d.description(), "UM232H Q&V1");
  d.eeprom_erase();
  EXPECT_TRUE(d.user_area().empty());
  uint32_t size = 1;
  EXPECT_EQ(d.ua_size(&size), FT_OK);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(d.eeprom_read_word(0), 0xFFFF);
  EXPECT_EQ(d.eeprom_read_word(d.eeprom_words()), 0xFFFF);  // addresses wrap
}

TEST(SimEeprom, ProgrammingKeepsTheUserAreaAndRefusesStringsThatDoNotFit) {
  sim::Bus bus;
  bus.add_module("K1", sim::ModuleOptions{"UM232H Q&V5", 0x0304, true});
  sim::FtdiDevice &d = *bus.device("K1");
  ProductRecord r;
  ASSERT_EQ(d.ee_read(&r), FT_OK);
  EXPECT_EQ(r.serial, "K1");
  r.description = "UM232H longer description Q&V5";
  ASSERT_EQ(d.ee_program(r), FT_OK);
  EXPECT_EQ(d.user_area()[2], 0x04);
  EXPECT_EQ(d.user_area()[3], 0x03);
  const std::vector<uint8_t> before = d.eeprom_image();
  r.description = std::string(60, 'x');
  EXPECT_EQ(d.ee_program(r), FT_INVALID_PARAMETER);
  EXPECT_EQ(d.eeprom_image(), before);
  const uint8_t data[3] = {9, 8, 7};
  ASSERT_EQ(d.ua_write(data, 3), FT_OK);
  EXPECT_EQ(d.user_area()[0], 9);
  EXPECT_TRUE(layout::checksum_ok(d.eeprom_image()));
  std::vector<uint8_t> big(d.user_area().size() + 1, 1);
  EXPECT_EQ(d.ua_write(big.data(), static_cast<uint32_t>(big.size())), FT_INVALID_PARAMETER);
}

}  // namespace
