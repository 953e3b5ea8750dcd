// The remote-control server and client over the DDE library. The library
// calls the server callback from the event loop only while no other callback
// runs, so a load or the quit popup started here runs to its end undisturbed.
#include "app/qv_dde.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/kmv_io_globals.h"
#include "app/kmv_meas.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/dde/dde.h"
#include "platform/ui/ui.h"
#include "support/Qv_err.h"

int dde_handle = -1;

namespace {

constexpr const char *kTopic = "DDE Data Exchange";
constexpr const char *kFileItem = "File_Name";
constexpr const char *kQuit = "Quit";
constexpr int kWriteTimeout = 20000;  // ms
constexpr int kReadTimeout = 10000;

bool on_topic(const char *topic) { return topic != nullptr && std::strcmp(topic, kTopic) == 0; }

bool is_item(const char *item, const char *name) { return item != nullptr && std::strcmp(item, name) == 0; }

// The poked text up to its first NUL, cut to what client_fname holds.
void take_file_name(const void *data, int size) {
  std::size_t n = 0;
  if (data != nullptr && size > 0) {
    const auto *text = static_cast<const char *>(data);
    n = strnlen(text, std::min(static_cast<std::size_t>(size), sizeof client_fname - 1));
    std::memcpy(client_fname, text, n);
  }
  client_fname[n] = '\0';
}

int connect_client(const char *server, int *handle, DDEFuncPtr callback) {
  if (*handle != -1) return 0;
  return ConnectToDDEServer(handle, server, kTopic, callback, nullptr);
}

int disconnect_client(int *handle) {
  if (*handle == -1) return 0;
  const int r = DisconnectFromDDEServer(static_cast<unsigned int>(*handle));
  *handle = -1;
  return r;
}

int quit_client(int *handle) {
  if (*handle != -1) ClientDDEExecute(static_cast<unsigned int>(*handle), kQuit, 0);
  return disconnect_client(handle);
}

}  // namespace

// ---- server -----------------------------------------------------------------

int ActivateServer(const char *service) {
  const int r = RegisterDDEServer(service, ddeServerCallback, nullptr);
  if (r != 0 && !silent_start) {
    const std::string &detail = platform::dde::last_error_detail();
    error("DDE_NO_SERVER", service, detail.empty() ? platform::dde::error_text(r) : detail.c_str());
  }
  return r;
}

int DeactivateServer(const char *service) { return UnregisterDDEServer(service); }

int ddeServerCallback(unsigned int handle, char *topic, char *item, int type, int format, int size, void *data,
                      void *) {
  if (type != DDE_CONNECT && static_cast<int>(handle) != dde_handle) return 0;
  if (type != DDE_DISCONNECT && !on_topic(topic)) return 0;
  switch (type) {
    case DDE_CONNECT:
      // The latest client takes over; the earlier one is refused from now on,
      // and the library may close it to make room.
      if (dde_handle != -1 && dde_handle != static_cast<int>(handle))
        platform::dde::release_conversation(static_cast<unsigned int>(dde_handle));
      dde_handle = static_cast<int>(handle);
      return 1;
    case DDE_DISCONNECT: dde_handle = -1; return 1;
    case DDE_DATAREADY:
      if (format != DDE_TEXT) return 0;
      if (is_item(item, kFileItem)) {
        take_file_name(data, size);
        update_server(kFileItem);
      } else if (is_item(item, "Data_End")) {
        update_server("Data_End");
      }
      return 1;
    case DDE_REQUESTDATA:
    case DDE_ADVISELOOP:
    case DDE_ADVISESTOP: return 1;
    case DDE_EXECUTE: ddeHandleExecute(item); return 1;
    default: return 0;
  }
}

void ddeHandleExecute(const char *command) {
  if (command != nullptr && std::strcmp(command, kQuit) == 0) quit_server();
}

void update_server(const char *item) {
  if (!is_item(item, kFileItem)) return;
  cmd_load_file = 1;
  LoadTrqCallback(trq_opt_panel, OPT_LOAD, EVENT_COMMIT, nullptr, 0, 0);
  cmd_load_file = 0;
}

void quit_server(void) {
  if (server_active) ExitCallbackUsb(trq_panel, MAIN_QUIT, EVENT_COMMIT, nullptr, 0, 0);
}

// ---- client -------------------------------------------------------------------

int ActivateClient(const char *server) { return connect_client(server, &dde_handle, ClientDDECallback); }

int ClientDDECallback(unsigned int handle, char *, char *, int type, int, int, void *, void *) {
  if (static_cast<int>(handle) != dde_handle) return 0;
  switch (type) {
    case DDE_CONNECT: dde_handle = static_cast<int>(handle); return 1;
    case DDE_DISCONNECT: dde_handle = -1; return 1;
    case DDE_DATAREADY:  // "Svr_Space" or any other item: nothing to do
    case DDE_REQUESTDATA: return 1;
    default: return 0;
  }
}

int ActivateClientID(const char *server, int *handle) {
  if (handle == nullptr) return DDE_ERR_BAD_ARGUMENT;
  return connect_client(server, handle, ClientDDECallbackID);
}

int ClientDDECallbackID(unsigned int handle, char *, char *, int type, int, int, void *, void *) {
  return static_cast<int>(handle) == dde_handle && type >= DDE_CONNECT && type <= DDE_REQUESTDATA ? 1 : 0;
}

int DeactivateClient(void) { return disconnect_client(&dde_handle); }

int DeactivateClientID(int *handle) { return handle == nullptr ? DDE_ERR_BAD_ARGUMENT : disconnect_client(handle); }

int DeactivateAndQuitClient(void) { return quit_client(&dde_handle); }

int DeactivateAndQuitClientID(int *handle) { return handle == nullptr ? DDE_ERR_BAD_ARGUMENT : quit_client(handle); }

int ClientSendData(const char *item, void *data, int size) {
  if (dde_handle == -1 || size < 0) return -1;
  return ClientDDEWrite(static_cast<unsigned int>(dde_handle), item, DDE_TEXT, data, static_cast<unsigned int>(size),
                        kWriteTimeout);
}

int ClientGetData(const char *item, void *buffer, int size) {
  if (dde_handle == -1 || size < 0) return -1;
  return ClientDDERead(static_cast<unsigned int>(dde_handle), item, DDE_TEXT, buffer, static_cast<unsigned int>(size),
                       kReadTimeout);
}
