// Serial ports by COM number: the tty rule, sysfs names, description files,
// re-enabling a port, and the RS-232 calls on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/serial/ports.h"
#include "platform/serial/rs232.h"
#include "platform/win/clock.h"
#include "tests/testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;
using platform::serial::PortEntry;

TEST(SerialPorts, TtyNamesAndComNumbers) {
  struct Case {
    const char *tty;
    int com;
  };
  for (const Case c : {Case{"ttyS0", 1}, Case{"ttyS31", 32}, Case{"ttyUSB0", 33}, Case{"ttyUSB63", 96},
                       Case{"ttyACM0", 97}, Case{"ttyACM63", 160}}) {
    EXPECT_EQ(platform::serial::com_of_tty(c.tty), c.com) << c.tty;
    EXPECT_EQ(platform::serial::tty_of_com(c.com), c.tty);
  }
  for (const char *none : {"ttyS32", "ttyUSB64", "ttyACM", "tty1", "ttyACMx", "ttyAMA0", "ttyACM0000"})
    EXPECT_EQ(platform::serial::com_of_tty(none), 0) << none;
  EXPECT_EQ(platform::serial::tty_of_com(0), "");
  EXPECT_EQ(platform::serial::tty_of_com(161), "");
}

// A sysfs tree with one CDC port (ttyACM1) and one FTDI port (ttyUSB0).
class SysfsTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path() + "/sys";
    dev_ = dir_.path() + "/dev";
    fs::create_directories(dev_);
    const std::string acm_dev = root_ + "/devices/usb1/1-2";
    const std::string acm_if = acm_dev + "/1-2:1.0";
    fs::create_directories(acm_if + "/tty/ttyACM1");
    put(acm_dev + "/idVendor", "2341");
    put(acm_dev + "/product", "Arduino Leonardo");
    put(acm_if + "/bInterfaceNumber", "00");
    put(acm_if + "/authorized", "1");
    const std::string usb_dev = root_ + "/devices/usb1/1-3";
    const std::string usb_if = usb_dev + "/1-3:1.0";
    fs::create_directories(usb_if + "/ttyUSB0/tty/ttyUSB0");
    put(usb_dev + "/idVendor", "0403");
    put(usb_dev + "/product", "FT232R USB UART");
    put(usb_if + "/bInterfaceNumber", "00");
    put(usb_if + "/interface", "Serial Converter");
    fs::create_directories(root_ + "/class/tty");
    link(acm_if + "/tty/ttyACM1", "ttyACM1", acm_if);
    link(usb_if + "/ttyUSB0/tty/ttyUSB0", "ttyUSB0", usb_if + "/ttyUSB0");
    fs::create_directories(root_ + "/class/tty/ttyS0");  // no device: not listed
    setenv("QV_SYSFS_ROOT", root_.c_str(), 1);
    setenv("QV_DEV_ROOT", dev_.c_str(), 1);
    unsetenv("QV_SERIAL");
  }
  void TearDown() override {
    unsetenv("QV_SYSFS_ROOT");
    unsetenv("QV_DEV_ROOT");
  }
  static void put(const std::string &path, const std::string &text) { std::ofstream(path) << text << "\n"; }
  void link(const std::string &class_dir, const std::string &tty, const std::string &device) {
    fs::create_directory_symlink(class_dir, root_ + "/class/tty/" + tty);
    fs::create_directory_symlink(device, class_dir + "/device");
  }
  testsupport::VirtualClock clock_;
  testsupport::TempDir dir_;
  std::string root_, dev_;
};

TEST_F(SysfsTree, FriendlyNamesFromTheUsbStrings) {
  const std::vector<PortEntry> ports = platform::serial::list_ports();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].com, 33);
  EXPECT_EQ(ports[0].name, "FT232R USB UART - Serial Converter (COM33)");
  EXPECT_EQ(ports[0].path, dev_ + "/ttyUSB0");
  EXPECT_EQ(ports[1].com, 98);
  EXPECT_EQ(ports[1].name, "Arduino Leonardo (COM98)");
  EXPECT_EQ(platform::serial::path_of(98), dev_ + "/ttyACM1");
  EXPECT_EQ(platform::serial::path_of(99), dev_ + "/ttyACM2");  // not present: the rule still names it
}

