#pragma once
// Where the program lives and which directory is current.
#include <string>

namespace platform {
// Directory of the running executable, without a trailing '/'; "" when it
// cannot be found (an emulator may be unable to resolve it for a user who
// cannot pass through the folders above it).
std::string program_dir();
// This user's home: $HOME, else the passwd entry's folder; "" when neither.
// A relative HOME is taken as unset.
std::string home_dir();
// Tests may pretend the program lies elsewhere ("" returns to the real one),
// or that its folder cannot be found.
void set_program_dir(const std::string &dir);
void set_program_dir_unknown();
// The data directory of an application (a lower-case short name such as
// "trq"): $XDG_DATA_HOME/qv/<app> (default ~/.local/share/qv/<app>), created
// when missing; without a trailing '/'. Empty when there is no home at all,
// or when the folder cannot be made or written; then the caller keeps the
// data in fallback, and that is said once on standard error, naming
// fallback ("" for none: the data cannot be kept).
std::string user_data_dir(const std::string &app, const std::string &fallback);
// The same with the program's directory as the fallback.
std::string user_data_dir(const std::string &app);
}  // namespace platform

// Copies the program directory (no trailing '/') into dir, which holds
// 260 characters. 0 on success, -1 when it does not fit or cannot be found.
int GetProjectDir(char dir[]);
// Current directory into dir (260 characters); 0 or -1.
int GetDir(char dir[]);
// Makes dir the current directory; 0 or -1.
int SetDir(const char dir[]);
// Makes drive 0..25 (A..Z) current. Linux has one file tree and no drives:
// a drive number is taken without effect (0); -1 for any other number.
int SetDrive(int drive);
// Full path of a file of the program into full (260 characters): a rooted
// name as it stands, otherwise its file name in the program directory (a
// relative directory in name is the caller's working directory's, not the
// program's). 0, or -1 for an empty name or a result that does not fit.
int GetFullPathFromProject(const char name[], char full[]);
