// Every photo and page ends in an outcome: its log line, the summary, the
// files on disk, and the retries it took. The faults the demo site can show
// are tabled against it in the command line's tests; here are those only a
// scripted client can give.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/fetch/stop_flag.h"
#include "tests/app/support/harvest_fixture.h"

namespace ah {
namespace {

class HarvestOutcomeTest : public HarvestRunTest {
 protected:
  void SetUp() override {
    auto& s = server_.server();
    s.Get("/photo/missing.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("gone", "text/plain");
    });
    // A byte every 50 ms: never idle, never done in time.
    s.Get("/photo/trickle.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(4096, "image/jpeg", [](size_t, size_t, httplib::DataSink& sink) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return sink.write("x", 1);
      });
    });
    // A megabyte at a kilobyte every 20 ms, telling when it has begun.
    s.Get("/photo/slow.jpg", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(1 << 20, "image/jpeg", [this](size_t offset, size_t, httplib::DataSink& sink) {
        streaming_ = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::string chunk(1024, 'x');
        sink.write(chunk.data(), chunk.size());
        return offset < (1 << 20);
      });
    });
    // Before the fixture's own images, which would answer any name.
    HarvestRunTest::SetUp();
  }

  std::string Img(const std::string& name) const { return server_.Url("/photo/" + name + ".jpg"); }

  std::atomic<bool> streaming_{false};
};

TEST_F(HarvestOutcomeTest, CutPagesAndSignInRepliesHaveTheirLogLinesFilesAndCounts) {
  struct Case {
    const char* name;
    std::function<void(ScriptedSite&)> setup;
    std::vector<std::string> log;  // after "Авторизация..."
    std::set<std::string> files;   // in the album folder
    int saved, found, errors;
  } cases[] = {
      {"of an album page cut short only whole lines count",
       [&](ScriptedSite& site) {
         std::string page = AlbumPage("A", {"/p/1", "/p/22"}, {2});
         page.resize(page.find("/p/22") + 3);  // "/p/2" with no end
         site.answers[PageAddress(1)] = {page, true};
         site.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "g"}})};
       },
       {"log Страница № 1", "log Страница № 1 — ОШИБКА: Connection Closed Gracefully.", "log   g"},
       {"1_g.jpg"}, 1, 1, 1},
      {"a sign-in that neither redirects nor sets a cookie is told, and the run goes on",
       [&](ScriptedSite& site) {
         site.answers[kRoot + "/login/"] = {"wrong password"};
         site.answers[PageAddress(1)] = {AlbumPage("A", {"/p/1"}, {})};
         site.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "h"}})};
       },
       {"log Авторизация не подтверждена: ответ без перенаправления и без cookie", "log Страница № 1",
        "log   h"},
       {"1_h.jpg"}, 1, 1, 0},
      {"a refused sign-in is told with its reason",
       [&](ScriptedSite& site) {
         site.answers[kRoot + "/login/"] = {"", false, 403};
         site.answers[PageAddress(1)] = {AlbumPage("A", {}, {})};
       },
       {"log Авторизация не подтверждена: HTTP/1.1 403 Refused", "log Страница № 1"}, {}, 0, 0, 0},
      {"an image that trickles in fails at the deadline of a page",
       [&](ScriptedSite& site) {
         settings_.transfer.attempts = 1, settings_.transfer.read_timeout_ms = 500;
         settings_.transfer.page_timeout_ms = 1000;
         site.answers[PageAddress(1)] = {AlbumPage("A", {"/p/1"}, {})};
         site.answers[PhotoAddress("/p/1")] = {PhotoPage({{Img("trickle"), "t"}})};
       },
       {"log Страница № 1", "log   t — ОШИБКА: The transfer took longer than 1000 ms."}, {}, 0, 1, 1},
  };
  const HarvestSettings base = settings_;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    site_.answers.erase(kRoot + "/login/");
    site_.answers[kRoot + "/login/"] = {"welcome", false, 0, "", true, true};
    c.setup(site_);
    site_.journal.clear();
    HarvestReport report = Run();
    std::vector<std::string> log = Journal("log ");
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log.front(), "log Авторизация...");
    std::vector<std::string> expected = c.log;
    for (auto& line : Summary(c.saved, c.found, c.errors, "A")) expected.push_back(line);
    expected.push_back("log ЗАВЕРШЕНО!");
    EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.end()), expected);
    EXPECT_EQ(Files("A"), c.files);
    EXPECT_EQ(report.Saved(), c.saved);
    EXPECT_EQ(report.Found(), c.found);
    EXPECT_EQ(report.Failed(), c.errors);
    EXPECT_EQ(report.Complete(), c.errors == 0 && c.saved > 0);
    EXPECT_FALSE(report.interrupted);
    std::system(("rm -rf '" + out_ + "'*").c_str());
    site_.answers.clear();
    settings_ = base;
  }
}

