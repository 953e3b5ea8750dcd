#pragma once
// Application globals of the setup-file road, shared with the start-up, the
// DDE server and the main window's load and drop paths.
#include "support/File.h"

extern FileRecord *setup_file;       // the record every setup file goes through
extern char setup_file_name[FILE_PATH_SIZE];  // path of the current setup file
extern char setup_name[FILE_PATH_SIZE];       // file-name part of the last load
extern char data_dir[FILE_PATH_SIZE];         // the dialogs' current directory
extern char client_fname[FILE_PATH_SIZE];     // a file to load without the operator
extern int cmd_load_file;                     // set: load client_fname at once