// The kernel's side of the CDC port's interface, looked at whenever the
// program waits: taking its authorized flag away unbinds the driver and the
// tty goes; giving it back binds nothing until the interface's name is
// written to drivers_probe.
class UnbindingKernel {
 public:
  UnbindingKernel(std::string root, std::string dev) : root_(std::move(root)), dev_(std::move(dev)) {
    std::ofstream(tty()) << "";
    previous_ = platform::clock::set_sleep_observer([this](double s) {
      step();
      if (previous_) previous_(s);
    });
  }
  ~UnbindingKernel() { platform::clock::set_sleep_observer(previous_); }
  bool driver_binds = true;
  int probes = 0;  // probes of this interface

 private:
  std::string tty() const { return dev_ + "/ttyACM1"; }
  static std::string first_line(const std::string &path) {
    std::ifstream in(path);
    std::string v;
    in >> v;
    return v;
  }
  void step() {
    const std::string probe = root_ + "/bus/usb/drivers_probe";
    const bool probed = first_line(probe) == "1-2:1.0";
    if (probed) {
      ++probes;
      fs::remove(probe);
    }
    if (first_line(root_ + "/devices/usb1/1-2/1-2:1.0/authorized") == "0") {
      bound_ = false;
      fs::remove(tty());
    } else if (!bound_ && probed && driver_binds) {
      bound_ = true;
      std::ofstream(tty()) << "";
    }
  }
  std::string root_, dev_;
  bool bound_ = true;
  platform::clock::SleepObserver previous_;
};

TEST_F(SysfsTree, ReinstallTogglesTheInterfaceOfExactlyThatPortAndProbesIt) {
  fs::create_directories(root_ + "/bus/usb");
  UnbindingKernel kernel(root_, dev_);
  EXPECT_EQ(platform::serial::reinstall(98), 0);
  EXPECT_EQ(kernel.probes, 1);
  EXPECT_TRUE(fs::exists(dev_ + "/ttyACM1"));
  std::ifstream in(root_ + "/devices/usb1/1-2/1-2:1.0/authorized");
  std::string v;
  in >> v;
  EXPECT_EQ(v, "1");
  EXPECT_EQ(platform::serial::reinstall(9), -1);  // no such port (COM9 is no prefix of COM98)
  kernel.driver_binds = false;
  EXPECT_EQ(platform::serial::reinstall(98), -1);  // the tty did not come back
}

TEST(SerialPorts, DescriptionFileReplacesTheSystemsPorts) {
  testsupport::TempDir dir;
  const std::string dev = dir.write("pts7", "");
  setenv("QV_SERIAL", dir.write("ports", "# simulated\n5 = " + dev + ", Arduino Leonardo (COM5)\n"
                                          "6 = /nonexistent/x, Gone (COM6)\n").c_str(), 1);
  const std::vector<PortEntry> ports = platform::serial::list_ports();
  unsetenv("QV_SERIAL");
  ASSERT_EQ(ports.size(), 1u);  // a port whose device is gone is not present
  EXPECT_EQ(ports[0].com, 5);
  EXPECT_EQ(ports[0].path, dev);
  EXPECT_EQ(ports[0].name, "Arduino Leonardo (COM5)");
  std::vector<PortEntry> out;
  std::string why;
  for (const char *bad : {"5 /dev/x, y\n", "x = /dev/x, y\n", "300 = /dev/x, y\n", "5 = /dev/x\n"}) {
    EXPECT_FALSE(platform::serial::load_port_description(dir.write("bad", bad), &out, &why)) << bad;
    EXPECT_FALSE(why.empty());
  }
}

