// The harvest run with the real HTTP client over loopback sockets against
// the demo photo site: sign-in post, cookies, redirects, album and photo
// pages, and the images saved to disk.

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/harvest/harvest_run.h"
#include "app/site/scratch_lines.h"
#include "framework/component.h"
#include "http/secure_http_client.h"
#include "http/http_client.h"
#include "tests/support/tls_test_server.h"
#include "tools/album-demo-site/demo_site.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

class Surroundings : public HarvestFields,
                     public HarvestLog,
                     public MessagePump,
                     public HTTPClientSlot {
 public:
  // With a CA file the clients speak TLS and trust that authority.
  explicit Surroundings(const DemoSite& site, std::string ca_file = "")
      : album_(site.AlbumUrl()), ca_file_(std::move(ca_file)) {
    client_ = CreateIdHTTP();
  }
  ~Surroundings() override { delete client_; }

  std::string Edit1Text() override { return "demo"; }
  std::string Edit2Text() override { return "open sesame"; }
  std::string Edit3Text() override { return "mail.example"; }
  std::string Edit4Text() override { return album_; }

  void AddLogLine(const std::string& line) override { log.push_back(line); }
  int LogLineCount() override { return int(log.size()); }
  void ClearLog() override { log.clear(); }

  void ProcessMessages() override {}

  IHTTPClient* IdHTTP1() override { return client_; }
  void SetIdHTTP1(IHTTPClient* client) override { client_ = client; }
  // Made as the window makes its client: redirects followed.
  IHTTPClient* CreateIdHTTP() override {
    ++clients_made;
    if (!ca_file_.empty()) {
      auto* https = new TSecureHTTP(nullptr);
      https->TLS().SetCAFile(ca_file_);
      https->SetHandleRedirects(true);
      return https;
    }
    auto* http = new TIdHTTP(nullptr);
    http->SetHandleRedirects(true);
    return http;
  }

  std::vector<std::string> log;
  int clients_made = 0;

 private:
  std::string album_;
  std::string ca_file_;
  IHTTPClient* client_ = nullptr;
};

class HarvestEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = fs::temp_directory_path() /
           ("harvest-e2e-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(out_);
  }
  void TearDown() override { fs::remove_all(out_); }

  // Runs a whole harvest of the site; returns the images saved.
  std::vector<fs::path> Harvest(DemoSite& site, Surroundings& around) {
    ScratchLines scratch;
    HarvestSettings settings;
    settings.profile = {site.SiteRoot(), site.TitleSuffix(), site.ImageHostMarker()};
    settings.output_dir = out_.string();
    RunHarvest({around, around, around, around, scratch}, settings);
    std::vector<fs::path> images;
    for (const auto& entry : fs::recursive_directory_iterator(out_)) {
      if (entry.path().extension() == ".jpg") images.push_back(entry.path());
    }
    return images;
  }

  fs::path out_;
};

TEST_F(HarvestEndToEnd, SavesEveryPhotoOfTheAlbum) {
  DemoSiteOptions options;
  DemoSite site(options);
  site.Start();
  Surroundings around(site);
  std::vector<fs::path> images = Harvest(site, around);

  DemoSiteStats stats = site.Stats();
  EXPECT_EQ(stats.sign_ins, 1);
  EXPECT_EQ(stats.refused_sign_ins, 0);
  EXPECT_EQ(stats.album_pages, options.album.pages);
  EXPECT_EQ(stats.album_pages_with_photos, options.album.pages);
  EXPECT_EQ(stats.photo_pages, options.album.PhotoCount());
  EXPECT_EQ(int(images.size()), options.album.PhotoCount());
  ASSERT_FALSE(around.log.empty());
  EXPECT_EQ(around.log.back(), "ЗАВЕРШЕНО!");
}

TEST_F(HarvestEndToEnd, ChunkedPagesAndRenewedSessions) {
  // More pages than one sign-in covers: the run renews its client, which
  // starts without cookies, and signs in again.
  DemoSiteOptions options;
  options.chunked = true;
  options.album.pages = 22;
  options.album.photos_per_page = 1;
  DemoSite site(options);
  site.Start();
  Surroundings around(site);
  std::vector<fs::path> images = Harvest(site, around);

  DemoSiteStats stats = site.Stats();
  EXPECT_EQ(stats.sign_ins, 2);
  EXPECT_EQ(around.clients_made, 2);
  EXPECT_EQ(stats.album_pages_with_photos, 22);
  EXPECT_EQ(int(images.size()), 22);
}

TEST_F(HarvestEndToEnd, WholeHarvestOverHttps) {
  test::TestCertificates pki;
  test::CertificateFiles cert = pki.Issue("demo-site", {"127.0.0.1"});
  DemoSiteOptions options;
  options.tls_cert_file = cert.cert_file;
  options.tls_key_file = cert.key_file;
  DemoSite site(options);
  site.Start();
  ASSERT_EQ(site.SiteRoot().rfind("https://", 0), 0u);
  Surroundings around(site, pki.CAFile());
  std::vector<fs::path> images = Harvest(site, around);

  DemoSiteStats stats = site.Stats();
  EXPECT_EQ(stats.sign_ins, 1);
  EXPECT_EQ(stats.album_pages_with_photos, options.album.pages);
  EXPECT_EQ(stats.photo_pages, options.album.PhotoCount());
  EXPECT_EQ(int(images.size()), options.album.PhotoCount());
}

}  // namespace
}  // namespace ah
