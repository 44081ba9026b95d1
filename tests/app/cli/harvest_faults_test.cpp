// A hostile or broken photo site, and a folder the user already filled:
// one row per fault, each the folder as it was before, the site as the run
// meets it, and what the run must leave behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "app/album/album_manifest.h"
#include "app/fetch/stop_flag.h"
#include "tests/app/cli/demo_harvest.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

class HarvestFaultsTest : public DemoHarvestTest {
 protected:
  std::string Bytes(const std::string& path) const { return test::FileBytes(path); }
  int ImagesServed() const { return site_->Stats().images; }
  std::string Out(const std::string& name = "") const { return root_ + "/out/" + name; }
  // A run of another album, on a site of its own, into the same folder;
  // gives the addresses that site's root and image root had in it.
  std::pair<std::string, std::string> HarvestAnother(std::string title) {
    std::unique_ptr<DemoSite> kept = std::move(site_);
    DemoSiteOptions other;
    other.album.title = std::move(title);
    StartSite(other);
    EXPECT_EQ(Harvest("out").code, 0);
    std::pair<std::string, std::string> roots = {site_->SiteRoot(), site_->ImageRoot()};
    site_ = std::move(kept);
    return roots;
  }
  std::string OtherAlbum(int n, std::string scheme = "http://") const {
    return scheme + site_->AlbumUrls().at(size_t(n - 1)).substr(7);
  }
};

DemoSiteOptions& TwoByTwo(DemoSiteOptions& o) {
  o.album.pages = 2;
  o.album.photos_per_page = 2;
  return o;
}

// Three albums of the site, the third with a title that cleans to the first's.
DemoSiteOptions& ThreeAlbums(DemoSiteOptions& o) {
  o.more_albums = {NthDemoAlbum(TwoByTwo(o).album, 2), NthDemoAlbum(o.album, 3)};
  o.more_albums[1].title = o.album.title + "?";
  return o;
}

