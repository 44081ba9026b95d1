// album-harvest against album-demo-site, in one process: the command's
// code with the client the program uses, the site on loopback ports.

#include <dirent.h>
#include <unistd.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <atomic>
#include <functional>
#include <set>
#include <chrono>
#include <thread>

#include "app/cli/cli_client.h"
#include "app/cli/harvest_command.h"
#include "app/fetch/stop_flag.h"
#include "tests/support/forward_proxy.h"
#include "tests/support/local_http_server.h"
#include "tests/support/scripted_server.h"
#include "tests/app/cli/demo_harvest.h"
#include "tools/album-demo-site/demo_site.h"

namespace ah {
namespace {

int Find(const std::vector<std::string>& log, const std::string& prefix, int from = 0) {
  for (int i = from; i < int(log.size()); ++i)
    if (log[i].starts_with(prefix)) return i;
  return -1;
}

class AlbumHarvestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Images are fetched straight from 127.0.0.1, whatever proxy is set.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
    char pattern[] = "/tmp/album-harvest-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    out_dir_ = pattern;
  }
  void TearDown() override {
    if (site_) site_->Stop();
    std::string cmd = "rm -rf '" + out_dir_ + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }

  void StartSite(DemoSiteOptions options) {
    site_ = std::make_unique<DemoSite>(std::move(options));
    site_->Start();
  }

  std::vector<std::string> CommandFor(std::string_view password) {
    const DemoSiteOptions& o = site_->Options();
    return {"--album", site_->AlbumUrl(), "--login", o.login, "--password", std::string(password),
            "--domain", o.domain, "--site-root", site_->SiteRoot(), "--title-suffix",
            site_->TitleSuffix(), "--image-host-marker", site_->ImageHostMarker(),
            "--output-dir", out_dir_};
  }

  int Harvest(const std::vector<std::string>& args, const char* env_password = nullptr,
              const StopFlag* stop = nullptr) {
    std::ostringstream out, err;
    HarvestEnvironment env;
    env.password = env_password;
    int code = HarvestMain(args, env, CreateCliClient, out, err, stop);
    out_ = out.str();
    err_ = err.str();
    return code;
  }

  std::map<std::string, std::string> Album() { return FilesIn(out_dir_ + "/" + kAlbumFolder); }
  std::string AlbumFolder() const { return out_dir_ + "/" + kAlbumFolder; }

  std::unique_ptr<DemoSite> site_;
  std::string out_dir_, out_, err_;
};

TEST_F(AlbumHarvestTest, SavesThreePagesOfFourPhotosUnderCleanedNames) {
  DemoSiteOptions options;
  options.album.pages = 3;
  options.album.photos_per_page = 4;
  StartSite(options);
  ASSERT_EQ(Harvest(CommandFor(options.password)), 0) << err_ << out_;

  const char* names[] = {"1_Рассвет над морем.jpg", "2_Чайки  у причала.jpg", "3_.jpg",
                         "4_Кто здесь.jpg",         "5_Ура, каникулы.jpg",    "6_Улица №5  вечер.jpg",
                         "7_Кофе за 3.jpg",         "8_Рыбаки  утро.jpg",     "9_Тропа  вниз.jpg",
                         "10_Скалы 2.jpg",          "11_Вечер: закат.jpg",    "12_Дом у моря.jpg"};
  std::map<std::string, std::string> expected;
  for (int id = 1; id <= 12; ++id) expected[names[id - 1]] = site_->ImageBytes(id);
  auto album = Album();
  EXPECT_EQ(album.size(), expected.size());
  for (const auto& [name, bytes] : expected) {
    ASSERT_TRUE(album.count(name)) << "missing " << name;
    EXPECT_TRUE(album[name] == bytes) << name << " differs from what the image host served";
  }

  EXPECT_TRUE(out_.starts_with("Авторизация...\nСтраница № 1\n  Рассвет над морем\n")) << out_;
  EXPECT_TRUE(out_.ends_with("Страница № 3\n  Тропа  вниз\n  Скалы 2\n  Вечер: закат\n  Дом у моря\n"
                             "Сохранено: 12 из 12, ошибок: 0\nПапка: " + AlbumFolder() + "\nЗАВЕРШЕНО!\n"))
      << out_;
  EXPECT_TRUE(out_.find("\n  \n") != std::string::npos) << "the untitled photo's line: " << out_;

  DemoSiteStats s = site_->Stats();
  EXPECT_EQ(s.sign_ins, 1);
  EXPECT_EQ(s.album_pages, 3);
  EXPECT_EQ(s.album_pages_with_photos, 3);
  EXPECT_EQ(s.photo_pages, 12);
  EXPECT_EQ(s.images, 12);
  EXPECT_EQ(s.decoy_requests, 0);
  EXPECT_EQ(s.other_requests, 0);
}

