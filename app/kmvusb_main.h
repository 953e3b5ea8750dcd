#pragma once
// The operator program's start-up and shut-down, its main window and the
// callbacks of the window that are not module-column parameters.
#include <span>

#include "modules/kmv_fun.h"
#include "platform/ui/ui.h"
#include "support/File.h"
#include "support/Util_fun_geometry.h"

// ---- start-up ---------------------------------------------------------------------
extern int qv_app_type;        // the program's application number (18)
extern int qv_production;      // -qv: the EEPROM page may rewrite the identification
extern int server;             // a DDE server is wanted
extern int server_active;      // the DDE server is registered
extern int client_active;      // a DDE client is connected (never set here)
extern short silent_start;     // -silent: no start-up message boxes
extern int trq_expanded;       // 1 while the module columns are shown expanded
extern char pdata_dir[FILE_PATH_SIZE];      // the data directory, ending in '/'
extern char kmv_ini_file[FILE_PATH_SIZE];   // the module library's ini file
extern char auto_set_file[FILE_PATH_SIZE];  // applied at start; written on quit
extern short in_use[4];
extern char module_type_txt[4][20];  // display name of each module slot
extern int hard_possible;            // hardware mode and at least one module found
extern short no_of_ok_kmv;
extern int info_switch;  // -info: no interactive start-up dialog
extern int reg_switch;   // -reg: the registration rewrites every entry

// The start values of the run's globals (before the command line is read).
void set_start_values(void);

// Results of reading the command line: 0, or -1 after a message on standard
// error when a file name does not fit its buffer.
int read_switches(int argc, char *argv[]);

// The whole run: start-up, the main window until quit, shut-down. 0 after a
// normal quit, -1 when start-up failed or the operator left the start-up dialog.
int trq_main(int argc, char *argv[]);
void shutdown(void);
// SIGINT, SIGTERM and SIGHUP run the quit path (quit_on_request); SIGXFSZ is
// ignored, so a save over a file-size limit fails as a write.
void install_quit_signals(void);
// auto_set_file and the error-output file in pdata_dir.
void set_data_dir_files(void);
int kmvusb_info(int about, int interactive);
void init_kmvusb_info(int panel, int first, int about, short mode);
void get_kmv_module_type_txt(int module);
// The start-up dialog's panel (0 before it was loaded); the window makes it its "Info" page.
int kmvusb_info_dialog(void);

// ---- main window --------------------------------------------------------------------
extern int done;            // 1 once the quit was confirmed
extern char *status_text;   // 512 bytes while the window runs
extern PanelAttrEntry pnldata[1];
extern int trq_expanded_height;  // height of the window with the columns expanded
extern KMVUSBEepromData usb_eep[4];

// 0 after the window ran until quit, -1 when it could not be built.
int manage_meas_panel(void);
void init_option_panel(int first);
void set_startup_output_boxes(void);
void dim_output_controls(int column, int output, int enabled);
void keep_output_masks(void);
// 0, or the registry's result of the failed write.
int save_panel_geometry(void);
// The quit path without asking whether (a quit signal): saves as the quit
// popup's box says by default and ends the event loop; with the quit popup
// open, that popup ends as its box says.
void quit_on_request(void);
void init_adjustusb_panel(int module, int read_eeprom, KMVUSBEepromData *data);

int LoadTrqCallback(int panel, int control, int event, void *callback_data, int event_data1, int event_data2);
int SaveTrqCallback(int panel, int control, int event, void *callback_data, int event_data1, int event_data2);
int PanelCallback(int panel, int event, void *callback_data, int event_data1, int event_data2);
int TrqCtrlCallback(int panel, int control, int event, void *callback_data, int event_data1, int event_data2);
int TrqConf_Callback(int panel, int event, void *callback_data, int event_data1, int event_data2);
int ScaleCallback(int menubar, int item, void *callback_data, int panel);
int EnOutCallback(int menubar, int item, void *callback_data, int panel);
int FloatCallback(int menubar, int item, void *callback_data, int panel);
int ExitCallbackUsb(int panel, int control, int event, void *callback_data, int event_data1, int event_data2);
int OptCtrlCallback(int panel, int control, int event, void *callback_data, int event_data1, int event_data2);
int Trqopt_Callback(int panel, int event, void *callback_data, int event_data1, int event_data2);
int TRQ_AdjustCallback(int panel, int control, int event, void *callback_data, int event_data1, int event_data2);
int Trqeep_Callback(int panel, int event, void *callback_data, int event_data1, int event_data2);

// Every callback the resource names, by name: these and the module columns'.
std::span<const platform::ui::CallbackBinding> trq_callbacks();
