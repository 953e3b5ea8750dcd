#pragma once
// Temporaries that writers make beside the file they replace: named
// <file><mark> followed by mkstemp's six letters or digits, written, then
// renamed over the file. A writer that is killed leaves its temporary behind;
// these find such leftovers.
#include <functional>
#include <string>
#include <string_view>

namespace platform {

constexpr std::size_t kTempRandomChars = 6;

// Whether name (a file name, no directory) is a temporary of file with mark.
bool is_temp_of(std::string_view name, std::string_view file, std::string_view mark);
// Calls each with the path of every regular file of dir (a symbolic link is
// none) that is a temporary of file with mark.
void for_each_temp_of(const std::string &dir, std::string_view file, std::string_view mark,
                      const std::function<void(const std::string &path)> &each);
// The same in the folder open as dir_fd; each gets the file's name.
void for_each_temp_at(int dir_fd, std::string_view file, std::string_view mark,
                      const std::function<void(const std::string &name)> &each);
// Creates a new temporary of file with mark in the folder open as dir_fd
// (mode 0600, never through a link, never an existing file): its descriptor
// and *name, or -1 with errno.
int make_temp_at(int dir_fd, const std::string &file, std::string_view mark, std::string *name);

}  // namespace platform