TEST_F(AlbumHarvestTest, SignsInAgainBeforePageTwentyOneAndKeepsGettingPhotos) {
  DemoSiteOptions options;
  options.album.pages = 25;
  options.album.photos_per_page = 1;
  options.session_requests = 20;
  StartSite(options);
  ASSERT_EQ(Harvest(CommandFor(options.password)), 0) << err_;
  EXPECT_EQ(Album().size(), 25u);
  DemoSiteStats s = site_->Stats();
  EXPECT_EQ(s.sign_ins, 2);
  EXPECT_EQ(s.album_pages, 25);
  EXPECT_EQ(s.album_pages_with_photos, 25);
  EXPECT_EQ(s.expired_sessions, 0);
  auto log = site_->RequestLog();
  int second = Find(log, "sign-in ok", Find(log, "sign-in ok") + 1);
  ASSERT_GE(second, 0);
  EXPECT_EQ(log[second], "sign-in ok login=demo session=s2");
  EXPECT_LT(Find(log, "album page=20 "), second);
  int page21 = Find(log, "album page=21 ");
  ASSERT_GT(page21, second);
  EXPECT_EQ(log[page21], "album page=21 session=s2 photos=yes");
}

TEST_F(AlbumHarvestTest, ASessionShorterThanTwentyPagesLosesPhotos) {
  DemoSiteOptions options;
  options.album.pages = 21;
  options.album.photos_per_page = 1;
  options.session_requests = 19;
  StartSite(options);
  ASSERT_EQ(Harvest(CommandFor(options.password)), 0) << err_;
  EXPECT_EQ(Album().size(), 20u) << "page 20 came after the session ended";
  EXPECT_EQ(site_->Stats().expired_sessions, 1);
}

TEST_F(AlbumHarvestTest, ReadsChunkedPages) {
  DemoSiteOptions options;
  options.album.pages = 2;
  options.album.photos_per_page = 3;
  options.chunked = true;
  StartSite(options);
  ASSERT_EQ(Harvest(CommandFor(options.password)), 0) << err_;
  auto album = Album();
  EXPECT_EQ(album.size(), 6u);
  EXPECT_TRUE(album["5_Ура, каникулы.jpg"] == site_->ImageBytes(5));
}

TEST_F(AlbumHarvestTest, RefusedSignInIsToldAndEndsWithThree) {
  DemoSiteOptions options;
  options.album.pages = 2;
  StartSite(options);
  ASSERT_EQ(Harvest(CommandFor("wrong")), 3) << err_;
  EXPECT_EQ(out_, "Авторизация...\nАвторизация не подтверждена: ответ без перенаправления и без cookie\n"
                  "Страница № 1\nСтраница № 2\nСохранено: 0 из 0, ошибок: 0\nПапка: " +
                      AlbumFolder() + "\nЗАВЕРШЕНО!\n");
  EXPECT_TRUE(Album().empty());
  DemoSiteStats s = site_->Stats();
  EXPECT_EQ(s.refused_sign_ins, 1);
  EXPECT_EQ(s.album_pages_with_photos, 0);
  EXPECT_EQ(s.photo_pages, 0);
}

