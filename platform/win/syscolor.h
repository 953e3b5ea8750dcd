#pragma once
// System colours in the layout of the Windows colour values, 0x00BBGGRR.
#include <cstdint>

enum { COLOR_INFOTEXT = 23, COLOR_INFOBK = 24 };  // tool-tip text and background

// The colour of a system element; 0 for one it does not know.
uint32_t GetSysColor(int index);