// The RS-232 calls against the master side of a pseudo-terminal.
class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
  }
  void TearDown() override {
    CloseCom(3);
    close(master_);
  }
  // What the port sent, waiting up to a second of real time for it.
  int read_master(char *buf, int want) {
    int got = 0;
    for (int i = 0; i < 1000 && got < want; ++i) {
      const ssize_t r = read(master_, buf + got, static_cast<size_t>(want - got));
      if (r > 0) got += static_cast<int>(r);
      else usleep(1000);
    }
    return got;
  }
  testsupport::VirtualClock clock_;
  int master_ = -1;
  std::string slave_;
};

TEST_F(PtyPort, BytesBothWaysAndTheTimeOut) {
  ASSERT_EQ(OpenComConfig(3, slave_.c_str(), 19200, 0, 8, 1, 512, 512), 0);
  EXPECT_EQ(ComWrt(3, "abc", 3), 3);
  EXPECT_EQ(ComWrtByte(3, 'd'), 1);
  char buf[8] = {};
  EXPECT_EQ(read_master(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  ASSERT_EQ(write(master_, "xy", 2), 2);
  usleep(20000);  // bytes pass the kernel in real time
  EXPECT_EQ(GetInQLen(3), 2);
  ASSERT_EQ(SetComTime(3, 0.5), 0);
  const double t0 = platform::clock::now();
  EXPECT_EQ(ComRd(3, buf, 4), 2);
  EXPECT_EQ(ReturnRS232Err(), RS_TIMEOUT);
  EXPECT_GE(platform::clock::now() - t0, 0.5);
  ASSERT_EQ(write(master_, "z", 1), 1);
  usleep(20000);
  EXPECT_EQ(FlushInQ(3), 0);
  EXPECT_EQ(GetInQLen(3), 0);
  EXPECT_EQ(GetOutQLen(3), 0);
}

TEST_F(PtyPort, ErrorsOfTheCalls) {
  struct Case {
    int port;
    const char *path;
    long baud;
    int parity, data, stop;
    int result;
  };
  const Case cases[] = {
      {0, "", 19200, 0, 8, 1, RS_BAD_PORT_NUMBER},         {256, "", 19200, 0, 8, 1, RS_BAD_PORT_NUMBER},
      {3, "/nonexistent/tty", 19200, 0, 8, 1, RS_NO_SUCH_PORT}, {3, "/", 19200, 0, 8, 1, RS_CANNOT_OPEN},
      {3, slave_.c_str(), 12345, 0, 8, 1, RS_BAD_SETTINGS}, {3, slave_.c_str(), 19200, 3, 8, 1, RS_BAD_SETTINGS},
      {3, slave_.c_str(), 19200, 0, 9, 1, RS_BAD_SETTINGS}, {3, slave_.c_str(), 19200, 0, 8, 3, RS_BAD_SETTINGS},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(OpenComConfig(c.port, c.path, c.baud, c.parity, c.data, c.stop, 512, 512), c.result) << c.path;
    EXPECT_EQ(ReturnRS232Err(), c.result);
  }
  char b = 0;
  EXPECT_EQ(ComRd(3, &b, 1), RS_PORT_NOT_OPEN);
  EXPECT_EQ(ComWrtByte(4, 1), RS_PORT_NOT_OPEN);
  EXPECT_EQ(CloseCom(4), RS_PORT_NOT_OPEN);
  EXPECT_EQ(SetComTime(300, 1), RS_BAD_PORT_NUMBER);
  // The far end goes away: reads and writes fail, they do not hang.
  ASSERT_EQ(OpenComConfig(3, slave_.c_str(), 19200, 0, 8, 1, 512, 512), 0);
  close(master_);
  master_ = -1;
  EXPECT_EQ(ComRd(3, &b, 1), RS_IO_ERROR);
  EXPECT_EQ(ComWrtByte(3, 1), RS_IO_ERROR);
}

}  // namespace
