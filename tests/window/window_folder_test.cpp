#include "app/window/window_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>


namespace ah {
namespace {

namespace fs = std::filesystem;

TEST(WindowFolder, TheProgramsFolderWhenWritableElseThePicturesFolder) {
  char pattern[] = "/tmp/ah-window-folder-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  const std::string program = root + "/bin/", pictures = root + "/home/Картинки";
  fs::create_directories(program);

  WindowFolder writable = ChooseWindowFolder(program, pictures);
  EXPECT_EQ(writable.dir, program);
  EXPECT_FALSE(writable.fallback);
  EXPECT_FALSE(fs::exists(pictures));

  // Installed under /usr/bin: the program's folder is the system's. Root
  // writes everywhere, so a folder that does not exist stands in for it.
  const std::string closed = geteuid() == 0 ? root + "/missing/" : program;
  if (geteuid() != 0) chmod(program.c_str(), 0555);
  WindowFolder fallback = ChooseWindowFolder(closed, pictures);
  EXPECT_TRUE(fallback.fallback);
  EXPECT_EQ(fallback.dir, pictures + "/album-harvester/");
  EXPECT_TRUE(fs::is_directory(fallback.dir));
  EXPECT_EQ(WindowFolderNote(), "Папка программы закрыта для записи, альбомы сохраняются в ");

  chmod(program.c_str(), 0755);
  fs::remove_all(root);
}

}  // namespace
}  // namespace ah
