#include "tools/album-demo-site/site_pages.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/tools/page_reading.h"

namespace ah {
namespace {

using namespace testing_pages;

constexpr const char* kImageRoot = "http://127.0.0.1:4321";
constexpr const char* kMarker = "127.0.0.1:4321/photo";

DemoAlbum Album(int pages, int per_page) {
  DemoAlbum a;
  a.pages = pages;
  a.photos_per_page = per_page;
  return a;
}

TEST(AlbumPage, LinksTheNextPageOnEveryPageButTheLast) {
  for (int pages : {1, 3, 25}) {
    DemoAlbum album = Album(pages, 2);
    for (int p = 1; p <= pages; ++p) {
      auto r = ReadAlbumPage(AlbumPageHtml(album, kImageRoot, p, "demo"), p, album.TitleSuffix());
      EXPECT_EQ(r.next_page, p < pages) << "page " << p << " of " << pages;
    }
  }
}

TEST(AlbumPage, NeverLinksPastTheLastPage) {
  // The run's test is a plain substring test, so the last page must not hold
  // any query that starts with the next number either.
  DemoAlbum album = Album(2, 1);
  std::string page = AlbumPageHtml(album, kImageRoot, 2, "demo");
  EXPECT_FALSE(Contains(page, "?page=3")) << page;
  EXPECT_TRUE(Contains(page, "?page=1")) << page;
}

TEST(AlbumPage, TitleLineGivesTheAlbumTitleBeforeTheSuffix) {
  DemoAlbum album = Album(3, 2);
  for (int p = 1; p <= 3; ++p) {
    for (const char* who : {"demo", ""}) {
      auto r = ReadAlbumPage(AlbumPageHtml(album, kImageRoot, p, who), p, album.TitleSuffix());
      ASSERT_EQ(r.titles.size(), 1u) << "page " << p;
      EXPECT_EQ(r.titles[0], album.title) << "page " << p;
    }
  }
  std::string page = AlbumPageHtml(album, kImageRoot, 1, "");
  EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n")) << page;
  EXPECT_TRUE(Contains(page, "\n<title>" + album.title + album.TitleSuffix() + "</title>\n"));
}

TEST(AlbumPage, SignedInPageLinksEachOfItsPhotosOnceAndOneDecoy) {
  DemoAlbum album = Album(3, 4);
  for (int p = 1; p <= 3; ++p) {
    auto r = ReadAlbumPage(AlbumPageHtml(album, kImageRoot, p, "demo"), p, album.TitleSuffix());
    std::vector<std::string> expected;
    for (int id = album.FirstPhotoOn(p); id < album.FirstPhotoOn(p) + 4; ++id)
      expected.push_back(album.PhotoPagePath(id) + "#mainImageLink");
    EXPECT_EQ(r.photo_links, expected) << "page " << p;
    EXPECT_EQ(r.decoys, 1) << "page " << p;
  }
}

TEST(AlbumPage, GuestPageHasNoPhotoLinksButStillTheDecoy) {
  DemoAlbum album = Album(2, 5);
  auto r = ReadAlbumPage(AlbumPageHtml(album, kImageRoot, 1, ""), 1, album.TitleSuffix());
  EXPECT_TRUE(r.photo_links.empty());
  EXPECT_EQ(r.decoys, 1);
  EXPECT_TRUE(r.next_page);
}

TEST(AlbumPage, DecoyLineStartsLikeAPathUnderTheSlideshow) {
  // Should a harvester fetch it, the request reaches the site and is counted.
  DemoAlbum album = Album(1, 1);
  for (const auto& line : AlbumPageLines(AlbumPageHtml(album, kImageRoot, 1, "demo"))) {
    if (Contains(line, "/#mainImageLink") && Contains(line, "); return")) {
      EXPECT_TRUE(line.starts_with("/")) << line;
      EXPECT_TRUE(Contains(line, album.SlideshowPath() + "#mainImageLink")) << line;
    }
  }
}

TEST(PhotoPage, HoldsTheImageAddressFollowedByItsTitleExactlyOnce) {
  DemoAlbum album = Album(4, 5);
  for (int id = 1; id <= album.PhotoCount(); ++id) {
    auto hits = ReadPhotoPage(PhotoPageHtml(album, kImageRoot, id, ""), kMarker);
    std::vector<ImageHit> expected = {
        {std::string(kImageRoot) + album.ImagePath(id), StripTagsAndTrim(DemoPhotoTitle(id))}};
    EXPECT_EQ(hits, expected) << "photo " << id;
  }
}

TEST(PhotoPage, PhotoThreeHasAnEmptyTitle) {
  DemoAlbum album = Album(1, 4);
  auto hits = ReadPhotoPage(PhotoPageHtml(album, kImageRoot, 3, "demo"), kMarker);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].title, "");
  EXPECT_EQ(DemoPhotoTitle(3), "");
  EXPECT_NE(DemoPhotoTitle(2), "");
}

TEST(DemoTitles, CarryEveryCharacterThatNameCleaningRemoves) {
  std::string all = DemoAlbum().title;
  for (int id = 1; id <= 20; ++id) all += DemoPhotoTitle(id);
  for (char c : std::string("*/\\|<>?.!#$"))
    EXPECT_TRUE(Contains(all, std::string(1, c))) << "missing " << c;
  std::set<std::string> distinct;
  for (int id = 1; id <= 20; ++id) distinct.insert(DemoPhotoTitle(id));
  EXPECT_GE(distinct.size(), 10u);
  EXPECT_TRUE(Contains(DemoPhotoTitle(1), "\xD0")) << "titles are Cyrillic UTF-8";
}

TEST(LoginPage, HoldsTheFiveSignInFieldsAndEscapesTheReturnAddress) {
  std::string page = LoginPageHtml(DemoAlbum(), "mail.example", "/x\"><script>", true);
  for (const char* field : {"return_url", "login", "domain", "password", "remember"})
    EXPECT_TRUE(Contains(page, std::string("name=\"") + field + "\"")) << field;
  EXPECT_TRUE(Contains(page, "value=\"/x&quot;&gt;&lt;script&gt;\"")) << page;
  EXPECT_TRUE(Contains(page, "action=\"/login/\""));
}

}  // namespace
}  // namespace ah
