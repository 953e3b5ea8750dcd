// Telling setup files of this program, of the PCI variant and other files apart.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdint>
#include <string>

#include "app/kmv_io_ident.h"
#include "app/kmv_io_write.h"
#include "app/kmv_type.h"
#include "support/Qv_file.h"
#include "tests/app/setup_files.h"

namespace {

using testsupport::list;

int open_descriptors() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

class TypeOfFile : public ::testing::Test {
 protected:
  std::string save(const std::string &name, const char *ident, int code, const std::vector<std::string> &body) {
    const std::string path = dir.file(name);
    const std::string info = list({"TITLE : x"}), b = list(body);
    FileRecord r{0, 0, FILE_STATE_EMPTY, "", nullptr};
    EXPECT_EQ(write_setup_file(&r, path.c_str(), ident, code, info.data(), b.data(), b.size()), 0);
    return path;
  }
  int trq(const std::string &path) {
    model[0] = code[0] = '\0';
    return get_trq_type(path.c_str(), model, code, &modules);
  }

  testsupport::TempDir dir;
  setup_test::Reports reports{dir};
  char model[21] = "", code[11] = "";
  int modules = -7;
};

TEST_F(TypeOfFile, SetupFilesOfThisProgramGiveTheirModuleCount) {
  const struct {
    std::vector<std::string> body;
    int modules;
  } cases[] = {
      {{"SYS_PARA_BEGIN:", "#MP1 [MP_C1U_P5,B,1]", "#MP2 [MP_C1U_P5,B,0]", "SYS_PARA_END:"}, 2},
      {{"SYS_PARA_BEGIN:", "#MP1 [A,B,1]", "#MP2 [A,B,1]", "#MP3 [A,B,1]", "#MP4 [A,B,1]", "SYS_PARA_END:"}, 2},
      {{"SYS_PARA_BEGIN:", "#MP3 [A,B,1]", "#MP4 [A,B,1]", "SYS_PARA_END:"}, 1},
      {{"SYS_PARA_BEGIN:", "#MP 1 [A,B,1]", "SYS_PARA_END:"}, 1},
      {{"SYS_PARA_BEGIN:", "SYS_PARA_END:"}, 1},
  };
  for (const auto &c : cases) {
    const std::string path = save("a.set", setupusb_identifier, 104 << 4, c.body);
    EXPECT_EQ(trq(path), 0);
    EXPECT_STREQ(model, "KMV-USB");
    EXPECT_STREQ(code, "200");
    EXPECT_EQ(modules, c.modules) << c.body[1];
  }
  EXPECT_EQ(trq(save("B.SET", setupusb_identifier, 104 << 4, {"SYS_PARA_BEGIN:", "SYS_PARA_END:"})), 0);
}

TEST_F(TypeOfFile, OldFilesWithoutModuleCodeLeaveTheCountAlone) {
  const std::string path = save("old.set", setupusb_identifier, 104 << 4, {"SYS_PARA_BEGIN:", "#MP1 [A,B,1]"});
  // Revision 11 and no module-type code, as older versions wrote.
  std::string bytes = testsupport::read_file(path);
  bytes[0] = 0x0B;
  bytes[1] = 0;
  bytes[40] = bytes[41] = 0;
  const uint16_t c = static_cast<uint16_t>(0x55AA - qv_header_word_sum(reinterpret_cast<const uint8_t *>(bytes.data())));
  bytes[40] = static_cast<char>(c & 0xFF);
  bytes[41] = static_cast<char>(c >> 8);
  dir.write("old.set", bytes);
  EXPECT_EQ(trq(path), 0);
  EXPECT_STREQ(model, "KMV-USB");
  EXPECT_STREQ(code, "200");
  EXPECT_EQ(modules, -7);
}

TEST_F(TypeOfFile, OtherFilesAreNoSetupFilesOfThisProgram) {
  const std::string pci = save("pci.set", setup_identifier, 92 << 4, {"SYS_PARA_BEGIN:", "SYS_PARA_END:"});
  EXPECT_EQ(trq(pci), -1);
  EXPECT_EQ(get_kmv_type(pci.c_str(), model, code, 0), 0);
  EXPECT_STREQ(model, "KMV-100");
  EXPECT_STREQ(code, "100");
  EXPECT_EQ(get_kmv_type(save("u.set", setupusb_identifier, 104 << 4, {}).c_str(), model, code, 0), -1);

  // Another program's module code in a file that carries this program's identifier.
  EXPECT_EQ(trq(save("other.set", setupusb_identifier, 92 << 4, {"SYS_PARA_BEGIN:"})), -1);
  EXPECT_EQ(trq(dir.write("text.set", "just some text\r\n")), -1);
  EXPECT_EQ(trq(save("a.dat", setupusb_identifier, 104 << 4, {})), -1);  // never opened
  EXPECT_EQ(trq(dir.file("none.dat")), -1);
  EXPECT_EQ(trq(dir.file("noext")), -1);
  EXPECT_EQ(reports.log(), "");
}

TEST_F(TypeOfFile, AFileThatCannotBeOpenedGivesItsErrorCode) {
  EXPECT_EQ(trq(dir.file("missing.set")), BFILE_OPEN);
}

TEST_F(TypeOfFile, TheRecordIsReleasedOnEveryPath) {
  const std::string good = save("g.set", setupusb_identifier, 104 << 4, {"SYS_PARA_BEGIN:", "#MP1 [A,B,1]"});
  const std::string pci = save("p.set", setup_identifier, 92 << 4, {});
  const int before = open_descriptors();
  for (int i = 0; i < 3; ++i) {
    trq(good);
    trq(pci);
    trq(dir.file("missing.set"));
  }
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
