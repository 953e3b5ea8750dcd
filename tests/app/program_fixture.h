#pragma once
// The whole program on the headless user interface: a program directory of
// its own (resource, error texts, ini file), its own registry and data
// directory, the module library on the simulated bus or in emulation. The
// operator's actions are queued with later() and run while the program waits.
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/kmv_syst_settings.h"
#include "tests/app/app_fixture.h"

namespace apptest {

// A control's value or attribute as an int (-12345 when it cannot be read).
int ival(int panel, int control);
int attr(int panel, int control, int attribute);

// An ini file with modules 1 and 2 active on the USB bus and every value 0,
// with extra lines appended to module 1's section.
std::string two_module_ini(const std::string &module1_extra = "");

class ProgramFixture : public AppFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program with these arguments (argv[0] is added).
  int run(std::initializer_list<std::string> args);
  // Runs action when the program next waits for the operator.
  static void later(std::function<void()> action);
  // A file of the data directory the registration chose.
  std::string data_file(const std::string &name) const;
  // The program directory's ini file and resource (a resource without these panels).
  void write_ini(const std::string &text);
  void drop_panels(std::initializer_list<int> ids);
  // The error-output file of the run.
  std::string run_log() const;
  // Presses Quit; the popup then takes these answers.
  static void press_quit(bool save);
  // "FTA" module 1 and "FTB" module 2 on the simulated bus.
  void two_on_the_bus();
  // The settings record the last quit stored.
  static AppAttrRecord stored_settings();

  testsupport::TempDir prog_;
  testsupport::TempDir home_;

 private:
  std::string cwd_;
  std::string old_runtime_dir_;
};

}  // namespace apptest
