// Files replaced whole, the temporary names they go through, and their
// digests.
#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "framework/exception.h"
#include "platform/sha256.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

void Put(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class AtomicFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ah-atomic-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(AtomicFileTest, RemovesOnlyTheTempFilesOfWritesAndDownloads) {
  const std::vector<std::pair<std::string, bool>> names = {
      {".download-0123456789abcdef.part", true},
      {".album.json-fedcba9876543210.tmp", true},
      {".index.html-00000000000000ff.tmp", true},
      {".download-0123456789abcdeg.part", false},
      {".download-0123456789abcdef.jpg", false},
      {".album.json-0123.tmp", false},
      {"album.json", false},
      {"1_.jpg", false},
      {".hidden", false},
  };
  for (const auto& [name, _] : names) Put(dir_ / name, "x");
  fs::create_directory(dir_ / ".download-aaaaaaaaaaaaaaaa.part" );
  EXPECT_EQ(RemoveLeftoverTempFiles(dir_), 3);
  for (const auto& [name, removed] : names) EXPECT_EQ(fs::exists(dir_ / name), !removed) << name;
  EXPECT_TRUE(fs::is_directory(dir_ / ".download-aaaaaaaaaaaaaaaa.part"));
  EXPECT_EQ(RemoveLeftoverTempFiles(dir_ / "missing"), 0);
}

TEST_F(AtomicFileTest, AFailedReplaceRaisesAndLeavesNothingBehind) {
  EXPECT_THROW(ReplaceFileAtomically(dir_ / "missing" / "album.json", "{}"), EFCreateError);
  EXPECT_EQ(RemoveLeftoverTempFiles(dir_), 0);
}

TEST(Sha256, DigestsBytesAndFiles) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  char pattern[] = "/tmp/ah-digest-XXXXXX";
  int fd = mkstemp(pattern);
  ASSERT_GE(fd, 0);
  close(fd);
  // Spans several read blocks.
  std::string big(600 * 1024 + 7, 'q');
  Put(pattern, big);
  auto digest = DigestFile(pattern);
  ASSERT_TRUE(digest);
  EXPECT_EQ(digest->bytes, big.size());
  EXPECT_EQ(digest->sha256, Sha256Hex(big));
  fs::remove(pattern);
  EXPECT_FALSE(DigestFile(pattern));
}

}  // namespace
}  // namespace ah