TEST_F(HarvestFaultsTest, EachFaultLeavesTheUsersFilesWhole) {
  struct Row {
    const char* name;
    std::function<void(DemoSiteOptions&)> site;
    // What the folder holds before the run: earlier runs, the user's files.
    std::function<void()> before;
    std::vector<std::string> flags;
    int code;
    std::function<void(const Result&)> after;
    // The run is stopped once this holds.
    std::function<bool()> stop_when = nullptr;
    std::function<std::vector<std::string>()> more_albums = nullptr;
    bool live = false;  // with the progress line
  };
  std::string manifest, gallery;  // as the row's earlier run left them
  std::map<std::string, std::string> files;
  const auto harvested = [&] {
    ASSERT_EQ(Harvest("out").code, 0);
    manifest = Bytes(Folder("out") + "/album.json");
    gallery = Bytes(Folder("out") + "/index.html");
  };
  const auto three = [&] { return std::vector{OtherAlbum(2), OtherAlbum(2, "HTTP://"), OtherAlbum(3)}; };
  const Row rows[] = {
      {"three albums after one sign-in, one named twice, each resumed on its own", ThreeAlbums, {}, {}, 0,
       [&](const Result& r) {
         EXPECT_EQ(site_->Stats().sign_ins, 1);
         EXPECT_EQ(LinesWith(r.out, "Сохранено: 4 из 4, ошибок: 0"), 3) << r.out;
         EXPECT_TRUE(r.out.ends_with("Всего: альбомов 3, сохранено 12 из 12, ошибок 0\nЗАВЕРШЕНО!\n"));
         EXPECT_EQ(FilesIn(Folder("out") + " (2)").size(), 4u);
         const std::string karelia = Out("Карелия Осень 2023: озёра/");
         fs::remove(karelia + FilesIn(karelia).begin()->first);
         const int served = ImagesServed();
         const Result again = Harvest("out", three());
         EXPECT_EQ(ImagesServed(), served + 1);
         EXPECT_EQ(LinesWith(again.out, " (уже есть)"), 11) << again.out;
       }, nullptr, three},
      {"an album that cannot be read among good ones, one with a password in its address",
       [](DemoSiteOptions& o) { ThreeAlbums(o).faults.photo_pages = {2}; }, {}, {}, 3,
       [&](const Result& r) {
         EXPECT_EQ(LinesWith(r.out, "Страница № 1 — ОШИБКА: HTTP/1.1 404 Not Found"), 1) << r.out;
         EXPECT_EQ(LinesWith(r.out, "u:***@"), 3) << "both failed photo pages and an album line";
         EXPECT_EQ(LinesWith(r.out, "pw@"), 0);
         EXPECT_TRUE(r.out.ends_with("Всего: альбомов 3, сохранено 6 из 8, ошибок 3\nЗАВЕРШЕНО!\n"));
       },
       nullptr, [&] {
         return std::vector<std::string>{"--site-root", "http://u:pw@" + site_->SiteRoot().substr(7),
                                         site_->SiteRoot() + "/users/demo/none/", OtherAlbum(2, "http://u:pw@")};
       }},
      {"a stop in the second of three albums",
       [](DemoSiteOptions& o) { ThreeAlbums(o).latency_ms = 20; }, {}, {"--jobs", "1"}, 130,
       [&](const Result& r) {
         EXPECT_EQ(LinesWith(r.out, "Альбом: "), 2) << r.out;
         EXPECT_EQ(LinesWith(r.out, "Всего: альбомов 2, сохранено "), 1);
         EXPECT_EQ(LinesWith(r.out, "ЗАВЕРШЕНО!"), 0);
       },
       [&] { return site_->Stats().images >= 5; }, three},
      {"two albums whose titles clean to one name", [](DemoSiteOptions& o) { o.album.title = "Лето!"; },
       [&] {
         HarvestAnother("Лето?");
         files = FilesIn(Out("Лето"));
         manifest = Bytes(Out("Лето/album.json"));
       },
       {}, 0,
       [&](const Result& r) {
         EXPECT_TRUE(FilesIn(Out("Лето")) == files);
         EXPECT_EQ(Bytes(Out("Лето/album.json")), manifest);
         EXPECT_EQ(FilesIn(Out("Лето (2)")).size(), 12u) << r.out;
         const Result again = Harvest("out");
         EXPECT_EQ(LinesWith(again.out, " (уже есть)"), 12) << "its own folder found again";
       }},
      {"a title that cleans to nothing beside the user's own index.html",
       [](DemoSiteOptions& o) { o.album.title = " . ! "; },
       [&] {
         fs::create_directories(Out());
         std::ofstream(Out("index.html")) << "my page";
       },
       {}, 0,
       [&](const Result&) {
         EXPECT_EQ(Bytes(Out("index.html")), "my page");
         EXPECT_FALSE(fs::exists(Out("album.json")));
         EXPECT_EQ(FilesIn(Out("krym-2024")).size(), 12u) << "named after the album address";
       }},
      // The earlier run saw photo 5's image as photo 4 (photo 4 came since):
      // the re-run moves it out of photo 4's way and never reaches photo 5.
      {"a re-run whose page 2 fails",
       [](DemoSiteOptions& o) {
         o.faults.album_pages = {2};
         o.faults.times = 1;
       },
       [&] {
         // The earlier run, as if of this site.
         const auto [root, image_root] = HarvestAnother(site_->Options().album.title);
         AlbumManifest m = *ReadManifest(Folder("out"));
         m.album_url = site_->AlbumUrl();
         for (ManifestPhoto& p : m.photos) {
           p.page_url.replace(0, root.size(), site_->SiteRoot());
           p.image_url.replace(0, image_root.size(), site_->ImageRoot());
         }
         ManifestPhoto& four = m.photos[3];
         const ManifestPhoto five = m.photos[4];
         four.page_url = five.page_url, four.image_url = five.image_url;
         four.bytes = five.bytes, four.sha256 = five.sha256;
         fs::rename(PhotoPath(Folder("out"), five.file_name), PhotoPath(Folder("out"), four.file_name));
         m.photos.erase(m.photos.begin() + 4);
         WriteManifest(Folder("out"), m);
       },
       {"--retries", "0"}, 3,
       [&](const Result&) {
         EXPECT_TRUE(Bytes(Folder("out") + "/4_Кто здесь (2).jpg") == site_->ImageBytes(5)) << "kept beside";
         EXPECT_EQ(ReadManifest(Folder("out"))->kept.size(), 1u);
         EXPECT_EQ(Harvest("out").code, 0);
         EXPECT_EQ(ImagesServed(), 1) << "photo 4 alone: photo 5 taken up from the kept image";
         EXPECT_EQ(Album("out").size(), 12u);
         ExpectServedBytes(Album("out"));
       }},
      {"the wrong password over a full folder", {}, harvested, {"--password", "wrong"}, 3,
       [&](const Result&) {
         EXPECT_EQ(Bytes(Folder("out") + "/album.json"), manifest);
         EXPECT_EQ(Bytes(Folder("out") + "/index.html"), gallery);
         const int served = ImagesServed();
         EXPECT_EQ(Harvest("out").code, 0);
         EXPECT_EQ(ImagesServed(), served) << "the next good run takes every image up";
       }},
      {"an HTML page sent as an image", [](DemoSiteOptions& o) { TwoByTwo(o).faults.html_images = {2}; }, {},
       {}, 3,
       [&](const Result& r) {
         EXPECT_EQ(LinesWith(r.out, "  Чайки  у причала — ОШИБКА: не изображение: text/html; charset=utf-8"), 1);
         EXPECT_EQ(Images("out"), 3u);
         Harvest("out");
         const auto log = site_->RequestLog();
         EXPECT_EQ(std::count(log.begin(), log.end(), "html image id=2"), 2) << "tried again";
       }},
      {"photo pages without an image address (a wrong image host)", TwoByTwo, {},
       {"--image-host-marker", "127.0.0.1:1/photo"}, 3,
       [&](const Result& r) {
         EXPECT_EQ(LinesWith(r.out, "/#mainImageLink — ОШИБКА: нет адреса изображения"), 4) << r.out;
       }},
      {"a NUL byte in every album page", [](DemoSiteOptions& o) { TwoByTwo(o).faults.nul_in_pages = true; }, {},
       {}, 0, [&](const Result& r) { EXPECT_EQ(LinesWith(r.out, "Сохранено: 4 из 4, ошибок: 0"), 1) << r.out; }},
      {"another host's address with the image host in its query",
       [](DemoSiteOptions& o) { TwoByTwo(o).faults.foreign_image_links = true; }, {}, {}, 0,
       [&](const Result& r) { EXPECT_EQ(LinesWith(r.out, "Сохранено: 4 из 4, ошибок: 0"), 1) << r.out; }},
      {"an album whose every page links to the next",
       [](DemoSiteOptions& o) { TwoByTwo(o).faults.endless_pages = true; }, {}, {}, 0,
       [&](const Result& r) {
         EXPECT_NE(r.out.find("  Кто здесь\nСтраница № 3\nСохранено: 4 из 4"), std::string::npos) << r.out;
       }},
      // Photo 2 is being downloaded and photo page 5 (page 3) read when the
      // stop comes; photos 3 and 4 are on disk behind photo 2. Neither waits
      // out its time-out before the stop, however slow the machine.
      {"a stop with photos in hand",
       [](DemoSiteOptions& o) {
         TwoByTwo(o).album.pages = 3;
         o.faults.images = {2}, o.faults.photo_pages = {5}, o.faults.silent = true;
       },
       {}, {"--timeout", "60"}, 130,
       [&](const Result& r) {
         EXPECT_NE(r.out.find("Страница № 1\n  Рассвет над морем\n  Чайки  у причала — ОШИБКА: прервано\n"
                              "Страница № 2\n  \n  Кто здесь\nСохранено: 3 из 4, ошибок: 1\n"),
                   std::string::npos)
             << r.out;
       },
       [&] {
         const auto log = site_->RequestLog();
         const auto has = [&](const char* entry) { return std::count(log.begin(), log.end(), entry) > 0; };
         return has("stalled image id=2") && has("stalled photo id=5") && Images("out") >= 3;
       }},
      {"a 429 answer to an album page", [](DemoSiteOptions& o) {
         TwoByTwo(o).faults.album_pages = {2}, o.faults.status = 429, o.faults.times = 1;
       }, {}, {}, 0,
       [&](const Result& r) { EXPECT_NE(r.err.find(" · потоков 2 из 4 · "), std::string::npos) << r.err; },
       nullptr, nullptr, true},
      // Eleven requests one after the other, ten pauses between them.
      {"a wait between requests", TwoByTwo, {}, {"--jobs", "1", "--wait", "0.05"}, 0,
       [&](const Result& r) {
         EXPECT_GE(r.seconds, 0.5);
         const DemoSiteStats s = site_->Stats();
         EXPECT_EQ(s.sign_ins + s.album_pages + s.photo_pages + s.images, 11);
       }},
      {"a stop during a wait", TwoByTwo, {}, {"--wait", "3600"}, 130,
       [&](const Result&) { EXPECT_EQ(site_->Stats().album_pages, 0); },
       [&] { return site_->Stats().sign_ins == 1; }},
      {"a stop while the rate limit holds a reply back", TwoByTwo, {}, {"--limit-rate", "1"}, 130,
       [&](const Result&) { EXPECT_EQ(site_->Stats().images, 0); },
       [&] { return site_->Stats().sign_ins == 1; }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DemoSiteOptions options;
    if (row.site) row.site(options);
    StartSite(options);
    if (row.before) row.before();
    StopFlag stop;
    std::thread stopper([&] {
      for (int i = 0; row.stop_when && i < 2000 && !row.stop_when(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (!row.stop_when) return;
      stop.Request();
      // The program's signal cuts its socket waits short; here the site
      // lets its silent requests go instead.
      site_->Stop();
    });
    std::vector<std::string> flags = row.more_albums ? row.more_albums() : std::vector<std::string>{};
    flags.insert(flags.end(), row.flags.begin(), row.flags.end());
    Result r = Harvest("out", flags, &stop, row.live);
    stopper.join();
    EXPECT_EQ(r.code, row.code) << r.out << r.err;
    row.after(r);
    site_->Stop();
    fs::remove_all(root_ + "/out");
  }
}

}  // namespace
}  // namespace ah
