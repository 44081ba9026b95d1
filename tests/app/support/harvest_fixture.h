#pragma once
// The harvest run's surroundings for tests: a fake window around a
// scripted client, canned album and photo pages, and a local image host.

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/harvest/harvest_run.h"
#include "app/site/scratch_lines.h"
#include "tests/support/local_http_server.h"
#include "no_proxy.h"
#include "platform/code_page.h"
#include "scripted_client.h"
#include "tests/support/file_bytes.h"

namespace ah {

inline const std::string kRoot = "http://fotopolka.example";
inline const std::string kAlbum = "http://fotopolka.example/users/bob/7/";
inline const std::string kSuffix = " - Фотополка";
inline const std::string kImage = "\xFF\xD8 image bytes \xFF\xD9";

// The window as the run sees it: fields, log, pump, client slot and scratch
// memo, all writing into the site's journal (log lines turned into UTF-8).
class FakeWindow : public HarvestFields, public HarvestLog, public MessagePump, public HTTPClientSlot {
 public:
  explicit FakeWindow(ScriptedSite& site) : site_(site), client_(new ScriptedClient(site)) {}
  ~FakeWindow() override { delete client_; }

  std::string Edit1Text() override { return login; }
  std::string Edit2Text() override { return password; }
  std::string Edit3Text() override { return domain; }
  std::string Edit4Text() override { return album; }

  void AddLogLine(const std::string& line) override {
    log.push_back(line);
    site_.journal.push_back("log " + line);
  }
  int LogLineCount() override { return int(log.size()); }
  void ClearLog() override {
    log.clear();
    site_.journal.push_back("log cleared");
  }

  void ProcessMessages() override {
    ++pumps;
    if (on_pump) on_pump(pumps);
  }

  IHTTPClient* IdHTTP1() override { return client_; }
  void SetIdHTTP1(IHTTPClient* client) override { client_ = client; }
  IHTTPClient* CreateIdHTTP() override { return new ScriptedClient(site_); }

  HarvestSurroundings Surroundings(const StopFlag* stop = nullptr) {
    return {*this, *this, *this, *this, scratch, stop};
  }

  std::string login = "bob", password = "secret1pass!", domain = "@fotopolka.example", album = kAlbum;
  std::vector<std::string> log;
  int pumps = 0;
  std::function<void(int)> on_pump;
  ScratchLines scratch;

 private:
  ScriptedSite& site_;
  IHTTPClient* client_;
};

// The photo link line is appended to the root unchanged, marker included.
inline std::string PhotoAddress(const std::string& path) { return kRoot + path + "/#mainImageLink"; }

inline std::string PageAddress(int page, const std::string& album = kAlbum) {
  return album + "?page=" + std::to_string(page);
}

// An album page as the site sends it (UTF-8).
inline std::string AlbumPage(const std::string& title, const std::vector<std::string>& photo_paths,
                             const std::vector<int>& page_links) {
  std::string html = "<html><head>\n<title>" + title + kSuffix + "</title>\n</head><body>\n";
  for (auto& path : photo_paths)
    html += "<a href=\"" + path + "/#mainImageLink\" onclick=\"show(1)\"><img src=\"/thumb.jpg\"></a>\n";
  for (int p : page_links) html += "<a href=\"?page=" + std::to_string(p) + "\">" + std::to_string(p) + "</a>\n";
  return html + "</body></html>\n";
}

struct Image {
  std::string address, title;
};

inline std::string PhotoPage(const std::vector<Image>& images) {
  std::string html = "<html><head><title>photo" + kSuffix + "</title></head><body>\n";
  for (auto& i : images) html += "<img class=\"full\" src=\"" + i.address + "\" title=\"" + i.title + "\">\n";
  return html + "</body></html>\n";
}

inline const std::string kSignInForm =
    "return_url=/users/bob/|login=bob|domain=@fotopolka.example|password=secret1pass!|remember=on";

class HarvestRunTest : public testing::Test {
 protected:
  void SetUp() override {
    DropProxyEnvironment();
    char pattern[] = "/tmp/ah-harvest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    out_ = std::string(pattern) + "/";
    server_.server().Get(R"(/photo/([^/]+)\.jpg)", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(kImage + req.matches[1].str(), "image/jpeg");
    });
    ASSERT_TRUE(server_.Start());
    settings_.profile.ImageHostMarker = "127.0.0.1:" + std::to_string(server_.port()) + "/photo";
    settings_.output_dir = out_;
    // Retries without waiting.
    settings_.transfer.waits_ms = {};
    // A sign-in the site accepts sets its session cookie.
    site_.answers[kRoot + "/login/"] = {"welcome", false, 0, "", true, true};
  }
  void TearDown() override {
    server_.Stop();
    std::system(("rm -rf '" + out_ + "'").c_str());
  }

  std::string ImageUrl(int n) const { return server_.Url("/photo/" + std::to_string(n) + ".jpg"); }

  HarvestReport Run(const StopFlag* stop = nullptr) { return RunHarvest(window_.Surroundings(stop), settings_); }

  std::vector<std::string> Journal(const std::string& prefix) const {
    std::vector<std::string> out;
    for (auto& e : site_.journal)
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }

  // What a folder holds besides its manifest and gallery page.
  std::set<std::string> Files(const std::string& dir) const {
    std::set<std::string> names;
    if (DIR* d = opendir((out_ + dir).c_str())) {
      while (dirent* e = readdir(d))
        if (!std::set<std::string>{".", "..", "album.json", "index.html"}.count(e->d_name))
          names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }

  std::string Slurp(const std::string& path) const { return test::FileBytes(out_ + path); }

  // The closing lines of a run that found `found` photos.
  std::vector<std::string> Summary(int saved, int found, int errors, const std::string& folder) const {
    return {"log Сохранено: " + std::to_string(saved) + " из " + std::to_string(found) +
                ", ошибок: " + std::to_string(errors),
            "log Папка: " + (folder.empty() ? "" : out_ + folder)};
  }

  test::LocalHttpServer server_;
  ScriptedSite site_;
  FakeWindow window_{site_};
  HarvestSettings settings_;
  std::string out_;
};

}  // namespace ah
