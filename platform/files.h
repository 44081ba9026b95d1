#pragma once
// Files and folders. Every name here is a file-system name: the bytes the
// file system holds, used as they are (the names the program makes are
// UTF-8).

#include <string>
#include <string_view>

namespace ah {

// File systems take names of up to 255 bytes; a name made from a site's
// title keeps below that the room for the temporary names made beside it.
constexpr size_t kLongestMadeName = 200;

// The longest start of the file-system name `name` (UTF-8) that takes at
// most `limit` bytes, cut at a character.
std::string FitName(std::string_view name, size_t limit);
// A file-system name for a log line (UTF-8), as the program's code page,
// Windows-1251, can show it: what the code page cannot hold, and bytes
// that are not UTF-8, become "?".
std::string DisplayName(std::string_view name);

// The folder of the running executable with a trailing "/" (read once).
// "./" when the path cannot be had.
const std::string& ExecutableDir();
// The current folder with a trailing "/"; "./" when it cannot be had.
std::string CurrentDir();
// The temporary folder ($TMPDIR, else /tmp) with a trailing "/".
std::string TempDir();
// The user's pictures folder without a trailing "/": $XDG_PICTURES_DIR, else
// the XDG_PICTURES_DIR line of the user-dirs file, else ~/Pictures. Empty
// when there is no home folder.
std::string PicturesDir();

bool DirectoryExists(std::string_view dir);
// Creates one folder level; the parent must exist. False on any failure.
bool CreateDir(std::string_view dir);
// Creates the folder and every missing parent; true when it exists after.
bool CreateDirs(std::string_view dir);
// Whether files can be made in the folder.
bool IsWritableDir(std::string_view dir);
bool FileExists(std::string_view file_name);
bool DeleteFile(std::string_view file_name);

// The system's text for the last failed call of this thread.
std::string LastSystemError();

}  // namespace ah
