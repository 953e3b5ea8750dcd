// The tagged-file reader on any bytes: identification, every section reader
// with the buffers sized as the application sizes them, the older header form.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/scratch.h"
#include "support/File.h"
#include "support/Qv_file.h"

namespace {
const char kIdent[] = "\x04TRQ Setup File\x04";
const char kFamily[] = "\x04LMR DLL Data File\x04";

void read_section(FileRecord *r, int which) {
  auto call = [&](char *buf) {
    switch (which) {
      case 0: return get_info(r, buf, kIdent);
      case 1: return get_body(r, buf);
      default: return get_bin_body(r, buf);
    }
  };
  const int size = call(nullptr);
  if (size <= 0 || size > (1 << 20)) return;
  std::vector<char> buf(static_cast<size_t>(size));
  call(buf.data());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (!fuzzing::write_scratch(data, size)) return 0;
  const std::string &path = fuzzing::scratch_path();

  FileRecord r{};
  create_empty_file(&r);
  if (open_qvfile(&r, path.c_str(), nullptr) == 1) {
    int code = 0;
    valid_qvfile(&r, kIdent, 1);
    valid_qvfile(&r, kFamily, 1);
    valid_qvfile_ext(&r, kIdent, &code);
    for (int which = 0; which < 3; ++which) read_section(&r, which);
    get_body(&r, reinterpret_cast<char *>(static_cast<intptr_t>(-1)));
    int16_t item_size = 0, item_count = 0;
    const int descr = get_measure_info(&r, nullptr, &item_size, &item_count);
    if (descr > 0 && descr <= (1 << 20)) {
      std::vector<char> buf(static_cast<size_t>(descr));
      get_measure_info(&r, buf.data(), &item_size, &item_count);
    }
    valid_ruk_file(&r, "RUK");
  }
  unlink_qvfile(&r);
  return 0;
}
