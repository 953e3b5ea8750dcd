#pragma once
// The operator program's module system over the real module library: in
// emulation, or on the simulated USB bus with two KMV-USB modules.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "app/kmv_syst.h"
#include "tests/modules/sim_fixture.h"
#include "tests/support/error_globals.h"
#include "tests/testsupport/testsupport.h"

namespace apptest {

// Module system globals back to their start values.
void reset_app_state();

class AppFixture : public simtest::SimFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the library in emulation with count modules from slot first (1..4).
  int start_emulation(int count, int first = 1);
  // Starts the library in emulation with the modules of the ini file's slots (0..3).
  int start_emulation_slots(std::initializer_list<int> slots);
  // Two modules on the simulated bus ("FTA" slot 0, "FTB" slot 1), started
  // from an ini file with every value 0.
  int start_hardware();
  // The error-output file so far.
  std::string error_log();

  testsupport::TempDir dir_;
  testsupport::ErrorGlobals errors_;
};

}  // namespace apptest
