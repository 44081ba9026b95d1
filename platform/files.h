#pragma once
// Files and folders. Names inside the program are Windows-1251 text; they
// become UTF-8 only here, where they reach the file system.

#include <string>
#include <string_view>

namespace ah {

// The file system's form of a name held as Windows-1251 text.
std::string FileSystemName(std::string_view ansi_name);

// The folder of the running executable with a trailing "/", in
// Windows-1251 (read once). "./" when the path cannot be had.
const std::string& ExecutableDir();

// The temporary folder ($TMPDIR, else /tmp) with a trailing "/", in Windows-1251.
std::string TempDir();

bool DirectoryExists(std::string_view dir);
// Creates one folder level; the parent must exist. False on any failure.
bool CreateDir(std::string_view dir);
bool FileExists(std::string_view file_name);
bool DeleteFile(std::string_view file_name);

}  // namespace ah