TEST_F(AlbumHarvestTest, TakesThePasswordFromTheEnvironmentWhenNoFlagGivesIt) {
  DemoSiteOptions options;
  options.album.pages = 1;
  options.album.photos_per_page = 1;
  StartSite(options);
  std::vector<std::string> args = CommandFor("");
  args.erase(args.begin() + 4, args.begin() + 6);  // --password and its value
  ASSERT_EQ(Harvest(args, "open sesame"), 0) << err_;
  EXPECT_EQ(site_->Stats().sign_ins, 1);
  ASSERT_EQ(Harvest(CommandFor("open sesame"), "wrong"), 0) << err_;
  EXPECT_EQ(site_->Stats().sign_ins, 2) << "the flag wins over the environment";
}

// The demo album of two pages of two photos, harvested against each fault.
TEST_F(AlbumHarvestTest, EachFaultOfTheSiteEndsWithItsLogFilesAndExitCode) {
  const std::string names[] = {"1_Рассвет над морем.jpg", "2_Чайки  у причала.jpg", "3_.jpg", "4_Кто здесь.jpg"};
  struct Case {
    const char* name;
    std::function<void(DemoSiteOptions&)> faults;
    std::vector<std::string> flags;
    // {root} stands for the site's root; the summary and final lines follow.
    std::vector<std::string> log;
    std::set<int> files;  // photo numbers saved
    int code;
  } cases[] = {
      {"a good run", [](DemoSiteOptions&) {}, {},
       {"Страница № 1", "  Рассвет над морем", "  Чайки  у причала", "Страница № 2", "  ", "  Кто здесь"},
       {1, 2, 3, 4}, 0},
      {"an album address that is not ASCII goes out in UTF-8",
       [](DemoSiteOptions& o) { o.album.slug = "лето-2024"; }, {},
       {"Страница № 1", "  Рассвет над морем", "  Чайки  у причала", "Страница № 2", "  ", "  Кто здесь"},
       {1, 2, 3, 4}, 0},
      {"an image that always fails is tried three times",
       [](DemoSiteOptions& o) { o.faults.images = {2}; }, {},
       {"Страница № 1", "  Рассвет над морем",
        "  Чайки  у причала — ОШИБКА: HTTP/1.1 500 Internal Server Error", "Страница № 2", "  ",
        "  Кто здесь"},
       {1, 3, 4}, 3},
      {"an image that fails twice is saved at the third attempt",
       [](DemoSiteOptions& o) {
         o.faults.images = {2};
         o.faults.times = 2;
       },
       {}, {"Страница № 1", "  Рассвет над морем", "  Чайки  у причала", "Страница № 2", "  ", "  Кто здесь"},
       {1, 2, 3, 4}, 0},
      {"a missing image is not retried",
       [](DemoSiteOptions& o) {
         o.faults.images = {4};
         o.faults.status = 404;
       },
       {},
       {"Страница № 1", "  Рассвет над морем", "  Чайки  у причала", "Страница № 2", "  ",
        "  Кто здесь — ОШИБКА: HTTP/1.1 404 Not Found"},
       {1, 2, 3}, 3},
      {"a photo page that fails keeps its number",
       [](DemoSiteOptions& o) { o.faults.photo_pages = {3}; }, {},
       {"Страница № 1", "  Рассвет над морем", "  Чайки  у причала", "Страница № 2",
        "  {root}/users/demo/krym-2024/photo/3/#mainImageLink — ОШИБКА: HTTP/1.1 500 Internal Server Error",
        "  Кто здесь"},
       {1, 2, 4}, 3},
      {"an album page that fails ends the walk",
       [](DemoSiteOptions& o) {
         o.album.pages = 3;
         o.faults.album_pages = {2};
       },
       {},
       {"Страница № 1", "  Рассвет над морем", "  Чайки  у причала", "Страница № 2",
        "Страница № 2 — ОШИБКА: HTTP/1.1 500 Internal Server Error"},
       {1, 2}, 3},
      {"a site that stops answering is given up after the time-out",
       // Which request is the one that stalls depends on their order: one job.
       [](DemoSiteOptions& o) { o.faults.stall_after = 5; },
       {"--timeout", "0.5", "--retries", "0", "--jobs", "1"},
       {"Страница № 1", "  Рассвет над морем",
        "  {root}/users/demo/krym-2024/photo/2/#mainImageLink — ОШИБКА: Read Timeout", "Страница № 2",
        "Страница № 2 — ОШИБКА: Read Timeout"},
       {1}, 3},
      {"an image host that stops answering is given up after the time-out",
       [](DemoSiteOptions& o) {
         o.album.pages = 1;
         o.faults.stall_after = 4;
       },
       {"--timeout", "1", "--retries", "0", "--jobs", "1"},
       {"Страница № 1",
        "  Рассвет над морем — ОШИБКА: Operation too slow. Less than 1 bytes/sec transferred the last 1 seconds",
        "  {root}/users/demo/krym-2024/photo/2/#mainImageLink — ОШИБКА: Read Timeout"},
       {}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DemoSiteOptions options;
    options.album.pages = 2;
    options.album.photos_per_page = 2;
    c.faults(options);
    StartSite(options);
    std::vector<std::string> args = CommandFor(options.password);
    // The site is where the album is: no --site-root needed.
    args.erase(args.begin() + 8, args.begin() + 10);
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    EXPECT_EQ(Harvest(args), c.code) << err_;
    std::string expected = "Авторизация...\n";
    int saved = 0, found = 0, errors = 0;
    for (std::string line : c.log) {
      if (size_t at = line.find("{root}"); at != std::string::npos) line.replace(at, 6, site_->SiteRoot());
      expected += line + "\n";
      if (line.starts_with("  ")) ++found;
      if (line.find(" — ОШИБКА: ") != std::string::npos) ++errors;
    }
    saved = int(c.files.size());
    expected += "Сохранено: " + std::to_string(saved) + " из " + std::to_string(found) + ", ошибок: " +
                std::to_string(errors) + "\nПапка: " + AlbumFolder() + "\nЗАВЕРШЕНО!\n";
    EXPECT_EQ(out_, expected);
    std::map<std::string, std::string> album = Album();
    std::set<std::string> want;
    for (int id : c.files) want.insert(names[id - 1]);
    std::set<std::string> have;
    for (const auto& [name, bytes] : album) {
      have.insert(name);
      int id = std::atoi(name.c_str());
      EXPECT_TRUE(bytes == site_->ImageBytes(id)) << name;
    }
    EXPECT_EQ(have, want);
    site_->Stop();
    std::system(("rm -rf '" + out_dir_ + "'/*").c_str());
  }
}

TEST_F(AlbumHarvestTest, WhatKeepsTheRunFromTheAlbumEndsWithThree) {
  DemoSiteOptions options;
  options.album.pages = 1;
  StartSite(options);
  test::RefusingPort refusing;
  const std::string closed = "http://127.0.0.1:" + std::to_string(refusing.Port());
  struct Case {
    std::string album;
    std::vector<std::string> flags;
    std::string log;
  } cases[] = {
      {site_->SiteRoot() + "/users/demo/no-such-album/", {},
       "Авторизация...\nСтраница № 1\nСтраница № 1 — ОШИБКА: HTTP/1.1 404 Not Found\n"},
      {closed + "/users/demo/krym-2024/", {"--retries", "0"},
       "Авторизация...\nАвторизация не подтверждена: Socket Error # 10061 Connection refused.\n"
       "Страница № 1\nСтраница № 1 — ОШИБКА: Socket Error # 10061 Connection refused.\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--login", "demo", "--password", "open sesame", "--domain",
                                     "mail.example", "--output-dir", out_dir_, c.album};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    EXPECT_EQ(Harvest(args), 3) << c.album << err_;
    EXPECT_EQ(out_, c.log + "Сохранено: 0 из 0, ошибок: 1\nПапка: \nЗАВЕРШЕНО!\n") << c.album;
  }
}

TEST_F(AlbumHarvestTest, PagesAndImagesGoThroughTheSameProxy) {
  DemoSiteOptions options;
  options.album.pages = 1;
  options.album.photos_per_page = 2;
  StartSite(options);
  test::ForwardProxy proxy;
  proxy.Start();
  auto through_proxy = [&] {
    int pages = 0, images = 0;
    for (const auto& target : proxy.Targets()) {
      if (target.find(site_->SiteRoot()) != std::string::npos) ++pages;
      if (target.find(site_->ImageRoot()) != std::string::npos) ++images;
    }
    return std::make_pair(pages, images);
  };
  std::vector<std::string> args = CommandFor(options.password);
  args.push_back("--proxy");
  args.push_back("127.0.0.1:" + std::to_string(proxy.port()));
  ASSERT_EQ(Harvest(args), 0) << err_ << out_;
  EXPECT_EQ(Album().size(), 2u);
  // The sign-in, its redirect, the album page, two photo pages; two images.
  EXPECT_EQ(through_proxy(), std::make_pair(5, 2));

  // The usual variables, and no_proxy, say the same for both.
  std::system(("rm -rf '" + out_dir_ + "'/*").c_str());
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  ASSERT_EQ(Harvest(CommandFor(options.password)), 0) << err_ << out_;
  EXPECT_EQ(through_proxy(), std::make_pair(10, 4));
  setenv("no_proxy", "127.0.0.1", 1);
  ASSERT_EQ(Harvest(CommandFor(options.password)), 0) << err_ << out_;
  EXPECT_EQ(through_proxy(), std::make_pair(10, 4));
  unsetenv("http_proxy");
  unsetenv("no_proxy");
}

TEST_F(AlbumHarvestTest, AStopEndsTheRunWithItsSummaryAndOneHundredThirty) {
  DemoSiteOptions options;
  options.album.pages = 3;
  options.album.photos_per_page = 3;
  options.latency_ms = 30;
  StartSite(options);
  StopFlag stop;
  std::thread stopper([&] {
    // Once the first photo is on disk.
    auto saved = [&] { return Album().count("1_Рассвет над морем.jpg") > 0; };
    for (int i = 0; i < 1000 && !saved(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop.Request();
  });
  int code = Harvest(CommandFor(options.password), nullptr, &stop);
  stopper.join();
  EXPECT_EQ(code, 130) << err_;
  EXPECT_NE(err_.find("interrupted"), std::string::npos) << err_;
  EXPECT_EQ(out_.find("ЗАВЕРШЕНО!"), std::string::npos) << out_;
  const size_t summary = out_.find("Сохранено: ");
  ASSERT_NE(summary, std::string::npos) << out_;
  EXPECT_TRUE(out_.ends_with("\nПапка: " + AlbumFolder() + "\n")) << out_;
  auto album = Album();
  EXPECT_FALSE(album.empty());
  EXPECT_LT(album.size(), 9u);
  for (const auto& [name, bytes] : album) {
    EXPECT_FALSE(name.starts_with(".")) << name;
    EXPECT_TRUE(bytes == site_->ImageBytes(std::atoi(name.c_str()))) << name;
  }
}

TEST_F(AlbumHarvestTest, TheDefaultOutputFolderIsTheCurrentOne) {
  DemoSiteOptions options;
  options.album.pages = 1;
  options.album.photos_per_page = 1;
  StartSite(options);
  std::vector<std::string> args = CommandFor(options.password);
  args.erase(args.end() - 2, args.end());  // --output-dir and its value
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  // Bytes the code page cannot hold stay as they are.
  const std::string here = out_dir_ + "/日本 café";
  ASSERT_EQ(mkdir(here.c_str(), 0777), 0);
  ASSERT_EQ(chdir(here.c_str()), 0);
  int code = Harvest(args);
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_EQ(code, 0) << err_;
  EXPECT_EQ(FilesIn(here + "/" + kAlbumFolder).size(), 1u);
  EXPECT_NE(out_.find("\nПапка: " + here + "/" + kAlbumFolder + "\n"), std::string::npos) << out_;
}

// A site of one album page and one photo with the titles a test gives.
class OnePhotoSite {
 public:
  OnePhotoSite(std::string album_title, std::string photo_title) {
    auto page = [](std::string body) {
      return [body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "text/html");
      };
    };
    site_.server().Post("/login/", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("/users/x/");
    });
    site_.server().Get("/users/x/", page(""));
    site_.server().Get("/album/", page("<title>" + album_title + " - Site</title>\n"
                                       "<a href=\"/photo/1/#mainImageLink\">1</a>\n"));
    site_.server().Get("/photo/1/", [this, photo_title](const httplib::Request&,
                                                        httplib::Response& res) {
      res.set_content("<img src=\"" + site_.Url("/photo/1.jpg") + "\" title=\"" + photo_title +
                          "\">",
                      "text/html");
    });
    site_.server().Get("/photo/1.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(2048, 'j'), "image/jpeg");
    });
    site_.Start();
  }
  std::vector<std::string> Command(const std::string& out_dir) const {
    return {"--login", "x", "--password", "y", "--domain", "z", "--site-root", site_.Url(""),
            "--title-suffix", " - Site", "--image-host-marker",
            "127.0.0.1:" + std::to_string(site_.port()) + "/photo", "--output-dir", out_dir,
            site_.Url("/album/")};
  }

 private:
  test::LocalHttpServer site_;
};

