#include "app/kmv_io_globals.h"

namespace {
FileRecord setup_file_record{0, 0, FILE_STATE_EMPTY, "", nullptr};
}  // namespace

FileRecord *setup_file = &setup_file_record;
char setup_file_name[FILE_PATH_SIZE] = "";
char setup_name[FILE_PATH_SIZE] = "";
char data_dir[FILE_PATH_SIZE] = "";
char client_fname[FILE_PATH_SIZE] = "";
int cmd_load_file = 0;
