// The command line: every switch of the program as one table.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/kmv_io_globals.h"
#include "app/kmv_syst.h"
#include "app/kmvusb_main.h"

namespace {

struct Expect {
  int result = 0;
  int sim = 0, modules = -1, first = 0, production = 0, silent = 0, info = 0, reg = 0;
  std::string ini = "/prog/kmvusb.ini";
  std::string start_file = "";
};

struct Case {
  std::vector<std::string> args;
  Expect want;
};

Expect with(std::function<void(Expect &)> f) {
  Expect e;
  f(e);
  return e;
}

const std::string kLong(300, 'n');
const std::string kFits(256, 'n');  // fits, but not with ".set" after it

TEST(ProgramSwitches, EachSwitchAsTheOperatorTypesIt) {
  const std::vector<Case> cases = {
      {{}, {}},
      {{"-s5"}, with([](Expect &e) { e.sim = 200; })},
      {{"-s200"}, with([](Expect &e) { e.sim = 200; })},
      {{"-S0"}, with([](Expect &e) { e.sim = 200; })},
      {{"-s"}, {}},
      {{"-sx"}, {}},
      {{"-SILENT"}, with([](Expect &e) { e.silent = 1; })},
      {{"-silentx"}, {}},
      {{"-Info"}, with([](Expect &e) { e.info = 1; })},
      {{"-infox"}, with([](Expect &e) { e.modules = 1; })},  // any other "-i" counts as -m
      {{"-i2"}, with([](Expect &e) { e.modules = 2; })},
      {{"-m7"}, with([](Expect &e) { e.modules = 2; })},
      {{"-m0"}, with([](Expect &e) { e.modules = 1; })},
      {{"-m"}, with([](Expect &e) { e.modules = 1; })},
      {{"-m1", "-m2"}, with([](Expect &e) { e.modules = 2; })},
      {{"-f9"}, with([](Expect &e) { e.first = 4; })},
      {{"-f2"}, with([](Expect &e) { e.first = 2; })},
      {{"-f0"}, {}},
      {{"-fmyconf"}, with([](Expect &e) { e.ini = "/prog/myconf.ini"; })},
      {{"-fMyConf.CFG"}, with([](Expect &e) { e.ini = "/prog/MyConf.CFG"; })},
      {{"-f/etc/qv/a"}, with([](Expect &e) { e.ini = "/etc/qv/a.ini"; })},
      {{"-fc:\\cfg\\a.ini"}, with([](Expect &e) { e.ini = "c:\\cfg\\a.ini"; })},
      {{"-lTEST"}, with([](Expect &e) { e.start_file = "TEST.set"; })},
      {{"-lRun.SET"}, with([](Expect &e) { e.start_file = "Run.SET"; })},
      {{"-l/data/Beam"}, with([](Expect &e) { e.start_file = "/data/Beam.set"; })},
      {{"-ltest.txt"}, {}},
      {{"-Qv"}, with([](Expect &e) { e.production = 1; })},
      {{"-qvx"}, with([](Expect &e) { e.production = 1; })},
      {{"-QV"}, {}},
      {{"-reg"}, with([](Expect &e) { e.reg = 1; })},
      {{"-REG"}, with([](Expect &e) { e.reg = 1; })},
      {{"x", "-", "-z", "--info", "s5"}, {}},
      {{"-s1", "-m2", "-info", "-silent"}, with([](Expect &e) {
         e.sim = 200;
         e.modules = 2;
         e.info = e.silent = 1;
       })},
      // Names that do not fit a path buffer are refused, never cut.
      {{"-l" + kLong}, with([](Expect &e) { e.result = -1; })},
      {{"-l" + kFits}, with([](Expect &e) { e.result = -1; })},
      {{"-f" + kLong}, with([](Expect &e) { e.result = -1; })},
      {{"-f/" + kFits}, with([](Expect &e) { e.result = -1; })},
  };
  for (const Case &c : cases) {
    std::string line;
    for (const auto &a : c.args) line += a.substr(0, 20) + " ";
    SCOPED_TRACE(line);
    set_start_values();
    snprintf(data_dir, sizeof data_dir, "/prog/");
    snprintf(kmv_ini_file, sizeof kmv_ini_file, "/prog/kmvusb.ini");
    std::vector<std::string> words{"trq_32x64"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    EXPECT_EQ(read_switches(static_cast<int>(argv.size()), argv.data()), c.want.result);
    EXPECT_EQ(sim_switch, c.want.sim);
    EXPECT_EQ(sim_mod_no, c.want.modules);
    EXPECT_EQ(first_mod_no, c.want.first);
    EXPECT_EQ(qv_production, c.want.production);
    EXPECT_EQ(silent_start, c.want.silent);
    EXPECT_EQ(info_switch, c.want.info);
    EXPECT_EQ(reg_switch, c.want.reg);
    EXPECT_EQ(std::string(kmv_ini_file), c.want.ini);
    EXPECT_EQ(std::string(auto_set_file), c.want.start_file);
    EXPECT_EQ(std::string(client_fname), c.want.start_file);
  }
  set_start_values();
}

}  // namespace
