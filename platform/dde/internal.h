#pragma once
// State shared by the files of the DDE library; not for its users.
#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace platform::dde::detail {

// Conversation handles, unique in the process for servers and clients alike.
unsigned int next_handle();

// Keeps the reason of a failure for last_error_detail(); returns code.
int fail(int code, const std::string &detail);
void clear_error();

// The user whose peers are let in (this process's user; tests may pretend another).
uid_t owner_uid();
void set_owner_uid(uid_t uid);
// Whether the peer of a connected socket runs as the owner.
bool peer_is_owner(int fd);

// Opens the socket folder and checks on what was opened that it is the
// owner's alone, creating it when missing (create) or else answering
// DDE_ERR_NO_SERVER for a missing one: 0, the path and *dir_fd (the open
// folder, for the caller to close), or a DDE_ERR_* code.
int ensure_directory(std::string *path, bool create, int *dir_fd);
// Runs op (a bind or a connect) with the address of the socket name in the
// open folder dir_fd (whose path is dir): through /proc/self/fd, so that the
// address reaches that folder whatever its path is meanwhile made to lead to.
// Where /proc is not there, the path; the caller then checks what it
// reached. op's result, with its errno.
int at_address(int dir_fd, const std::string &dir, const std::string &name,
               const std::function<int(const sockaddr *, socklen_t)> &op);
// Tests: acts as where /proc is not there.
void set_descriptor_paths(bool allowed);
// The socket folder, whether it exists or not.
std::string directory();
// File name (without folder and extension) of a service; "" when the name is unusable.
std::string service_file(const char *service);

// Milliseconds left until a deadline (0 when passed). Socket waits run on the
// real clock even when tests run the program's clock virtually: the peer is real.
using Deadline = std::chrono::steady_clock::time_point;
Deadline deadline_in(unsigned int milliseconds);
int ms_left(Deadline d);

}  // namespace platform::dde::detail
