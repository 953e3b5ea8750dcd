// A module unplugged at every single bus write of a timer tick, an operator's
// gain change and a reconnect with its resend: the program goes on, and once
// the module is back the ticks that follow leave it holding what the
// parameter sets hold.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "platform/ui/headless.h"
#include "tests/app/ui_app_fixture.h"

namespace ui = platform::ui::headless;

namespace {

class FaultSweep : public apptest::UiAppFixture {
 protected:
  void prepare() {
    ASSERT_EQ(start_hardware(), 0);
    open_window();
    for (short m : {0, 1})
      for (int k : {0, 2, 4}) {
        KMVUSB_enable_outputs(m, static_cast<int16_t>(k), 1);
        out_enabled[m] = static_cast<short>(out_enabled[m] | (1 << k));
      }
    for (int c : {0, 1}) {
      ASSERT_EQ(ui::click(conf(), p12_ctrls[c][0]), 0);
      ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[c][0], 30.0f + 10 * c), 0);
      ASSERT_EQ(ui::click(conf(), cool_ctrls[c][2]), 0);
      ASSERT_EQ(ui::set_value(conf(), cool_volt_ctrls[c][2], 3.5f), 0);
      ASSERT_EQ(ui::set_value(conf(), cool_curr_ctrls[c][2], 1.25f), 0);
      ASSERT_EQ(ui::click(conf(), digout_ctrls_usb[c][5]), 0);
    }
    bus().set_input_pins("FTB", 3, 0x0004);  // an overload to blink
    bus().set_input_pins("FTA", 1, 0xFFFB);  // a cooler at its limit
    tick();
  }

  // Runs act with the device being written unplugged at write `at` (counted
  // over both modules). False when act made fewer writes.
  bool unplug_at(uint64_t at, const std::function<void()> &act, std::string *pulled) {
    uint64_t n = 0;
    bus().watch_writes([&](sim::FtdiDevice &d) {
      if (n++ == at && pulled->empty()) {
        *pulled = d.serial();
        bus().unplug(d.serial());
      }
    });
    act();
    bus().watch_writes(nullptr);
    return !pulled->empty();
  }

  void sweep(const char *what, const std::function<void()> &before, const std::function<void()> &act) {
    int points = 0;
    for (uint64_t at = 0;; ++at) {
      if (at > 0) {
        TearDown();
        SetUp();
      }
      prepare();
      if (HasFatalFailure()) return;
      before();
      std::string pulled;
      if (!unplug_at(at, act, &pulled)) break;
      ++points;
      bus().replug(pulled, -1, true);
      for (int t = 0; t < 3; ++t) tick();
      for (short m : {0, 1}) {
        EXPECT_EQ(connection_lost[m], 0) << what << ", write " << at << ", module " << m;
        EXPECT_EQ(apptest::module_mismatch(bus(), m == 0 ? "FTA" : "FTB", m), "")
            << what << ", write " << at << " (" << pulled << " pulled), module " << m;
      }
    }
    EXPECT_GT(points, 0) << what;
    RecordProperty(what, points);
  }
};

TEST_F(FaultSweep, EveryWriteOfATimerTick) {
  sweep("tick", [] {}, [this] { tick(); });
}

TEST_F(FaultSweep, EveryWriteOfAGainChange) {
  sweep("gain", [] {}, [this] { ui::set_value(conf(), ghv_ctrls[1][0], 55.0f); });
}

TEST_F(FaultSweep, EveryWriteOfAReconnectWithItsResend) {
  sweep(
      "reconnect",
      [this] {
        bus().unplug("FTA");
        tick();
        bus().replug("FTA", -1, true);
      },
      [this] { tick(); });
}

}  // namespace
