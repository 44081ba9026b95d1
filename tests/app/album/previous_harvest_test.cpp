#include "app/album/previous_harvest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/atomic_file.h"
#include "platform/sha256.h"
#include "tests/support/file_bytes.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

// One photo as the album shows it: its title, image address and bytes.
struct Shown {
  std::string title;
  std::string image;  // also the image's content
};

std::string FileName(int number, const std::string& title) {
  return std::to_string(number) + "_" + title + ".jpg";
}

class PreviousHarvestTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ah-previous-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // What an earlier complete run left: the files and their manifest.
  AlbumManifest Harvested(const std::vector<Shown>& album) {
    AlbumManifest m;
    for (size_t i = 0; i < album.size(); ++i) {
      ManifestPhoto p;
      p.number = int(i) + 1;
      p.title = album[i].title;
      p.page_url = "page-" + album[i].image;
      p.image_url = album[i].image;
      p.file_name = FileName(p.number, p.title);
      p.bytes = album[i].image.size();
      p.sha256 = Sha256Hex(album[i].image);
      p.status = PhotoStatus::psSaved;
      std::ofstream(PhotoPath(dir_, p.file_name)) << album[i].image;
      m.Record(p);
    }
    return m;
  }

  // A run over `album` as the harvest makes it; returns how many images it
  // downloaded.
  int Rerun(PreviousHarvest& previous, const std::vector<Shown>& album) {
    int downloads = 0;
    for (size_t i = 0; i < album.size(); ++i) {
      const int number = int(i) + 1;
      const std::string name = FileName(number, album[i].title);
      auto reused = previous.Reuse(number, album[i].title, "page-" + album[i].image,
                                   album[i].image, name);
      if (reused) {
        EXPECT_EQ(reused->number, number);
        EXPECT_EQ(reused->file_name, name);
        EXPECT_EQ(reused->sha256, Sha256Hex(album[i].image));
        continue;
      }
      previous.MakeRoom(name);
      // A download's temporary name is short, whatever the target's.
      std::ofstream(PhotoPath(dir_, name), std::ios::binary | std::ios::trunc) << album[i].image;
      ++downloads;
    }
    previous.Finish(true);
    return downloads;
  }

  fs::path dir_;
};

TEST_F(PreviousHarvestTest, TakesOverIntactImagesUnderTheirNewNumbers) {
  struct Case {
    const char* name;
    std::vector<Shown> before, now;
    int downloads;
    std::function<void(const fs::path&)> spoil = nullptr;
  };
  // Too long to be moved aside under a temporary name beside it.
  const std::string longest(240, 'x');
  const std::vector<Case> cases = {
      {"unchanged", {{"a", "A"}, {"b", "B"}}, {{"a", "A"}, {"b", "B"}}, 0},
      {"added in front", {{"a", "A"}, {"b", "B"}}, {{"n", "N"}, {"a", "A"}, {"b", "B"}}, 1},
      {"added in front, same titles", {{"", "A"}, {"", "B"}}, {{"", "N"}, {"", "A"}, {"", "B"}}, 1},
      {"removed in front, same titles", {{"", "A"}, {"", "B"}, {"", "C"}}, {{"", "B"}, {"", "C"}}, 0},
      {"swapped, same titles", {{"", "A"}, {"", "B"}}, {{"", "B"}, {"", "A"}}, 0},
      {"swapped, titles too long to move aside", {{longest, "A"}, {longest, "B"}},
       {{longest, "B"}, {longest, "A"}}, 1},
      {"renamed title", {{"old", "A"}}, {{"new", "A"}}, 0},
      {"new image address", {{"a", "A"}}, {{"a", "A2"}}, 1},
      {"spoiled file", {{"a", "A"}, {"b", "B"}}, {{"a", "A"}, {"b", "B"}}, 1,
       [](const fs::path& dir) { std::ofstream(dir / "2_b.jpg") << "Q"; }},
      {"file gone", {{"a", "A"}}, {{"a", "A"}}, 1,
       [](const fs::path& dir) { fs::remove(dir / "1_a.jpg"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    AlbumManifest before = Harvested(c.before);
    if (c.spoil) c.spoil(dir_);
    PreviousHarvest previous(dir_, before);
    EXPECT_EQ(Rerun(previous, c.now), c.downloads);
    for (size_t i = 0; i < c.now.size(); ++i)
      EXPECT_EQ(test::FileBytes(PhotoPath(dir_, FileName(int(i) + 1, c.now[i].title))), c.now[i].image) << i;
    EXPECT_EQ(RemoveLeftoverTempFiles(dir_), 0) << "nothing left aside";
  }
}

// A run that did not walk the whole album removes nothing: an image moved
// out of a download's way goes back, or beside the download that took its
// name.
TEST_F(PreviousHarvestTest, APartialRunPutsMovedAsideImagesBackOrBeside) {
  PreviousHarvest previous(dir_, Harvested({{"", "A"}, {"", "B"}}));
  previous.MakeRoom("1_.jpg");  // a download that failed
  previous.MakeRoom("2_.jpg");
  std::ofstream(dir_ / "2_.jpg") << "N";
  const PreviousHarvest::Leftovers left = previous.Finish(false);
  ASSERT_EQ(left.back.size(), 1u);
  ASSERT_EQ(left.kept.size(), 1u);
  EXPECT_EQ(left.back[0].file_name, "1_.jpg");
  EXPECT_EQ(left.kept[0].file_name, "2_ (2).jpg");
  EXPECT_EQ(test::FileBytes(dir_ / "1_.jpg"), "A");
  EXPECT_EQ(test::FileBytes(dir_ / "2_ (2).jpg"), "B");
}

TEST_F(PreviousHarvestTest, APageIsSkippedOnlyWhenAllItsImagesAreIntact) {
  AlbumManifest before = Harvested({{"a", "A"}, {"b", "B"}, {"c", "C"}});
  before.photos[1].page_url = before.photos[0].page_url;  // two images on one page
  ManifestPhoto failed;
  failed.number = 4;
  failed.page_url = "page-C";
  failed.error = "boom";
  before.Record(failed);
  std::ofstream(dir_ / "2_b.jpg") << "spoiled";
  PreviousHarvest previous(dir_, before);
  EXPECT_FALSE(previous.SavedPage("page-A")) << "one of its images is spoiled";
  EXPECT_FALSE(previous.SavedPage("page-C")) << "an image on it failed";
  EXPECT_FALSE(previous.SavedPage("page-unknown"));

  AlbumManifest intact = Harvested({{"a", "A"}, {"b", "B"}});
  intact.photos[1].page_url = intact.photos[0].page_url;
  PreviousHarvest again(dir_, intact);
  auto page = again.SavedPage("page-A");
  ASSERT_TRUE(page);
  ASSERT_EQ(page->size(), 2u);
  EXPECT_EQ((*page)[1].image_url, "B");
}

}  // namespace
}  // namespace ah
