#pragma once
// DDE library: named services that other programs of the same user talk to
// through conversations on a topic. A server's callback receives connect,
// disconnect, poked data and execute commands; a client connects, writes
// (pokes), reads and executes. Underneath lies one Unix-domain stream socket
// per service in the user's runtime directory; the server is served by the
// user-interface event loop, never inside another callback.
#include <string>

// Transaction types as the callbacks receive them.
enum {
  DDE_CONNECT = 1,
  DDE_DISCONNECT = 2,
  DDE_DATAREADY = 3,  // a client wrote (poked) data into an item
  DDE_REQUESTDATA = 4,  // a client reads an item
  DDE_ADVISELOOP = 5,
  DDE_ADVISESTOP = 6,
  DDE_EXECUTE = 7,  // the command text is the item
};

// Data format of plain text.
enum { DDE_TEXT = 1 };

// Results (0 or more = success).
enum {
  DDE_ERR_BAD_ARGUMENT = -1,
  DDE_ERR_NO_SERVER = -2,  // no server runs for that service
  DDE_ERR_REFUSED = -3,  // the server's callback refused, or it ended the conversation
  DDE_ERR_TIMEOUT = -4,
  DDE_ERR_BAD_CONVERSATION = -5,  // not an open conversation of this program
  DDE_ERR_SERVICE_TAKEN = -6,  // another server runs under that name
  DDE_ERR_SYSTEM = -7,  // a socket or file call failed
  DDE_ERR_UNSAFE_DIRECTORY = -8,  // the socket folder is not the user's own
  DDE_ERR_TOO_LARGE = -9,  // data beyond DDE_MAX_DATA
  DDE_ERR_FOREIGN_SERVER = -10,  // the socket's server runs as another user
  DDE_ERR_NOT_REGISTERED = -11,
  DDE_ERR_PROTOCOL = -12,  // the peer sent something that is not an answer
  DDE_ERR_CONVERSATION_ENDED = -13,  // the server closed it (the callback heard DDE_DISCONNECT)
};

// Longest service, topic and item name (bytes), longest data of one transaction.
enum { DDE_MAX_NAME = 255, DDE_MAX_DATA = 65536 };

// handle: the conversation; for DDE_EXECUTE the item is the command. For
// DDE_DATAREADY data holds size bytes (followed by a NUL that size does not
// count). For DDE_REQUESTDATA data is a zeroed buffer of size bytes that the
// callback may fill: text format answers up to its first NUL, other formats
// the whole buffer. Return 1 to accept, 0 to refuse.
typedef int (*DDEFuncPtr)(unsigned int handle, char *topicName, char *itemName, int xType, int dataFormat,
                          int dataSize, void *dataPtr, void *callbackData);

// 0, or DDE_ERR_SERVICE_TAKEN while another server (of any program) runs under
// the name; a socket left by a program that ended without unregistering is
// replaced. Service names compare without regard to ASCII case.
int RegisterDDEServer(const char *serviceName, DDEFuncPtr serverCallback, void *callbackData);
// Closes the service and its conversations (without callbacks).
int UnregisterDDEServer(const char *serviceName);

// Opens a conversation; *conversationHandle (> 0) names it afterwards. The
// client callback hears DDE_DISCONNECT when a later call finds that the
// server ended the conversation.
int ConnectToDDEServer(int *conversationHandle, const char *serviceName, const char *topicName,
                       DDEFuncPtr clientCallback, void *callbackData);
int DisconnectFromDDEServer(unsigned int conversationHandle);

// Time-outs in milliseconds. 0 for a write or execute sends without waiting
// for the answer. Write and execute return 0 when accepted; read returns the
// number of bytes received into the buffer.
int ClientDDEWrite(unsigned int conversationHandle, const char *itemName, int dataFormat, const void *dataPtr,
                   unsigned int dataSize, unsigned int timeout);
int ClientDDERead(unsigned int conversationHandle, const char *itemName, int dataFormat, void *dataBuffer,
                  unsigned int bufferSize, unsigned int timeout);
int ClientDDEExecute(unsigned int conversationHandle, const char *command, unsigned int timeout);

namespace platform::dde {

// Operator-readable text of a result code.
const char *error_text(int code);
// Detail of the last failure (which path, which system error); "" after success.
const std::string &last_error_detail();

// A server lets a conversation go (a newer client took over): its requests
// still reach the callback, but it is the first to be closed when the
// service needs room for a new client. Conversations beyond the service's
// room (32) are closed, the callback hearing DDE_DISCONNECT: first those let
// go, then the one idle longest, so a new client is always served.
void release_conversation(unsigned int handle);

// The time a connect waits for the server to accept (ms; default 10 000).
void set_connect_timeout(unsigned int milliseconds);

// Folder of the service sockets (created on demand), and a service's socket.
std::string socket_directory();
std::string socket_path(const char *serviceName);

}  // namespace platform::dde
