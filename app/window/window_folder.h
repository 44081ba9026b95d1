#pragma once
// Where the window saves albums: beside the program, as it always did, when
// that folder is writable; otherwise (an installed program) in the user's
// pictures folder.

#include <string>

namespace ah {

struct WindowFolder {
  std::string dir;        // a file-system name with a trailing "/"
  bool fallback = false;  // not the program's folder
};

// `program_dir` and `pictures_dir` are file-system names; the fallback is
// pictures_dir + "/album-harvester", made when missing.
WindowFolder ChooseWindowFolder(const std::string& program_dir, const std::string& pictures_dir);

// The log line that says the albums go elsewhere, without the folder's name.
std::string WindowFolderNote();

}  // namespace ah
