#include "app/kmv_io_body.h"

#include <cctype>
#include <cstring>

#include "support/Util_fun.h"

const char *const modparm_strings[SETUP_PARAMETER_COUNT] = {
    "MP_SNU",
    "MP_C1U_P5", "MP_C1U_M5", "MP_C1U_P12", "MP_C1U_GAIN_HV", "MP_C1U_COOLING", "MP_C1U_COOLVOLT", "MP_C1U_COOLCURR",
    "MP_C2U_P5", "MP_C2U_M5", "MP_C2U_P12", "MP_C2U_GAIN_HV", "MP_C2U_COOLING", "MP_C2U_COOLVOLT", "MP_C2U_COOLCURR",
    "MP_C3U_P5", "MP_C3U_M5", "MP_C3U_P12", "MP_C3U_GAIN_HV", "MP_C3U_COOLING", "MP_C3U_COOLVOLT", "MP_C3U_COOLCURR",
    "MP_C4U_P5", "MP_C4U_M5", "MP_C4U_P12", "MP_C4U_GAIN_HV", "MP_C4U_COOLING", "MP_C4U_COOLVOLT", "MP_C4U_COOLCURR",
    "MP_C5U_DIGOUT"};

int count_setup_modules(char *body) {
  if (body == nullptr) return 0;
  bool marked[3] = {false, false, false};
  for (const char *line = body; *line != '\0'; line += std::strlen(line) + 1) {
    const char *mp = std::strstr(line, "#MP");
    if (mp == nullptr) continue;
    const char *p = mp + 3;
    while (*p == ' ') ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) continue;
    int n = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
      if (n < 1000) n = n * 10 + (*p - '0');
    marked[lim(negative ? -n : n, 1, 2)] = true;
  }
  return (marked[1] ? 1 : 0) + (marked[2] ? 1 : 0);
}
