#pragma once
// Which program and module model a setup file was written for.

// One module model: its module type, model name, code text and the
// module-type code its setup files carry in their header.
struct ModuleModel {
  int type;
  char name[21];
  char code_text[11];
  int file_code;
};
// The model tables; only their first rows are searched.
extern const ModuleModel kmvusb_app[];
extern const ModuleModel kmv_app[];

// 0 when path is a setup file of this program written for the KMV-USB model
// (model_name 21 bytes, code_text 11 bytes, *modules the number of module
// blocks, at most 2; left alone for files without a module-type code); -1 when
// it is not; the positive file error code when the file cannot be opened.
int get_trq_type(const char *path, char *model_name, char *code_text, int *modules);
// The same for setup files of the PCI variant; the last argument is not read.
int get_kmv_type(const char *path, char *model_name, char *code_text, int unused);
