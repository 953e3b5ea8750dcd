#pragma once
// Application registration and the registry layout the maker's applications
// share: every value lives under "Software\QV\<short name>" of the
// application's number, in the user's hive (HKEY_CURRENT_USER) or the
// machine-wide one (HKEY_LOCAL_MACHINE):
//
//   machine  (root)        InstallDir  string   the program's directory
//   machine  (root)        DataDir     string   default data directory (never written here)
//   user     (root)        FilePath    string   full path of the program
//   user     (root)        DataDir     string   the user's data directory
//   user     \FileDialog   FileDir1..7 string   directory history: 1 the program's
//                                               directory, 2 the most recent
//   user     \FileDialog   FileDir8    string   the entry pushed out of a full history
//   user     \OpenedFiles  NoOf<K>Entries  number  recent files of kind K (0..7)
//   user     \OpenedFiles  <K>FilePath1..7 string  recent files, 1 the most recent
//   user     \PanelAttr    per panel   binary   panel geometry (Util_fun_geometry.h)
//   user     \AppSettings  per record  binary   settings records (Util_fun_geometry.h)
//
// A kind K is the extension of a pattern path without its '.', upper case,
// cut to 3 characters ("*.set" gives SET; no extension the empty kind).
// Registry results are the store's negative codes (platform/win/registry.h).
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win/registry.h"

// The number of one of the maker's applications (0 to 19); it names the
// application's registry key.
typedef int QVAppNumber;
enum { QV_APP_COUNT = 20, QV_APP_KMV = 11, QV_APP_TRQ = 18 };

// Reads a string value in a registry view: option 1 the default view, 2 the
// 64-bit view, 3 the default view and, where the key or value is missing
// there, the 64-bit one. The size (without the NUL) is reported whenever the
// value exists; buffer may be null to ask for it. 0, or REG_ERR_NULL_ARGUMENT
// (subkey or size pointer null), REG_ERR_CANT_OPEN_KEY (also option 0),
// REG_ERR_NO_KEY, REG_ERR_NO_VALUE, REG_ERR_CANT_READ_VALUE,
// REG_ERR_WRONG_TYPE (not a string), REG_ERR_BUFFER_TOO_SMALL.
int RegReadStringExt(HKEY root, const char *subkey, const char *name, char *buffer, uint32_t buffer_size,
                     uint32_t *size, int option);

// Registers the application at start-up. program_path is the program's name
// (argv[0]) or null; force 0 writes only what is missing, > 0 rewrites every
// value, < 0 takes program_path as the program's path as it stands and skips
// the directory history. data_dir (260 characters, or null) gives the default
// data directory when it is not empty (when it is, the user's data directory
// of platform::user_data_dir is the default) and receives the user's data
// directory with a trailing '/'. Without a program path only the directory
// history is loaded. 0, or the negative result of the call that failed (a
// failed write of the machine-wide InstallDir is ignored).
int register_qv_app(QVAppNumber app, const char *program_path, int force, char *data_dir);

// The program's path into path (260 characters; it holds the fallback on
// entry): the user's, then the machine's FilePath when that file exists, else
// InstallDir plus the executable's name; with keep set, or when neither is
// found, a file dialog lets the operator choose. 0, -1 when cancelled or not
// found, or a registry error (application 10 only).
int find_qv_app(QVAppNumber app, char *path, int keep);

// Compares the user's DataDir with the machine-wide one under the key of the
// short name; mode 2 copies the machine's over a differing user's value.
// Returns -1 (a null argument or no machine-wide value), 2 (the machine's
// value could not be copied to the user's key), 3 (they differ and stay so),
// 4 (equal, or copied). out (260 characters) receives the resulting directory
// (mode 1 with differing values: the machine's) when it is not empty.
int find_data_dir(int mode, const char *short_name, char *out);

// The number of the maker's application whose identification the file at
// path carries (".set" and ".sdt" files); -1 for another extension or no
// match; the negated file error when the file cannot be opened.
int check_qv_file_type(const char *path);

// The module-type code an application writes into its tagged files' headers
// (104 for this program whatever the key; 92 for the PCI variant); 0 unknown.
int get_app_ident(QVAppNumber app, int key);
// The model name of a module-type code into name (21 bytes); "" for an unknown code.
void get_srv_name(int code, char *name);

namespace qv {
// Short name of an application ("TRQ" for 18); "" outside 0..19.
const char *app_short_name(QVAppNumber app);
// "Software\QV\<short name>" followed by suffix (which starts with '\').
std::string app_key(QVAppNumber app, const char *suffix = "");
}  // namespace qv