TEST_F(HarvestOutcomeTest, OutcomesRecordWhatEachPhotoAndPageCameTo) {
  site_.answers[PageAddress(1)] = {AlbumPage("A", {"/p/1", "/p/2"}, {2})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "one"}, {Img("missing"), "two"}})};
  site_.answers[PageAddress(2)] = {"", false, 404};
  HarvestReport report = Run();
  ASSERT_EQ(report.pages.size(), 2u);
  EXPECT_TRUE(report.pages[0].read);
  EXPECT_EQ(report.pages[0].address, PageAddress(1));
  EXPECT_FALSE(report.pages[1].read);
  EXPECT_EQ(report.pages[1].error, "HTTP/1.1 404 Refused");
  EXPECT_EQ(report.pages[1].attempts, 1);
  ASSERT_EQ(report.photos.size(), 3u);
  const ManifestPhoto& one = report.photos[0].record;
  EXPECT_EQ(one.number, 1);
  EXPECT_TRUE(report.photos[0].Saved());
  EXPECT_EQ(one.file_name, "1_one.jpg");
  EXPECT_EQ(one.image_url, ImageUrl(1));
  EXPECT_EQ(one.page_url, PhotoAddress("/p/1"));
  EXPECT_EQ(one.bytes, kImage.size() + 1);
  EXPECT_FALSE(report.photos[1].Saved());
  EXPECT_EQ(report.photos[1].record.number, 2);
  EXPECT_EQ(report.photos[1].attempts, 1);
  EXPECT_TRUE(report.photos[2].PageFailed());
  EXPECT_EQ(report.photos[2].record.number, 3);
  EXPECT_EQ(report.photos[2].attempts, 3);
  EXPECT_EQ(report.folder, out_ + "A/");
  EXPECT_TRUE(report.sign_in_confirmed);
}

TEST_F(HarvestOutcomeTest, RetriesGoOnAFreshConnectionUpToTheAttemptsAllowed) {
  site_.answers[PageAddress(1)] = {AlbumPage("A", {}, {})};
  site_.sequences[PageAddress(1)] = {{"", true}, {"", false, 502}};
  Run();
  EXPECT_EQ(Journal("GET #1").size() + Journal("drop").size(), 5u);
  auto j = site_.journal;
  auto first = std::find(j.begin(), j.end(), "GET #1 " + PageAddress(1));
  ASSERT_NE(first, j.end());
  EXPECT_EQ(std::vector<std::string>(first, first + 5),
            (std::vector<std::string>{"GET #1 " + PageAddress(1), "drop #1", "GET #1 " + PageAddress(1),
                                      "drop #1", "GET #1 " + PageAddress(1)}));

  settings_.transfer.attempts = 2;
  site_.sequences[PageAddress(1)] = {{"", true}, {"", true}, {"", true}};
  site_.journal.clear();
  HarvestReport report = Run();
  EXPECT_EQ(Journal("GET").size(), 2u);
  EXPECT_EQ(report.pages.at(0).attempts, 2);
  EXPECT_FALSE(report.pages.at(0).read);
}

