#pragma once
// Remote control of the program: a DDE server on the topic "DDE Data
// Exchange" under the module type text ("KMV-USB"). A client pokes a setup
// file's name into "File_Name" to have it loaded, or executes "Quit" to end
// the program as the quit button does. The client half (connect to another
// server, read, write, execute "Quit") has no caller in this program.

// The one open conversation, server or client; -1 = none.
extern int dde_handle;

// ---- server -----------------------------------------------------------------
// 0 when the service is registered; any other value leaves the program
// without remote control (a warning tells why, unless the start is silent).
int ActivateServer(const char *service);
int DeactivateServer(const char *service);
// 1 accepted, 0 refused. Requests must come on the last conversation that
// connected and name the topic; pokes must be text.
int ddeServerCallback(unsigned int handle, char *topic, char *item, int type, int format, int size, void *data,
                      void *callback_data);
// "Quit" (exactly so) quits as the quit button does; anything else is ignored.
void ddeHandleExecute(const char *command);
// "File_Name" loads client_fname; other items do nothing.
void update_server(const char *item);
// The quit button's callback, confirmation included, while the server is registered.
void quit_server(void);

// ---- client (results of the library calls unless said otherwise) ------------
int ActivateClient(const char *server);
int ClientDDECallback(unsigned int handle, char *topic, char *item, int type, int format, int size, void *data,
                      void *callback_data);
int ActivateClientID(const char *server, int *handle);
int ClientDDECallbackID(unsigned int handle, char *topic, char *item, int type, int format, int size, void *data,
                        void *callback_data);
int DeactivateClient(void);
int DeactivateClientID(int *handle);
int DeactivateAndQuitClient(void);
int DeactivateAndQuitClientID(int *handle);
// -1 without a conversation.
int ClientSendData(const char *item, void *data, int size);
int ClientGetData(const char *item, void *buffer, int size);
