#include "tests/pci/pci_fixture.h"

#include <cstring>

#include "platform/driver/user_addr.h"

namespace pcitest {

void reset_library() {
  WDC_DriverClose();
  WDC_SetDebugOptions(WDC_DBG_DEFAULT, nullptr);
}

void PciFixture::SetUp() {
  reset_library();
  live_at_start = platform::driver::user_addr_live();
  scope_ = std::make_unique<platform::driver::SimPciScope>();
  plx = &bus().add_plx9050(kSlot);
}

void PciFixture::TearDown() {
  reset_library();
  scope_.reset();
  EXPECT_EQ(platform::driver::user_addr_live(), live_at_start) << "user ranges left behind";
}

void PciFixture::start() {
  ASSERT_EQ(PLX_LibInit(), kWdSuccess);
  bus().log.clear();
  bus().monitor.clear();
}

std::vector<const sim::PciRequest *> PciFixture::requests() const {
  std::vector<const sim::PciRequest *> out;
  for (const sim::PciRequest &r : scope_->bus().log)
    if (r.function != kWdFnDebugText) out.push_back(&r);
  return out;
}

std::vector<uint32_t> PciFixture::functions() const {
  std::vector<uint32_t> out;
  for (const sim::PciRequest *r : requests()) out.push_back(r->function);
  return out;
}

uint32_t u32(const sim::PciRequest &r, uint32_t offset) {
  EXPECT_LE(offset + 4, r.record.size());
  uint32_t v = 0;
  if (offset + 4 <= r.record.size()) std::memcpy(&v, r.record.data() + offset, 4);
  return v;
}

uint64_t u64(const sim::PciRequest &r, uint32_t offset) {
  EXPECT_LE(offset + 8, r.record.size());
  uint64_t v = 0;
  if (offset + 8 <= r.record.size()) std::memcpy(&v, r.record.data() + offset, 8);
  return v;
}

}  // namespace pcitest
