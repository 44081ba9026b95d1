#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace ah {
namespace {

class FilesTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ah-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    root_ += "/";
  }
  void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }
  std::string root_;
};

TEST_F(FilesTest, ExecutableDirIsTheFolderOfThisTestWithTrailingSlash) {
  const std::string& dir = ExecutableDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), '/');
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(DirectoryExists(dir));
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, size_t(n)).rfind(dir, 0), 0u);
}

TEST_F(FilesTest, TempDirEndsInSlash) {
  std::string dir = TempDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
}

TEST_F(FilesTest, CreatesOneLevelOnlyAndReportsIt) {
  EXPECT_FALSE(DirectoryExists(root_ + "a"));
  EXPECT_TRUE(CreateDir(root_ + "a"));
  EXPECT_TRUE(DirectoryExists(root_ + "a"));
  EXPECT_TRUE(DirectoryExists(root_ + "a/"));
  EXPECT_FALSE(CreateDir(root_ + "a"));           // already there
  EXPECT_FALSE(CreateDir(root_ + "b/c"));         // not a chain
  EXPECT_FALSE(DirectoryExists(root_ + "b"));
}

TEST_F(FilesTest, NamesAreTheFileSystemsBytes) {
  ASSERT_TRUE(CreateDir(root_ + "Альбом"));
  struct stat st;
  EXPECT_EQ(stat((root_ + "Альбом").c_str(), &st), 0);
  std::ofstream(root_ + "Альбом/f") << "x";
  EXPECT_TRUE(FileExists(root_ + "Альбом/f"));
  EXPECT_FALSE(FileExists(root_ + "Альбом"));
  EXPECT_TRUE(DeleteFile(root_ + "Альбом/f"));
  EXPECT_FALSE(FileExists(root_ + "Альбом/f"));
  EXPECT_FALSE(DeleteFile(root_ + "Альбом/f"));
  // Names the code page cannot hold, and names that are not UTF-8, stay as they are.
  for (std::string name : {std::string("日本 café"), std::string("raw\xFF\xFE")}) {
    EXPECT_TRUE(CreateDir(root_ + name)) << name;
    EXPECT_EQ(stat((root_ + name).c_str(), &st), 0) << name;
    EXPECT_TRUE(DirectoryExists(root_ + name)) << name;
  }
}

TEST_F(FilesTest, ShowsNamesAsTheCodePageCan) {
  EXPECT_EQ(DisplayName("/tmp/Альбом"), "/tmp/Альбом");
  EXPECT_EQ(DisplayName("/tmp/日本"), "/tmp/??");
  EXPECT_EQ(DisplayName("raw\xFF-\xD0"), "raw?-?");
}

TEST_F(FilesTest, CreatesAWholeChainAndTellsWritableFolders) {
  EXPECT_TRUE(CreateDirs(root_ + "x/y/z"));
  EXPECT_TRUE(DirectoryExists(root_ + "x/y/z"));
  EXPECT_TRUE(CreateDirs(root_ + "x/y/z/"));  // already there
  EXPECT_TRUE(IsWritableDir(root_ + "x/y/z"));
  ASSERT_EQ(chmod((root_ + "x/y").c_str(), 0555), 0);
  // Root may write anywhere.
  if (geteuid() != 0) {
    EXPECT_FALSE(IsWritableDir(root_ + "x/y"));
    EXPECT_FALSE(CreateDirs(root_ + "x/y/w"));
  }
  chmod((root_ + "x/y").c_str(), 0755);
  EXPECT_FALSE(IsWritableDir(root_ + "none"));
  std::ofstream(root_ + "file") << "x";
  EXPECT_FALSE(CreateDirs(root_ + "file/sub"));
}

TEST_F(FilesTest, CurrentDirEndsInSlash) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(CurrentDir(), std::string(cwd) + (std::string(cwd) == "/" ? "" : "/"));
}

TEST_F(FilesTest, PicturesFolderFromTheVariableTheUserDirsFileOrHome) {
  const std::string config = root_ + "config";
  ASSERT_TRUE(CreateDirs(config));
  std::ofstream(config + "/user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                               "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                               "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  struct Case {
    const char* variable;
    const char* home;
    const char* config_home;
    std::string dir;
  } cases[] = {
      {"/srv/pics/", "/home/u", nullptr, "/srv/pics"},
      {nullptr, "/home/u", config.c_str(), "/home/u/Bilder"},
      {nullptr, "/home/u", "/nowhere", "/home/u/Pictures"},
      {nullptr, nullptr, "/nowhere", ""},
  };
  auto set = [](const char* name, const char* value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  };
  const char* home = std::getenv("HOME");
  const std::string saved_home = home ? home : "";
  for (const auto& c : cases) {
    set("XDG_PICTURES_DIR", c.variable);
    set("HOME", c.home);
    set("XDG_CONFIG_HOME", c.config_home);
    EXPECT_EQ(PicturesDir(), c.dir) << (c.variable ? c.variable : "-") << " " << (c.home ? c.home : "-");
  }
  set("XDG_PICTURES_DIR", nullptr);
  set("XDG_CONFIG_HOME", nullptr);
  set("HOME", home ? saved_home.c_str() : nullptr);
}

}  // namespace
}  // namespace ah
