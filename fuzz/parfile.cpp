// Feeds arbitrary bytes as a parameter file through the marker test, the
// section search, the keyword reader with every type letter, and the
// writer, reading and writing in memory.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "fuzz/scratch.h"
#include "support/Util_fun_parfile.h"

namespace {

const char *const kSections[] = {"KMVUSB_BASE", "KMVUSB_MODULE1", "KMVUSB_MODULE12", "[", "", "A"};
const char *const kKeywords[] = {"SIMULATION_USB", "KMVUSB_ACTIVE", "C1U_P5V", "C1U_GAIN_HV", "NAME", "", "X"};
const char kLetters[] = "BCDFGHILMSUX?";
constexpr int kLettersPerKeyword = 3;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The marker test opens a file by name; one input in 16 takes that road.
  if (size > 0 && data[0] % 16 == 0 && fuzzing::write_scratch(data, size))
    check_if_valid(fuzzing::scratch_path().c_str(), "KMVUSB");

  // The readers and the writer work on streams: these lie in memory.
  std::string input(reinterpret_cast<const char *>(data), size);
  FILE *in = size > 0 ? fmemopen(input.data(), size, "rb") : std::fopen("/dev/null", "rb");
  if (in == nullptr) return 0;
  char *written = nullptr;
  size_t written_size = 0;
  FILE *out = open_memstream(&written, &written_size);

  // Each keyword is read with a few type letters, a different few for each
  // keyword, section and input, so an input tries every letter, and every
  // pair of keyword and letter is tried by some inputs.
  unsigned turn = 0;
  for (size_t i = 0; i < size; ++i) turn = turn * 31 + data[i];
  ParFileSection section{};
  create_parset(&section, static_cast<int32_t>(std::size(kKeywords)), kKeywords);
  for (const char *pattern : kSections) {
    section.pattern = pattern;
    const int32_t pos = get_section_pos(in, &section);
    for (int32_t k = -1; k <= section.count; ++k) {
      for (int j = 0; j < kLettersPerKeyword; ++j) {
        const char t = kLetters[turn++ % (std::size(kLetters) - 1)];
        // Room for the widest destination (S) and a guard that must stay intact.
        std::array<unsigned char, PARFILE_MAX_LINE + 1 + 8> dest{};
        get_parameter(in, &section, pos, k, dest.data(), t);
        for (size_t i = PARFILE_MAX_LINE + 1; i < dest.size(); ++i) {
          if (dest[i] != 0) std::abort();
        }
      }
    }
    if (out != nullptr) {
      const double value = 1.5;
      std::array<char, PARFILE_MAX_LINE + 2> line{};
      WriteModifiedParToFile(in, &section, pos, 3, &value, 'D', line.data(), out, 1);
      WriteModifiedParToFile(in, &section, pos, 4, "text", 'S', line.data(), out, 1);
    }
  }
  std::free(section.keywords);

  std::rewind(in);
  std::array<char, PARFILE_MAX_LINE + 1> line{};
  for (int n = 0; n < 100000 && read_string(in, line.data(), PARFILE_MAX_LINE) > 0; ++n) {
  }
  if (out != nullptr) std::fclose(out);
  std::free(written);
  std::fclose(in);
  return 0;
}
