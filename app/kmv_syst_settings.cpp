// The settings record and the panel-wide scaling switch.
#include "app/kmv_syst_settings.h"

#include "platform/ui/ui.h"

AppAttrRecord AppAttr = {};

int trq_panel = 0;
int trq_ctrl_panel = 0;
int trq_opt_panel = 0;
int trq_adjust_panel = 0;
int trq_info_panel = 0;
int trq_info_list_panel = 0;

void set_appattr_defaults(void) {
  if (AppAttr.float_mode == 0) {
    for (int16_t &q : AppAttr.quit_outputs) q = 0;
    for (int16_t &s : AppAttr.start_outputs) s = 0;
    AppAttr.scale = 1;
    AppAttr.float_mode = 1;
  }
  // A record from another version or a damaged store is read safely.
  if (AppAttr.scale != 1 && AppAttr.scale != 2) AppAttr.scale = 1;
  if (AppAttr.float_mode != 1 && AppAttr.float_mode != -50) AppAttr.float_mode = 1;
  for (auto &module : AppAttr.labels)
    for (auto &label : module) label[APPATTR_LABEL_SIZE - 1] = '\0';
}

void set_all_panels_attr(int value) {
  for (int panel : {trq_panel, trq_ctrl_panel, trq_opt_panel, trq_adjust_panel, trq_info_panel,
                    trq_info_list_panel})
    if (panel > 0) SetPanelAttribute(panel, ATTR_SCALE_CONTENTS_ON_RESIZE, value);
}
