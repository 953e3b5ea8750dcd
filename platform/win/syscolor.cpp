#include "platform/win/syscolor.h"

uint32_t GetSysColor(int index) {
  switch (index) {
    case COLOR_INFOTEXT: return 0x00000000;  // black
    case COLOR_INFOBK: return 0x00E1FFFF;    // pale yellow (R FF, G FF, B E1)
    default: return 0;
  }
}
