#pragma once
// Where the program lives and which directory is current.
#include <string>

namespace platform {
// Directory of the running executable, without a trailing '/'.
std::string program_dir();
// Tests may pretend the program lies elsewhere ("" returns to the real one).
void set_program_dir(const std::string &dir);
}  // namespace platform

// Copies the program directory (no trailing '/') into dir, which holds
// 260 characters. 0 on success, -1 when it does not fit or cannot be found.
int GetProjectDir(char dir[]);
// Current directory into dir (260 characters); 0 or -1.
int GetDir(char dir[]);
// Makes dir the current directory; 0 or -1.
int SetDir(const char dir[]);
