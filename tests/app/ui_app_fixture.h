#pragma once
// The module columns on the headless user interface: the main window with its
// pages loaded from kmv_meas.uir as the window set-up loads them.
#include "app/kmv_syst_settings.h"
#include "tests/app/app_fixture.h"

namespace apptest {

class UiAppFixture : public AppFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Main window, pages, menu bars and colours, then the columns laid out and
  // filled for the active modules, every output off, the timer on.
  void open_window();
  // One timer tick.
  int tick();
  int conf() const { return trq_ctrl_panel; }
  int main_panel() const { return trq_panel; }
  int attr(int panel, int control, int attribute);
  int ival(int panel, int control);
  float fval(int panel, int control);
};

}  // namespace apptest

namespace apptest {

// What the simulated module behind serial shows against what the program
// holds for module: the supply bits, cooler bits and digital byte of its
// registers and every DAC channel, from its parameter set and out_enabled.
// "" when they agree, else the first difference.
std::string module_mismatch(sim::Bus &bus, const std::string &serial, short module);

}  // namespace apptest
