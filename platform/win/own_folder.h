#pragma once
// Folders that must be this user's own: the remote control's socket folder,
// the settings folder. Whoever can write a folder can put files in it that
// the program would take for its own.
#include <string>
#include <system_error>

namespace platform {

enum class FolderCheck {
  ok,
  missing,         // not there, and not to be made
  system_error,    // it could not be made or examined
  not_own,         // a link, no folder, or another user's
  open_to_others,  // others may write into it (or enter it, for a private one)
};

enum FolderNeeds {
  kFolderCreate = 1,   // make it (mode 0700) when missing
  kFolderPrivate = 2,  // nobody else may even enter it; an open one of ours is closed (0700)
};

// Opens path as a folder, a link at its last part not followed, and examines
// what was opened: a folder of this process's user, not writable by others.
// needs: kFolder* bits. On ok *fd is the open folder (close-on-exec): reach
// its files only through it (openat, renameat, unlinkat), never by the name
// again, which whoever can write the folder above may meanwhile point at
// another folder. Otherwise *fd is -1 and *why (may be null) gets an
// operator-readable reason.
FolderCheck open_own_folder(const std::string &path, int needs, int *fd, std::string *why);

// Makes the folder path and those of its parents that are missing, each new
// one for this user alone (0700, whatever the umask lets through), as the
// XDG rules ask; folders already there are left as they are. True when path
// is a folder then; else ec says why.
bool make_private_folders(const std::string &path, std::error_code &ec);

}  // namespace platform
