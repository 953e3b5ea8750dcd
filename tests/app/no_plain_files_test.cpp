// Every reader of a file the program opens by a name it was given, on a name
// that is no plain file: each refuses it as a file that cannot be read, and
// none waits (a FIFO without writer would stop an open or a read for ever).
// Each case runs in a child process with an alarm, so a reader that waits
// fails its case instead of stopping the suite.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/kmv_type.h"
#include "modules/kmv_fun.h"
#include "pci/wd_os.h"
#include "platform/serial/ports.h"
#include "platform/ui/ui.h"
#include "platform/win/files.h"
#include "support/File.h"
#include "support/Qv_err.h"
#include "support/Qv_file.h"
#include "support/Util_fun_dialogs.h"
#include "support/Util_fun_parfile.h"
#include "support/Util_fun_paths.h"
#include "support/large_file.h"
#include "tests/testsupport/testsupport.h"

namespace {

// A reader given a path: "" when it refused the file as it should, else what it did.
using Reader = std::function<std::string(const std::string &path)>;

std::string expect(bool ok, const std::string &what) { return ok ? "" : what; }
bool names_kind(const std::string &text) { return text.find("not a plain file") != std::string::npos; }

struct Case {
  const char *name;
  Reader read;
};

const std::vector<Case> &readers() {
  static const std::vector<Case> table = {
      {"the parameter-file check (kmvusb.ini)",
       [](const std::string &p) { return expect(check_if_valid(p.c_str(), "KMVUSB") == -1, "not refused as unreadable"); }},
      {"the module library's start (kmvusb.ini)",
       [](const std::string &p) { return expect(KMVUSB_init(p.c_str()) == KMV_OPEN_FILE, "not KMV_OPEN_FILE"); }},
      {"the error texts (kmv_err.dat)",
       [](const std::string &p) {
         std::string path = p;
         error_dat = path.data();
         char format[256] = "", message[256] = "";
         const char severity = search_error_id("BFILE_OPEN", format, message);
         error_dat = nullptr;
         const std::string m = message;
         return expect(severity == '0' && m.rfind("F Cannot open error input file", 0) == 0 && names_kind(m),
                       "message \"" + m + "\"");
       }},
      {"the resource loader (kmv_meas.uir)",
       [](const std::string &p) {
         const int r = LoadPanel(0, p.c_str(), 1);
         const std::string d = platform::ui::last_error_detail();
         return expect(r == UIE_FILE_NOT_FOUND && names_kind(d), "result " + std::to_string(r) + ", \"" + d + "\"");
       }},
      {"the setup-file open (load)",
       [](const std::string &p) {
         FileRecord r{0, 0, FILE_STATE_EMPTY, "", nullptr};
         const int got = open_qvfile(&r, p.c_str(), nullptr);
         const int code = r.error;
         unlink_qvfile(&r);
         return expect(got == -1 && code == BFILE_OPEN, "open_qvfile " + std::to_string(got));
       }},
      {"the setup-file type test",
       [](const std::string &p) {
         char model[32] = "", code[16] = "";
         int modules = 0;
         return expect(get_trq_type(p.c_str(), model, code, &modules) == BFILE_OPEN, "not BFILE_OPEN");
       }},
      {"the settings-file marker test",
       [](const std::string &p) {
         return expect(test_if_valid_qv_settings_file(p.c_str(), "KMVUSB") == 0, "taken as a settings file");
       }},
      {"the writability test",
       [](const std::string &p) {
         int writable = -1;
         MyGetFileWritability(p.c_str(), &writable);
         return expect(writable == 0, "writable " + std::to_string(writable));
       }},
      {"the file layer's read open",
       [](const std::string &p) {
         const int h = OpenFile(p.c_str(), VAL_READ_ONLY, VAL_OPEN_AS_IS, VAL_BINARY);
         if (h >= 0) CloseFile(h);
         return expect(h == -1 && GetFmtIOError() == FMT_IO_ACCESS_DENIED, "handle " + std::to_string(h));
       }},
      {"the large-file open",
       [](const std::string &p) { return expect(OpenLargeFile(p.c_str(), 1, 2) == -1, "opened"); }},
      {"the file copy",
       [](const std::string &p) {
         const std::string to = std::filesystem::path(p).parent_path().string() + "/copy";
         const int r = CopyFile(p.c_str(), to.c_str());
         return expect(r == DIR_IO_INVALID_PATH && !std::filesystem::exists(to), "result " + std::to_string(r));
       }},
      {"the serial-port description (QV_SERIAL)",
       [](const std::string &p) {
         std::vector<platform::serial::PortEntry> ports;
         std::string why;
         const bool ok = platform::serial::load_port_description(p, &ports, &why);
         return expect(!ok && names_kind(why), "\"" + why + "\"");
       }},
      {"the driver utilities' file size",
       [](const std::string &p) {
         uint32_t size = 0;
         char text[256] = "";
         const int r = UtilGetFileSize(p.c_str(), &size, text);
         return expect(r == 0 && names_kind(text), "\"" + std::string(text) + "\"");
       }},
  };
  return table;
}

// Names that are no plain file, each ending in ".set" for the setup-file readers.
struct NoPlainFiles {
  testsupport::TempDir dir;
  std::vector<std::pair<std::string, std::string>> paths;  // kind, path

