// Feeds arbitrary bytes as a parameter file through the marker test, the
// section search, every type letter of the keyword reader and the writer.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (!fuzzing::write_scratch(data, size)) return 0;
  const std::string &input_path = fuzzing::scratch_path();

  check_if_valid(input_path.c_str(), "KMVUSB");
  FILE *in = std::fopen(input_path.c_str(), "rb");
  if (in == nullptr) return 0;
  FILE *out = std::tmpfile();

  ParFileSection section{};
  create_parset(&section, static_cast<int32_t>(std::size(kKeywords)), kKeywords);
  for (const char *pattern : kSections) {
    section.pattern = pattern;
    const int32_t pos = get_section_pos(in, &section);
    for (int32_t k = -1; k <= section.count; ++k) {
      for (const char *t = kLetters; *t != '\0'; ++t) {
        // Room for the widest destination (S) and a guard that must stay intact.
        std::array<unsigned char, PARFILE_MAX_LINE + 1 + 8> dest{};
        get_parameter(in, &section, pos, k, dest.data(), *t);
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
  std::fclose(in);
  return 0;
}
