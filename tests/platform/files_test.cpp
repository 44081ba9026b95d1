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

TEST_F(FilesTest, NamesReachTheDiskAsUtf8) {
  const std::string ansi = "\xC0\xEB\xFC\xE1\xEE\xEC";  // Альбом
  ASSERT_TRUE(CreateDir(root_ + ansi));
  struct stat st;
  EXPECT_EQ(stat((root_ + "Альбом").c_str(), &st), 0);
  std::ofstream(root_ + "Альбом/f") << "x";
  EXPECT_TRUE(FileExists(root_ + ansi + "/f"));
  EXPECT_FALSE(FileExists(root_ + ansi));
  EXPECT_TRUE(DeleteFile(root_ + ansi + "/f"));
  EXPECT_FALSE(FileExists(root_ + ansi + "/f"));
  EXPECT_FALSE(DeleteFile(root_ + ansi + "/f"));
}

}  // namespace
}  // namespace ah