TEST_F(HarvestOutcomeTest, TheSignInIsRetriedWithTheFormBuiltAfresh) {
  site_.sequences[kRoot + "/login/"] = {{"", true}};
  site_.answers[PageAddress(1)] = {AlbumPage("A", {}, {})};
  HarvestReport report = Run();
  EXPECT_EQ(Journal("POST"), (std::vector<std::string>{"POST #1 " + kRoot + "/login/ " + kSignInForm,
                                                       "POST #1 " + kRoot + "/login/ " + kSignInForm}));
  EXPECT_TRUE(report.sign_in_confirmed);
}

TEST_F(HarvestOutcomeTest, PagesFollowTheChosenProxy) {
  site_.answers[PageAddress(1)] = {AlbumPage("A", {}, {})};
  settings_.proxy = ProxyAddress{"proxy.example", 3128};
  Run();
  EXPECT_EQ(Journal("proxy"), std::vector<std::string>{"proxy #1 proxy.example:3128"});
  auto j = site_.journal;
  EXPECT_LT(std::find(j.begin(), j.end(), "proxy #1 proxy.example:3128"),
            std::find(j.begin(), j.end(), "POST #1 " + kRoot + "/login/ " + kSignInForm));

  settings_.proxy.reset();
  setenv("http_proxy", "http://envproxy.example:8080/", 1);
  setenv("no_proxy", "localhost", 1);
  site_.journal.clear();
  Run();
  EXPECT_EQ(Journal("proxy"), std::vector<std::string>{"proxy #1 envproxy.example:8080"});
  setenv("no_proxy", ".example", 1);
  site_.journal.clear();
  Run();
  EXPECT_EQ(Journal("proxy"), std::vector<std::string>{"proxy #1 none"});
  unsetenv("http_proxy");
  unsetenv("no_proxy");
}

TEST_F(HarvestOutcomeTest, AStopEndsTheRunWithItsSummaryAndWithoutTheFinalLine) {
  for (int p = 1; p <= 3; ++p)
    site_.answers[PageAddress(p)] = {AlbumPage("A", {"/p/" + std::to_string(p)}, {p + 1})};
  for (int p = 1; p <= 3; ++p)
    site_.answers[PhotoAddress("/p/" + std::to_string(p))] = {PhotoPage({{ImageUrl(p), "n"}})};
  StopFlag stop;
  window_.on_pump = [&](int pump) {
    if (pump == 2) stop.Request();
  };
  HarvestReport report = Run(&stop);
  EXPECT_TRUE(report.interrupted);
  EXPECT_FALSE(report.Complete());
  std::vector<std::string> expected = {"log Авторизация...", "log Страница № 1", "log   n"};
  for (auto& line : Summary(1, 1, 0, "A")) expected.push_back(line);
  EXPECT_EQ(Journal("log"), expected);
  EXPECT_EQ(Files("A"), std::set<std::string>{"1_n.jpg"});
}

TEST_F(HarvestOutcomeTest, AStopDuringAnImageTransferLeavesNoFileBehind) {
  site_.answers[PageAddress(1)] = {AlbumPage("A", {"/p/1"}, {})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{Img("slow"), "slow"}})};
  StopFlag stop;
  std::thread stopper([&] {
    while (!streaming_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.Request();
  });
  HarvestReport report = Run(&stop);
  stopper.join();
  EXPECT_TRUE(report.interrupted);
  ASSERT_EQ(report.photos.size(), 1u) << "the photo in hand is told in its place";
  EXPECT_EQ(PhotoLogLine(report.photos[0]), "  slow — ОШИБКА: прервано");
  EXPECT_EQ(Files("A"), std::set<std::string>{});
}

TEST_F(HarvestOutcomeTest, TemporaryFilesOfADeadRunGoWhenARunEntersTheFolder) {
  ASSERT_EQ(mkdir((out_ + "A").c_str(), 0777), 0);
  const std::string stale = out_ + "A/.download-0123456789abcdef.part";
  const std::string held = out_ + "A/.download-fedcba9876543210.part";
  const std::string other = out_ + "A/.download-notours.part";
  for (const auto& path : {stale, held, other}) std::ofstream(path) << "partial";
  // A download under way in another process holds its file's lock.
  int fd = open(held.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  site_.answers[PageAddress(1)] = {AlbumPage("A", {"/p/1"}, {})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "x"}})};
  Run();
  close(fd);
  EXPECT_EQ(Files("A"), (std::set<std::string>{"1_x.jpg", ".download-fedcba9876543210.part",
                                                ".download-notours.part"}));
}