// Control bytes in a site's titles reach neither the terminal nor names
// on disk (they become spaces there).
TEST_F(AlbumHarvestTest, ControlBytesFromTheSiteDoNotReachTheTerminal) {
  const std::string title = "Red\x1b[2Jwipe\x07 \x7F";
  OnePhotoSite site("Al\x1b]0;pwned\x07" "bum", title);
  EXPECT_EQ(Harvest(site.Command(out_dir_)), 0) << out_ << err_;
  for (char c : out_)
    EXPECT_TRUE((static_cast<unsigned char>(c) >= 0x20 && c != '\x7F') || c == '\n') << out_;
  EXPECT_NE(out_.find("  Red?[2Jwipe? ?\n"), std::string::npos) << out_;
  EXPECT_EQ(FilesIn(out_dir_ + "/Al ]0;pwned bum").count("1_Red [2Jwipe   .jpg"), 1u);
}

// A title too long for a file name is cut on disk at a character, leaving
// room for the temporary names beside it; the log keeps it whole.
TEST_F(AlbumHarvestTest, TitlesTooLongForAFileNameAreCutOnDisk) {
  std::string long_title;
  for (int i = 0; i < 150; ++i) long_title += "Ж";  // 300 bytes on disk
  OnePhotoSite site(long_title, long_title);
  EXPECT_EQ(Harvest(site.Command(out_dir_)), 0) << out_ << err_;
  EXPECT_NE(out_.find("\n  " + long_title + "\n"), std::string::npos) << out_;
  const std::string folder = long_title.substr(0, 200);
  std::map<std::string, std::string> files = FilesIn(out_dir_ + "/" + folder);
  EXPECT_EQ(files.count("1_" + long_title.substr(0, 194) + ".jpg"), 1u) << files.size();
}

}  // namespace
}  // namespace ah
