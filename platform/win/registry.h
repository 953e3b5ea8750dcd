#pragma once
// The registry: a store of keys and named values in two hives, each kept in a
// plain text file.
//
//   HKEY_CURRENT_USER   $XDG_CONFIG_HOME/qv/user.reg (default ~/.config/qv/; with
//                       no home at all /tmp/qv-config-<uid>/, private to the user)
//   HKEY_LOCAL_MACHINE  /etc/qv/machine.reg (ordinary users cannot write it)
//   QV_REGISTRY_DIR     when set, both files lie in that folder
//
// Keys are paths with '\' between their parts ("Software\QV\TRQ\FileDialog");
// key and value names compare without regard to case and keep the case they
// were first written in. A write creates the key and its parents. Every write
// re-reads the file under a lock (<file>.lock), changes it and replaces it
// atomically (a temporary file <file>.tmp.XXXXXX, then rename), so a killed
// program leaves the old or the new file and two programs never lose each
// other's values. The temporary a killed write leaves is removed by the next
// write, under the lock.
//
// File format, one line each:
//   ; comment                      (the writer puts one at the top)
//   [Software\QV\TRQ]               a key; '%XX' stands for ']', '[', '%' and
//                                   control characters in names
//   "DataDir"=sz:"/home/u/qv/"      string; \\ \" \n \r \t \xHH escapes
//   "Path"=expand_sz:"$HOME/x"      expandable string (read back unexpanded)
//   "NoOfSETEntries"=dword:3        32-bit number, decimal (0x... is read too)
//   "Main"=hex:23,00,00,00          binary bytes
// A damaged line is passed over; a value whose name is readable but whose data
// is not stays in the file as it was and reads as REG_ERR_CANT_READ_VALUE. The
// next write keeps a copy of a damaged file as <file>.damaged. Comments are
// not kept by a write.
//
// Sizes: a string's size is its length without the NUL (an empty string has
// size 0); reading it needs a buffer of size + 1 bytes. Binary values have
// their byte count, numbers 4.
#include <cstdint>
#include <string>

// The two hives.
enum HKEY : int32_t { HKEY_CURRENT_USER = 1, HKEY_LOCAL_MACHINE = 2 };

// Value types.
enum { REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4 };

// Views of a key (option bits of RegOpenKeyInView): both show the same store.
enum { REG_VIEW_DEFAULT = 1, REG_VIEW_64 = 2 };

// Result codes (the toolbox's numbers).
enum {
  REG_ERR_BUFFER_TOO_SMALL = -57,  // the buffer cannot hold the value
  REG_ERR_NULL_ARGUMENT = -65,     // a required argument is null
  REG_ERR_CANT_OPEN_KEY = -5065,   // bad hive or view, hive unreadable, or not writable
  REG_ERR_CANT_WRITE = -5066,      // the hive file could not be replaced
  REG_ERR_CANT_READ_VALUE = -5067, // the value's stored data is damaged
  REG_ERR_NO_VALUE = -5068,
  REG_ERR_WRONG_TYPE = -5069,      // the value is not of the type the call reads
  REG_ERR_NO_KEY = -5070,
};

// A null value name means the key's unnamed value (""). The subkey must not
// be null ("" is the hive's top). Sizes reported through a null pointer are
// not reported.

// Type and size of a value.
int RegQueryInfoOnValue(HKEY root, const char *subkey, const char *name, uint32_t *type, uint32_t *size);

// A string (REG_SZ or REG_EXPAND_SZ). With a null buffer only the size is
// reported; the size is reported also when the buffer is too small.
int RegReadString(HKEY root, const char *subkey, const char *name, char *buffer, uint32_t buffer_size,
                  uint32_t *size);
int RegWriteString(HKEY root, const char *subkey, const char *name, const char *text);
int RegWriteExpandString(HKEY root, const char *subkey, const char *name, const char *text);

// A 32-bit number (REG_DWORD).
int RegReadULong(HKEY root, const char *subkey, const char *name, uint32_t *value);
int RegWriteULong(HKEY root, const char *subkey, const char *name, uint32_t value);

// Binary bytes (REG_BINARY). A stored value shorter than the buffer fills only
// its first bytes and leaves the rest as it was; a longer one is not read.
int RegReadBinary(HKEY root, const char *subkey, const char *name, unsigned char *buffer, uint32_t buffer_size,
                  uint32_t *size);
int RegWriteBinary(HKEY root, const char *subkey, const char *name, const unsigned char *data, uint32_t size);

// Keys opened in a view: a handle holds the key's values as they were when it
// was opened. view is a combination of REG_VIEW_*; 0 fails.
int RegOpenKeyInView(HKEY root, const char *subkey, int view, int *key);
// Type and size of a value of an open key.
int RegQueryKeyValue(int key, const char *name, uint32_t *type, uint32_t *size);
// The value's data into buffer: a string with its NUL, other types as bytes.
int RegReadKeyValue(int key, const char *name, void *buffer, uint32_t buffer_size);
int RegCloseKey(int key);

// Text of a result code of the toolbox (the registry's among them); never null.
const char *GetGeneralErrorString(int code);

namespace platform::registry {

// Path of a hive's file as things stand (environment and home directory).
std::string hive_file(HKEY root);
// Why the hive is refused as things stand ("" when it is not): the user's
// folder is a link, belongs to another user or others can write it, or the
// hive file is no plain file (then it is neither read nor written), or the
// hive file is read-only (then it is not written). Each read and write opens
// the folder once, checks it on what was opened and reaches its files only
// through it.
// Writes refused so return REG_ERR_CANT_OPEN_KEY; the reason is also said
// once on standard error.
std::string problem(HKEY root);
// Tests: makes a hive refuse writes as a user without rights would see it.
void set_read_only(HKEY root, bool on);
// Tests: keys opened and not closed.
int open_keys();

}  // namespace platform::registry
