// Parallel harvests: one job and eight give the same files, names, bytes,
// log and manifest, whatever the site does wrong; images keep their
// connections; a stop ends a parallel run cleanly.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app/album/album_manifest.h"
#include "app/cli/progress_line.h"
#include "app/fetch/stop_flag.h"
#include "tests/app/cli/demo_harvest.h"

namespace ah {
namespace {

class HarvestJobsTest : public DemoHarvestTest {
 protected:
  // The manifest without what differs between two runs into two folders.
  std::optional<AlbumManifest> Manifest(const std::string& name) {
    std::optional<AlbumManifest> m = ReadManifest(Folder(name));
    if (m) m->last_run = m->folder = "";
    return m;
  }
};

TEST_F(HarvestJobsTest, OneJobAndEightGiveTheSameResultWhateverFails) {
  struct Case {
    const char* name;
    std::function<void(DemoSiteOptions&)> faults;
    int code;
    const char* retries = "0";
  } cases[] = {
      {"a good run", [](DemoSiteOptions&) {}, 0},
      {"images that always fail", [](DemoSiteOptions& o) { o.faults.images = {2, 7, 8}; }, 3},
      {"photo pages that always fail", [](DemoSiteOptions& o) { o.faults.photo_pages = {1, 9}; }, 3},
      {"images and photo pages that fail once",
       [](DemoSiteOptions& o) {
         o.faults.images = {3, 10};
         o.faults.photo_pages = {5};
         o.faults.times = 1;
       },
       0, "1"},
      {"an album page that fails ends the walk", [](DemoSiteOptions& o) { o.faults.album_pages = {3}; }, 3},
      {"503 answers halve the jobs in use",
       [](DemoSiteOptions& o) { o.faults.images = {2, 6, 11}, o.faults.status = 503, o.faults.times = 1; }, 0, "1"},
      {"the session ends before the client is renewed",
       [](DemoSiteOptions& o) {
         o.album.pages = 22;
         o.album.photos_per_page = 1;
         o.session_requests = 19;
       },
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DemoSiteOptions options;
    options.album.pages = 4;
    options.album.photos_per_page = 3;
    options.latency_ms = 5;
    c.faults(options);
    StartSite(options);
    const std::vector<std::string> flags = {"--retries", c.retries};
    std::vector<std::string> flags1 = flags, flags8 = flags;
    flags1.insert(flags1.end(), {"--jobs", "1"});
    flags8.insert(flags8.end(), {"--jobs", "8"});

    Result one = Harvest("one", flags1);
    const DemoSiteStats after_one = site_->Stats();
    site_->StartOver();
    Result eight = Harvest("eight", flags8);
    const DemoSiteStats after_eight = site_->Stats();

    EXPECT_EQ(one.code, c.code) << one.err;
    EXPECT_EQ(eight.code, c.code) << eight.err;
    // The folder line names the run's own folder.
    const std::string folder_one = "Папка: " + root_ + "/one/";
    ASSERT_NE(one.out.find(folder_one), std::string::npos) << one.out;
    one.out.replace(one.out.find(folder_one), folder_one.size(), "Папка: " + root_ + "/eight/");
    EXPECT_EQ(one.out, eight.out);
    const auto album = Album("one");
    EXPECT_TRUE(album == Album("eight"));
    std::optional<AlbumManifest> manifest = Manifest("one");
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest, Manifest("eight"));
    // Every file is the image its record names, as the image host serves it.
    EXPECT_EQ(manifest->SavedCount(), int(album.size()));
    for (const ManifestPhoto& p : manifest->photos) {
      if (p.status != PhotoStatus::psSaved) continue;
      const int id = std::atoi(p.image_url.substr(p.image_url.rfind('/') + 1).c_str());
      const std::string file = PhotoPath(Folder("one"), p.file_name).filename();
      EXPECT_TRUE(album.count(file) && album.at(file) == site_->ImageBytes(id)) << p.number;
    }
    // No request more or less, and the images kept their connections.
    EXPECT_EQ(after_one.photo_pages, after_eight.photo_pages);
    EXPECT_EQ(after_one.images, after_eight.images);
    EXPECT_EQ(after_one.album_pages, after_eight.album_pages);
    EXPECT_LE(after_one.image_connections, 1 + after_one.faults) << "one job, one connection";
    EXPECT_LE(after_eight.image_connections, 8 + after_eight.faults);
    site_->Stop();
    std::filesystem::remove_all(root_ + "/one");
    std::filesystem::remove_all(root_ + "/eight");
  }
}

TEST_F(HarvestJobsTest, AStopEndsAParallelRunWithItsSummaryAndNoTemporaryFile) {
  DemoSiteOptions options;
  options.album.pages = 10;
  options.album.photos_per_page = 10;
  options.latency_ms = 20;
  StartSite(options);
  StopFlag stop;
  std::thread stopper([&] {
    for (int i = 0; i < 2000 && Images("stopped") < 12; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop.Request();
  });
  Result r = Harvest("stopped", {"--jobs", "8"}, &stop);
  stopper.join();
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_EQ(r.out.find("ЗАВЕРШЕНО!"), std::string::npos);
  EXPECT_TRUE(r.out.ends_with("\nПапка: " + Folder("stopped") + "\n")) << r.out;
  const auto album = Album("stopped");
  ExpectServedBytes(album);
  for (const auto& [file, bytes] : album) EXPECT_FALSE(file.starts_with(".")) << file;
  // What the log and the manifest say was saved is what is on disk.
  std::optional<AlbumManifest> manifest = ReadManifest(Folder("stopped"));
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->SavedCount(), int(album.size()));
  // The photos in hand at the stop are told as such.
  const int cut = LinesWith(r.out, " — ОШИБКА: прервано");
  EXPECT_EQ(LinesWith(r.out, " — ОШИБКА: "), cut) << r.out;
  EXPECT_NE(r.out.find("Сохранено: " + std::to_string(album.size()) + " из " +
                       std::to_string(int(album.size()) + cut) + ", ошибок: " + std::to_string(cut)),
            std::string::npos)
      << r.out;
}

TEST_F(HarvestJobsTest, ATerminalGetsALiveLineAndQuietLeavesErrorsAndTheSummary) {
  DemoSiteOptions options;
  options.album.pages = 2;
  options.album.photos_per_page = 3;
  options.faults.images = {2};
  StartSite(options);
  const std::string error_line =
      "  Чайки  у причала — ОШИБКА: HTTP/1.1 500 Internal Server Error\n";
  const std::string closing = "Сохранено: 5 из 6, ошибок: 1\nПапка: " + Folder("live") + "\nЗАВЕРШЕНО!\n";

  Result live = Harvest("live", {"--retries", "0"}, nullptr, true);
  EXPECT_EQ(live.code, 3);
  EXPECT_EQ(LinesWith(live.out, "Страница № "), 2) << "the log is whole on stdout";
  EXPECT_TRUE(live.out.ends_with(closing)) << live.out;
  EXPECT_EQ(live.out.find('\r'), std::string::npos);
  EXPECT_NE(live.err.find("\rСтраница 2 · сохранено 5 · ошибок 1 · найдено 6 · "), std::string::npos)
      << live.err;
  EXPECT_TRUE(live.err.ends_with("\r\x1b[K")) << "erased at the end";

  Result quiet = Harvest("live", {"--retries", "0", "--quiet", "--force"}, nullptr, true);
  EXPECT_EQ(quiet.code, 3);
  EXPECT_EQ(quiet.out, error_line + closing);
  EXPECT_EQ(quiet.err, "");

  HarvestProgress p;
  p.page = 3;
  p.saved = 40;
  p.failed = 1;
  p.found = 42;
  p.bytes = 3 * 1024 * 1024 / 2;
  p.jobs = p.jobs_asked = 4;
  EXPECT_EQ(ProgressLine::Text(p, 2),
            "Страница 3 · сохранено 40 · ошибок 1 · найдено 42 · потоков 4 · 1.5 МБ · 768.0 КБ/с");
  p.bytes = 900;
  p.jobs = 1;
  EXPECT_EQ(ProgressLine::Text(p, 0), "Страница 3 · сохранено 40 · ошибок 1 · найдено 42 · потоков 1 из 4 · 900 Б");

  // Cut to the terminal's width, and redrawn at once when it changes.
  std::ostringstream narrow;
  int columns = 21;
  const auto now = std::chrono::steady_clock::now();
  ProgressLine cut(narrow, [&] { return now; }, [&] { return columns; });
  cut.ShowProgress(p);
  columns = 11;
  cut.ShowProgress(p);  // within a tenth of a second: not drawn
  ProgressLine::NoteResize();
  cut.ShowProgress(p);
  EXPECT_EQ(narrow.str(), "\rСтраница 3 · сохране\x1b[K\rСтраница 3\x1b[K");
}

}  // namespace
}  // namespace ah
