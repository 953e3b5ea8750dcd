// Control tables of the module columns and the state the column code shares.
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"

const int con_ctrls[2][5] = {{2, 3, 4, 5, 6}, {7, 8, 9, 10, 11}};
const int led_ctrls[2][4] = {{12, 13, 14, 15}, {17, 18, 19, 20}};
const int rst_ctrls[2][4] = {{30, 31, 32, 33}, {34, 35, 36, 37}};
const int cool_lim_ctrls[2][4] = {{22, 23, 24, 25}, {26, 27, 28, 29}};
const int warn_ctrls[2][4] = {{38, 39, 40, 41}, {42, 43, 44, 45}};

const int p12_ctrls[2][4] = {{2, 9, 18, 25}, {40, 47, 54, 61}};
const int p5_ctrls[2][4] = {{3, 10, 19, 26}, {41, 48, 55, 62}};
const int m5_ctrls[2][4] = {{4, 11, 20, 27}, {42, 49, 56, 63}};
const int ghv_ctrls[2][4] = {{5, 12, 21, 28}, {43, 50, 57, 64}};
const int cool_ctrls[2][4] = {{6, 13, 22, 29}, {44, 51, 58, 65}};
const int cool_curr_ctrls[2][4] = {{7, 14, 23, 30}, {45, 52, 59, 66}};
const int cool_volt_ctrls[2][4] = {{8, 15, 24, 31}, {46, 53, 60, 67}};
const int digout_ctrls_usb[2][8] = {{39, 38, 37, 36, 35, 34, 33, 32}, {75, 74, 73, 72, 71, 70, 69, 68}};
const int conf_column_ctrls[2][20] = {
    {103, 76, 110, 111, 106, 107, 108, 101, 102, 104, 96, 97, 98, 113, 114, 109, 105, 100, 99, 17},
    {91, 92, 87, 88, 77, 78, 82, 83, 93, 89, 85, 79, 84, 80, 81, 86, 90, 94, 95, 16},
};
const int volt_par_id[4][3] = {{3, 1, 2}, {10, 8, 9}, {17, 15, 16}, {24, 22, 23}};

int warn_color = 0xFF0000;
int act_warn_color = 0xFF0000;
int toggle_colour = 0x00B000;
int momentary_colour = 0xFF8C00;
int trq_scale_on_resize = 0;
int digout_menubar = 0;
int label_menubar = 0;
short gain_C1U_limit[4] = {100, 100, 100, 100};
short gain_C2U_limit[4] = {100, 100, 100, 100};
short gain_C3U_limit[4] = {100, 100, 100, 100};
short gain_C4U_limit[4] = {100, 100, 100, 100};

int column_of(short module) { return module == st_trq ? 0 : 1; }

short module_of(int column) { return column == 0 ? st_trq : nd_trq; }

namespace {
const platform::ui::CallbackBinding kBindings[] = {
    {"MainCtrlCallback", MainCtrlCallback},
    {"TimerCallback", TimerCallback},
};
}  // namespace

std::span<const platform::ui::CallbackBinding> kmv_syst_callbacks() { return kBindings; }