  NoPlainFiles() {
    const std::string fifo = dir.file("fifo.set");
    if (::mkfifo(fifo.c_str(), 0600) == 0) paths.emplace_back("FIFO", fifo);
    const std::string folder = dir.file("folder.set");
    if (::mkdir(folder.c_str(), 0700) == 0) paths.emplace_back("folder", folder);
    // The null device's numbers under a name of our own (root only); else the system's.
    const std::string device = dir.file("device.set");
    if (::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0 || ::symlink("/dev/null", device.c_str()) == 0)
      paths.emplace_back("device", device);
    const std::string sock = dir.file("socket.set");
    if (testsupport::make_socket_file(sock)) paths.emplace_back("socket", sock);
  }
};

// Runs read(path) in a child that may take at most seconds; "" or what went wrong.
std::string in_child(const Reader &read, const std::string &path, unsigned seconds) {
  int out[2];
  if (::pipe(out) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    ::alarm(seconds);
    const std::string r = read(path);
    if (!r.empty() && ::write(out[1], r.data(), r.size()) < 0) _exit(2);
    _exit(0);
  }
  ::close(out[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return "waited (still blocked after the alarm)";
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  return text;
}

TEST(NoPlainFile, EveryReaderRefusesANameThatIsNoPlainFileWithoutWaiting) {
  NoPlainFiles odd;
  ASSERT_GE(odd.paths.size(), 3u);
  for (const Case &c : readers())
    for (const auto &[kind, path] : odd.paths)
      EXPECT_EQ(in_child(c.read, path, 10), "") << c.name << " on a " << kind;
}

// A plain file named through a symbolic link is still read: the refusal is
// of the kind of file, not of the way to it.
TEST(NoPlainFile, APlainFileBehindALinkIsRead) {
  testsupport::TempDir dir;
  const std::string ini = dir.write("real.ini", "; KMVUSB\n[KMVUSB_BASE]\n");
  ASSERT_EQ(::symlink(ini.c_str(), dir.file("link.ini").c_str()), 0);
  EXPECT_EQ(check_if_valid(dir.file("link.ini").c_str(), "KMVUSB"), 0);
  std::string refused = "x";
  const int fd = platform::files::open_plain(dir.file("link.ini").c_str(), O_RDONLY, &refused);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(refused, "");
  if (fd >= 0) ::close(fd);
  EXPECT_EQ(platform::files::with_kind(dir.file("link.ini").c_str()), dir.file("link.ini"));
  EXPECT_EQ(platform::files::with_kind(dir.path().c_str()), dir.path() + " (a folder, not a plain file)");
}

}  // namespace
