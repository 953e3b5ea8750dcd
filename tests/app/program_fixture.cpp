#include "tests/app/program_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/kmv_meas.h"
#include "app/kmvusb_main.h"
#include "support/Util_fun_geometry.h"
#include "platform/ui/headless.h"
#include "platform/ui/popups.h"
#include "platform/win/progdir.h"

namespace apptest {

int ival(int panel, int control) {
  int v = -12345;
  GetCtrlVal(panel, control, &v);
  return v;
}

int attr(int panel, int control, int attribute) {
  int v = -12345;
  GetCtrlAttribute(panel, control, attribute, &v);
  return v;
}

std::string two_module_ini(const std::string &module1_extra) {
  return "[KMVUSB_BASE]\nSIMULATION_USB = 0\n[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 1\n" + module1_extra +
         "\n[KMVUSB_MODULE2]\nKMVUSB_ACTIVE = 1\n";
}

void ProgramFixture::SetUp() {
  AppFixture::SetUp();
  char cwd[4096] = "";
  if (getcwd(cwd, sizeof cwd) != nullptr) cwd_ = cwd;
  platform::ui::headless::reset();
  platform::ui::headless::clear();
  platform::ui::register_callbacks(trq_callbacks());
  for (const char *name : {"kmv_meas.uir", "kmv_err.dat"})
    std::filesystem::copy_file(testsupport::source_path(std::string("resources/") + name), prog_.file(name));
  write_ini(two_module_ini());
  platform::set_program_dir(prog_.path());
  setenv("QV_REGISTRY_DIR", home_.file("reg").c_str(), 1);
  setenv("XDG_DATA_HOME", home_.file("data").c_str(), 1);
  // The remote-control service of each run lives here, not beside those of other tests.
  if (const char *rt = getenv("XDG_RUNTIME_DIR")) old_runtime_dir_ = rt;
  setenv("XDG_RUNTIME_DIR", home_.path().c_str(), 1);
}

void ProgramFixture::TearDown() {
  platform::ui::headless::reset();
  platform::ui::headless::clear();
  platform::set_program_dir("");
  unsetenv("QV_REGISTRY_DIR");
  unsetenv("XDG_DATA_HOME");
  if (old_runtime_dir_.empty()) unsetenv("XDG_RUNTIME_DIR");
  else setenv("XDG_RUNTIME_DIR", old_runtime_dir_.c_str(), 1);
  if (!cwd_.empty() && chdir(cwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << cwd_;
  AppFixture::TearDown();
}

int ProgramFixture::run(std::initializer_list<std::string> args) {
  std::vector<std::string> words{"trq_32x64"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return trq_main(static_cast<int>(words.size()), argv.data());
}

void ProgramFixture::later(std::function<void()> action) { platform::ui::headless::later(std::move(action)); }

std::string ProgramFixture::data_file(const std::string &name) const { return home_.file("data/qv/trq/" + name); }

void ProgramFixture::write_ini(const std::string &text) { prog_.write("kmvusb.ini", text); }

void ProgramFixture::drop_panels(std::initializer_list<int> ids) {
  nlohmann::json doc;
  std::ifstream(prog_.file("kmv_meas.uir")) >> doc;
  auto &panels = doc["panels"];
  for (int id : ids)
    for (auto it = panels.begin(); it != panels.end(); ++it)
      if ((*it)["id"] == id) {
        panels.erase(it);
        break;
      }
  std::ofstream(prog_.file("kmv_meas.uir")) << doc.dump();
}

std::string ProgramFixture::run_log() const { return testsupport::read_file(data_file("trq_err.out")); }

void ProgramFixture::press_quit(bool save) {
  later([] { platform::ui::headless::click(trq_panel, MAIN_QUIT); });
  later([save] {
    const int popup = GetActivePanel();
    if (!save) platform::ui::headless::click(popup, QUIT_SAVE_SETUP);
    platform::ui::headless::click(popup, QUIT_QUIT);
  });
}

void ProgramFixture::two_on_the_bus() {
  add_module("FTA", 1, "KMV-USB-1", "KM0010");
  add_module("FTB", 2, "KMV-USB-2", "KM0020");
}

AppAttrRecord ProgramFixture::stored_settings() {
  AppAttrRecord r{};
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, sizeof r, "Current", &r), 0);
  return r;
}

}  // namespace apptest
