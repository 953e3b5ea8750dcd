#pragma once
// A product record for FT_EE_Read / FT_EE_Program with room for its strings.
#include <array>

#include "platform/d2xx/ftd2xx.h"

namespace ftdi_test {

struct ProgramData {
  std::array<char, 32> manufacturer{};
  std::array<char, 16> manufacturer_id{};
  std::array<char, 64> description{};
  std::array<char, 16> serial{};
  FT_PROGRAM_DATA data{};
  ProgramData() {
    data.Signature1 = FT_EE_SIGNATURE1;
    data.Signature2 = FT_EE_SIGNATURE2;
    data.Version = 5;
    data.Manufacturer = manufacturer.data();
    data.ManufacturerId = manufacturer_id.data();
    data.Description = description.data();
    data.SerialNumber = serial.data();
  }
  ProgramData(const ProgramData &) = delete;  // the record points into itself
  ProgramData &operator=(const ProgramData &) = delete;
};

}  // namespace ftdi_test
