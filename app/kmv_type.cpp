#include "app/kmv_type.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/kmv_io_body.h"
#include "app/kmv_io_ident.h"
#include "platform/win/strings.h"
#include "support/Qv_file.h"
#include "support/Util_fun.h"

const ModuleModel kmvusb_app[] = {{200, "KMV-USB", "200", 104}};
const ModuleModel kmv_app[] = {{100, "KMV-100", "100", 92}};

namespace {

// A record that is released on every way out.
struct SetupRecord {
  SetupRecord() { create_empty_file(&record); }
  ~SetupRecord() { unlink_qvfile(&record); }
  SetupRecord(const SetupRecord &) = delete;
  SetupRecord &operator=(const SetupRecord &) = delete;
  FileRecord record{};
};

bool has_set_extension(const char *path) {
  char ext[FNSPLIT_EXT_SIZE];
  if ((fnsplit(path, nullptr, nullptr, nullptr, ext) & FNSPLIT_EXTENSION) == 0) return false;
  return StrICmp(ext, ".set") == 0;
}

// Steps shared by both models; count_modules only for this program's files.
int identify(const char *path, const char *ident, const ModuleModel &model, char *model_name, char *code_text,
             int *modules, bool count_modules) {
  if (path == nullptr || !has_set_extension(path)) return -1;
  SetupRecord file;
  if (open_qvfile(&file.record, path, nullptr) < 0) {
    // An open can fail with the code of a successful close left behind; it
    // must never read as "is a setup file".
    return file.record.error != 0 ? file.record.error : BFILE_OPEN;
  }
  int code = 0;
  if (valid_qvfile_ext(&file.record, ident, &code) == 0) return -1;

  char name[21] = "";
  if (code != 0) get_srv_name(code, name);
  if (name[0] != '\0') {
    if (count_modules && modules != nullptr) {
      *modules = 1;
      const int size = get_body(&file.record, nullptr);
      if (size > 0) {
        std::vector<char> body(static_cast<std::size_t>(size) + 2, '\0');
        if (get_body(&file.record, body.data()) > 0) {
          const int n = count_setup_modules(body.data());
          *modules = n != 0 ? n : 1;
        }
      }
    }
  } else {
    std::snprintf(name, sizeof name, "%s", model.name);
  }
  if (model_name != nullptr) std::snprintf(model_name, sizeof model.name, "%s", name);
  if (std::strcmp(name, model.name) != 0) return -1;
  if (code_text != nullptr) std::snprintf(code_text, sizeof model.code_text, "%s", model.code_text);
  return 0;
}

}  // namespace

int get_trq_type(const char *path, char *model_name, char *code_text, int *modules) {
  return identify(path, setupusb_identifier, kmvusb_app[0], model_name, code_text, modules, true);
}

int get_kmv_type(const char *path, char *model_name, char *code_text, int) {
  return identify(path, setup_identifier, kmv_app[0], model_name, code_text, nullptr, false);
}
