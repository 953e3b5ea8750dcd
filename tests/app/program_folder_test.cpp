// The program without its own folder: it says so and writes nothing anywhere.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/win/progdir.h"
#include "tests/app/program_fixture.h"

namespace {

class ProgramFolder : public apptest::ProgramFixture {};

// As under an emulator that cannot resolve the program for this user: no
// setup file, settings or error report lands in the current folder or in '/'.
TEST_F(ProgramFolder, NotFoundStopsTheStartBeforeAnythingIsWritten) {
  testsupport::TempDir cwd;
  ASSERT_EQ(chdir(cwd.path().c_str()), 0);
  platform::set_program_dir_unknown();
  const auto before = std::filesystem::file_time_type::clock::now();
  testing::internal::CaptureStdout();
  const int r = run({"-s1", "-m2", "-info"});
  const std::string said = testing::internal::GetCapturedStdout();
  EXPECT_EQ(r, -1);
  EXPECT_EQ(said, "Unable to obtain project path\n");
  EXPECT_TRUE(std::filesystem::is_empty(cwd.path()));
  EXPECT_TRUE(std::filesystem::is_empty(home_.path()));
  for (const char *name : {"trq_auto.set", "trq_err.out", "kmv_err.dat", "user.reg"})
    EXPECT_FALSE(std::filesystem::exists(std::string("/") + name)) << name;
  for (const auto &entry : std::filesystem::directory_iterator(prog_.path()))
    EXPECT_LT(entry.last_write_time(), before) << entry.path();
}

}  // namespace
