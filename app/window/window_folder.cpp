#include "app/window/window_folder.h"

#include "platform/files.h"

namespace ah {

WindowFolder ChooseWindowFolder(const std::string& program_dir, const std::string& pictures_dir) {
  if (IsWritableDir(program_dir)) return {program_dir, false};
  std::string dir = pictures_dir + "/album-harvester";
  CreateDirs(dir);
  return {dir + "/", true};
}

std::string WindowFolderNote() {
  return "Папка программы закрыта для записи, альбомы сохраняются в ";
}

}  // namespace ah
