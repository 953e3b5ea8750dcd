// The driver over sysfs: the scan and configuration space from the functions'
// folders, memory spaces mapped through their resource files, I/O spaces read
// and written through theirs. Registration is shared: several programs may
// hold one card (the card's in-use marker tells them apart); a registered card
// keeps its resource list and its I/O resource files open until released, so
// that a port access is one system call.
// Reading the bus works for everyone; configuration space beyond 64 bytes,
// every write, the mappings and the port accesses need root.
#include "platform/driver/sysfs_backend.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/driver/user_addr.h"

namespace platform::driver {
namespace {

constexpr uint64_t kResourceIo = 0x100, kResourceMem = 0x200;
constexpr uint32_t kStMapFailed = 0x20000017u, kStSystem = 0x20000007u;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd &&o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd &operator=(Fd &&o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

struct Mapping {
  void *host = nullptr;
  size_t bytes = 0;
};

// Why opening `name` failed, as the user can act on it.
std::string open_reason(const std::string &name, int err, bool write) {
  if (err == EACCES || err == EPERM)
    return std::string(write ? "no write access to " : "no read access to ") + name + " (needs root)";
  if (err == ENOENT) return "the kernel offers no " + name + " file";
  return name + ": " + std::strerror(err);
}

// A registered card: the open files of its I/O spaces with the ports they
// hold, and how many registrations of this process hold the card.
struct Held {
  PciLocation at;
  struct Io {
    uint64_t start = 0, length = 0;
    Fd fd;
  };
  std::vector<Io> io;
  int count = 0;
};

class SysfsHost : public PciHost {
 public:
  explicit SysfsHost(std::string root) : root_(std::move(root)) {}
  ~SysfsHost() override {
    for (auto &[user, m] : maps_) {
      mmio_unmap(user);
      ::munmap(m.host, m.bytes);
    }
  }
  const char *name() const override { return "sysfs"; }
  bool present() override { return ::access(root_.c_str(), R_OK | X_OK) == 0; }

  std::vector<PciLocation> functions() override {
    std::vector<std::pair<PciLocation, std::string>> found;
    if (DIR *d = ::opendir(root_.c_str())) {
      while (dirent *e = ::readdir(d)) {
        unsigned dom = 0, bus = 0, slot = 0, fn = 0;
        char tail = 0;
        if (std::sscanf(e->d_name, "%x:%x:%x.%x%c", &dom, &bus, &slot, &fn, &tail) != 4) continue;
        found.push_back({{dom << 8 | bus, slot, fn}, e->d_name});
      }
      ::closedir(d);
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
      return std::tie(a.first.bus, a.first.slot, a.first.function) <
             std::tie(b.first.bus, b.first.slot, b.first.function);
    });
    names_.clear();
    std::vector<PciLocation> out;
    for (auto &[at, name] : found) {
      out.push_back(at);
      names_.push_back({at, name});
    }
    return out;
  }

  bool config(const PciLocation &at, uint32_t offset, uint8_t *data, uint32_t bytes, bool write) override {
    const std::string dir = folder(at);
    if (dir.empty()) return false;
    Fd fd(::open((dir + "/config").c_str(), write ? O_WRONLY : O_RDONLY));
    if (fd.get() < 0) {
      set_request_reason(open_reason("config", errno, write));
      return false;
    }
    const ssize_t n = write ? ::pwrite(fd.get(), data, bytes, offset) : ::pread(fd.get(), data, bytes, offset);
    if (n == static_cast<ssize_t>(bytes)) return true;
    // Without root the kernel gives the first 64 bytes only: a short read.
    if (n >= 0 && !write && offset + static_cast<uint32_t>(n) <= 64 && offset + bytes > 64)
      set_request_reason("configuration space past byte 63 needs root");
    else
      set_request_reason(std::string("config: ") + (n < 0 ? std::strerror(errno) : "short transfer"));
    return false;
  }

  bool resources(const PciLocation &at, std::vector<PciResource> *out) override {
    const std::string dir = folder(at);
    if (dir.empty()) return false;
    FILE *f = std::fopen((dir + "/resource").c_str(), "r");
    if (!f) return false;
    unsigned long long start = 0, end = 0, flags = 0;
    for (uint32_t bar = 0; bar < 6 && std::fscanf(f, "%llx %llx %llx", &start, &end, &flags) == 3; ++bar) {
      if (end <= start || !(flags & (kResourceIo | kResourceMem))) continue;
      PciResource r;
      r.kind = (flags & kResourceIo) ? PciResource::kIo : PciResource::kMemory;
      r.bar = bar;
      r.start = start;
      r.length = end - start + 1;
      out->push_back(r);
    }
    std::fclose(f);
    if (FILE *irq = std::fopen((dir + "/irq").c_str(), "r")) {
      unsigned n = 0;
      if (std::fscanf(irq, "%u", &n) == 1 && n != 0) {
        PciResource r;
        r.kind = PciResource::kInterrupt;
        r.irq = n;
        r.irq_options = 0x01;
        out->push_back(r);
      }
      std::fclose(irq);
    }
    return true;
  }

  // Shared: nothing keeps another registration, of this program or another,
  // out. What the port accesses need is read and opened here once.
  uint32_t claim(const PciLocation &at) override {
    for (Held &h : held_)
      if (h.at == at) {
        ++h.count;
        return kStOk;
      }
    Held h;
    h.at = at;
    std::vector<PciResource> res;
    if (!resources(at, &res)) return kStNotFound;
    for (const PciResource &r : res) {
      if (r.kind != PciResource::kIo) continue;
      const std::string name = "resource" + std::to_string(r.bar);
      Held::Io io;
      io.start = r.start;
      io.length = r.length;
      io.fd = Fd(::open((folder(at) + "/" + name).c_str(), O_RDWR | O_CLOEXEC));
      if (io.fd.get() < 0) {
        set_request_reason(open_reason(name, errno, true));
        return kStSystem;
      }
      h.io.push_back(std::move(io));
    }
    h.count = 1;
    held_.push_back(std::move(h));
    return kStOk;
  }
  void release(const PciLocation &at) override {
    for (auto it = held_.begin(); it != held_.end(); ++it)
      if (it->at == at) {
        if (--it->count == 0) held_.erase(it);
        return;
      }
  }

  // The kernel maps a resource file from the page that holds the space's
  // start: the space begins at the start's offset within that page.
  uint32_t map_memory(const PciLocation &at, const PciResource &r, uint32_t *user) override {
    const std::string dir = folder(at);
    if (dir.empty()) return kStNotFound;
    const std::string name = "resource" + std::to_string(r.bar);
    Fd fd(::open((dir + "/" + name).c_str(), O_RDWR | O_SYNC | O_CLOEXEC));
    if (fd.get() < 0) {
      set_request_reason(open_reason(name, errno, true));
      return kStMapFailed;
    }
    const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    const uint64_t in_page = r.start % page;
    const size_t bytes = static_cast<size_t>((in_page + r.length + page - 1) / page * page);
    void *host = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (host == MAP_FAILED) {
      set_request_reason("cannot map " + name + ": " + std::strerror(errno));
      return kStMapFailed;
    }
    *user = mmio_map_host(static_cast<uint8_t *>(host) + in_page, static_cast<size_t>(r.length));
    if (*user == 0) {
      ::munmap(host, bytes);
      return kStMapFailed;
    }
    maps_[*user] = {host, bytes};
    return kStOk;
  }
  void unmap_memory(uint32_t user) override {
    auto it = maps_.find(user);
    if (it == maps_.end()) return;
    mmio_unmap(user);
    ::munmap(it->second.host, it->second.bytes);
    maps_.erase(it);
  }

  // Ports of registered cards only, through the open file of the I/O space
  // that holds the port.
  uint32_t port_io(uint64_t port, uint32_t bytes, bool write, uint64_t *value) override {
    if (bytes == 8) return kStInvalidParameter;  // the kernel moves at most 4 bytes per port access
    for (const Held &h : held_)
      for (const Held::Io &io : h.io) {
        if (port < io.start || port + bytes > io.start + io.length) continue;
        uint64_t v = write ? *value : 0;
        const auto at = static_cast<off_t>(port - io.start);
        const ssize_t n = write ? ::pwrite(io.fd.get(), &v, bytes, at) : ::pread(io.fd.get(), &v, bytes, at);
        if (n != static_cast<ssize_t>(bytes)) {
          set_request_reason(std::string("port access: ") + (n < 0 ? std::strerror(errno) : "short transfer"));
          return kStSystem;
        }
        if (!write) *value = v;
        return kStOk;
      }
    return kStInvalidParameter;
  }

 private:
  std::string folder(const PciLocation &at) {
    if (names_.empty()) functions();
    for (const auto &[loc, name] : names_)
      if (loc == at) return root_ + "/" + name;
    return {};
  }

  std::string root_;
  std::vector<std::pair<PciLocation, std::string>> names_;
  std::vector<Held> held_;
  std::map<uint32_t, Mapping> maps_;
};

}  // namespace

std::shared_ptr<RequestServer> make_sysfs_backend(const std::string &root) {
  return std::make_shared<RequestServer>(std::make_shared<SysfsHost>(root));
}

}  // namespace platform::driver
