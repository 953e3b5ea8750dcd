#pragma once
// Folders that must be this user's own: the remote control's socket folder,
// the settings folder. Whoever can write a folder can put files in it that
// the program would take for its own.
#include <string>

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

// Examines path with lstat (a link is not followed): a folder of this
// process's user, not writable by others. needs: kFolder* bits. *why (may be
// null) gets an operator-readable reason when the result is not ok.
FolderCheck own_folder(const std::string &path, int needs, std::string *why);

}  // namespace platform