TEST_F(HarvestOutcomeTest, TheBaseFolderIsUsedAsTheBytesItIs) {
  site_.answers[PageAddress(1)] = {AlbumPage("Море", {"/p/1"}, {})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "x"}})};
  // Outside the code page, and not UTF-8 at all.
  for (std::string base : {std::string("café 日本"), std::string("raw\xFF")}) {
    SCOPED_TRACE(base);
    ASSERT_EQ(mkdir((out_ + base).c_str(), 0777), 0);
    settings_.output_dir = out_ + base;
    HarvestReport report = Run();
    EXPECT_EQ(Files(base + "/Море"), std::set<std::string>{"1_x.jpg"});
    EXPECT_EQ(report.folder, out_ + base + "/Море/");
  }
}

TEST(HarvestReportTest, CountsAndCompleteness) {
  auto photo = [](PhotoStatus status, bool already_there = false) {
    PhotoOutcome p;
    p.record.status = status;
    p.record.image_url = "http://i/1.jpg";
    p.already_there = already_there;
    return p;
  };
  auto page = [](bool read) {
    PageOutcome p;
    p.read = read;
    return p;
  };
  struct Case {
    const char* name;
    HarvestReport report;
    int saved, found, failed;
    bool complete;
  } cases[] = {
      {"nothing found", {{page(true)}, {}, "", true, false}, 0, 0, 0, false},
      {"all saved", {{page(true)}, {photo(PhotoStatus::psSaved), photo(PhotoStatus::psSaved, true)}, "", true, false},
       2, 2, 0, true},
      {"one photo failed", {{page(true)}, {photo(PhotoStatus::psSaved), photo(PhotoStatus::psFailed)}, "", true, false},
       1, 2, 1, false},
      {"a page failed", {{page(true), page(false)}, {photo(PhotoStatus::psSaved)}, "", true, false}, 1, 1, 1, false},
      {"interrupted", {{page(true)}, {photo(PhotoStatus::psSaved)}, "", true, true}, 1, 1, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.report.Saved(), c.saved) << c.name;
    EXPECT_EQ(c.report.Found(), c.found) << c.name;
    EXPECT_EQ(c.report.Failed(), c.failed) << c.name;
    EXPECT_EQ(c.report.Complete(), c.complete) << c.name;
  }
}

TEST(HarvestLogLines, OutcomesReadAsTheLogWritesThem) {
  PhotoOutcome saved;
  saved.record.title = "Закат";
  saved.record.image_url = "http://i/1.jpg";
  saved.record.status = PhotoStatus::psSaved;
  PhotoOutcome there = saved;
  there.already_there = true;
  PhotoOutcome failed = saved;
  failed.record.status = PhotoStatus::psFailed;
  failed.record.error = "HTTP/1.1 500 Internal Server Error";
  PhotoOutcome page_failed;
  page_failed.record.page_url = "http://h/p/1/#mainImageLink";
  page_failed.record.error = "Read Timeout";
  PageOutcome page;
  page.number = 47;
  page.error = "Connection Closed Gracefully.";
  struct Case {
    std::string line, utf8;
  } cases[] = {
      {PhotoLogLine(saved), "  Закат"},
      {PhotoLogLine(there), "  Закат (уже есть)"},
      {PhotoLogLine(failed), "  Закат — ОШИБКА: HTTP/1.1 500 Internal Server Error"},
      {PhotoLogLine(page_failed), "  http://h/p/1/#mainImageLink — ОШИБКА: Read Timeout"},
      {PageFailureLogLine(page), "Страница № 47 — ОШИБКА: Connection Closed Gracefully."},
      {SignInNotConfirmedLogLine("HTTP/1.1 403 Forbidden"), "Авторизация не подтверждена: HTTP/1.1 403 Forbidden"},
      {FolderLogCaption(), "Папка: "},
  };
  for (const auto& c : cases) EXPECT_EQ(c.line, c.utf8);
}

}  // namespace
}  // namespace ah
