// album-harvest against album-demo-site, in one process: the command's
// code with a client over cpp-httplib, the site on loopback ports.

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "app/cli/harvest_command.h"
#include "tests/tools/loopback_client.h"
#include "tools/album-demo-site/demo_site.h"

namespace ah {
namespace {

constexpr const char* kAlbumFolder = "Крым Лето 2024: морегоры";

std::map<std::string, std::string> FilesIn(const std::string& dir) {
  std::map<std::string, std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      std::ifstream in(dir + "/" + name, std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      files[name] = bytes.str();
    }
    closedir(d);
  }
  return files;
}

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

  int Harvest(const std::vector<std::string>& args, const char* env_password = nullptr) {
    std::ostringstream out, err;
    int code = HarvestMain(args, env_password, [] { return new LoopbackClient; }, out, err);
    out_ = out.str();
    err_ = err.str();
    return code;
  }

  std::map<std::string, std::string> Album() { return FilesIn(out_dir_ + "/" + kAlbumFolder); }

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
  EXPECT_TRUE(out_.ends_with("Страница № 3\n  Тропа  вниз\n  Скалы 2\n  Вечер: закат\n  Дом у моря\nЗАВЕРШЕНО!\n"))
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

TEST_F(AlbumHarvestTest, RefusedSignInEndsNormallyWithoutImages) {
  DemoSiteOptions options;
  options.album.pages = 2;
  StartSite(options);
  ASSERT_EQ(Harvest(CommandFor("wrong")), 0) << err_;
  EXPECT_TRUE(out_.ends_with("Страница № 2\nЗАВЕРШЕНО!\n")) << out_;
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

TEST(AlbumHarvestCommand, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--login", "x"},
      {"--album"},
      {"--album", "http://h/", "--frobnicate", "1"},
      {"http://h/"},
  };
  for (const auto& args : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(HarvestMain(args, nullptr, [] { return new LoopbackClient; }, out, err), 2)
        << testing::PrintToString(args);
    EXPECT_TRUE(err.str().find("usage: album-harvest") != std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty());
  }
  std::ostringstream out, err;
  EXPECT_EQ(HarvestMain({"--help"}, nullptr, [] { return nullptr; }, out, err), 0);
  EXPECT_TRUE(out.str().starts_with("usage: album-harvest --album URL")) << out.str();
}

TEST(AlbumHarvestCommand, ReadsBothFlagForms) {
  auto parsed = ParseHarvestCommandLine(
      {"--album=http://h/a/", "--title-suffix", " - X", "--domain=@m.example", "--login", "--x"},
      "env");
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.line.album, "http://h/a/");
  EXPECT_EQ(parsed.line.title_suffix, " - X");
  EXPECT_EQ(parsed.line.domain, "@m.example");
  EXPECT_EQ(parsed.line.login, "--x");
  EXPECT_EQ(parsed.line.password, "env");
  EXPECT_FALSE(parsed.line.site_root);
}

TEST(AlbumHarvestCommand, FailsWithOneWhenItCannotRun) {
  std::ostringstream out, err;
  EXPECT_EQ(HarvestMain({"--album", "http://127.0.0.1:1/a/"}, nullptr, [] { return nullptr; },
                        out, err),
            1);
  EXPECT_TRUE(err.str().find("no HTTP client") != std::string::npos) << err.str();
  std::ostringstream out2, err2;
  EXPECT_EQ(HarvestMain({"--album", "http://127.0.0.1:1/a/", "--output-dir", "/proc/no/such"},
                        nullptr, [] { return new LoopbackClient; }, out2, err2),
            1);
  EXPECT_TRUE(err2.str().find("cannot create the output folder") != std::string::npos)
      << err2.str();
}

}  // namespace
}  // namespace ah
