#pragma once
// album-harvest against album-demo-site in one process: what the suites
// that harvest the demo site share.

#include <dirent.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_client.h"
#include "app/cli/harvest_command.h"
#include "tests/support/file_bytes.h"
#include "tools/album-demo-site/demo_site.h"

namespace ah {

// The demo album's folder.
inline constexpr const char* kAlbumFolder = "Крым Лето 2024: морегоры";

// What a folder holds besides its manifest and gallery page, by name, with
// the files' bytes.
inline std::map<std::string, std::string> FilesIn(const std::string& dir) {
  std::map<std::string, std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == ".." || name == "album.json" || name == "index.html") continue;
      files[name] = test::FileBytes(dir + "/" + name);
    }
    closedir(d);
  }
  return files;
}

// Harvests of a demo site into folders below a scratch folder.
class DemoHarvestTest : public testing::Test {
 protected:
  struct Result {
    int code = -1;
    std::string out, err;
    double seconds = 0;  // the run's wall time
  };

  void SetUp() override {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
    char pattern[] = "/tmp/ah-demo-harvest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    if (site_) site_->Stop();
    std::filesystem::remove_all(root_);
  }

  void StartSite(DemoSiteOptions options) {
    site_ = std::make_unique<DemoSite>(std::move(options));
    site_->Start();
  }

  std::vector<std::string> Args(const std::string& out_dir) const {
    const DemoSiteOptions& o = site_->Options();
    return {site_->AlbumUrl(),        "--login",        o.login,
            "--password",             o.password,       "--domain",
            o.domain,                 "--title-suffix", site_->TitleSuffix(),
            "--image-host-marker",    site_->ImageHostMarker(),
            "--output-dir",           out_dir};
  }

  // A harvest into root/`name`.
  Result Harvest(const std::string& name, const std::vector<std::string>& flags = {},
                 const StopFlag* stop = nullptr, bool live_progress = false) {
    std::vector<std::string> args = Args(root_ + "/" + name);
    args.insert(args.end(), flags.begin(), flags.end());
    std::ostringstream out, err;
    Result r;
    const auto start = std::chrono::steady_clock::now();
    r.code = HarvestMain(args, {}, CreateCliClient, out, err, stop, live_progress);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  std::string Folder(const std::string& name) const { return root_ + "/" + name + "/" + kAlbumFolder; }
  std::map<std::string, std::string> Album(const std::string& name) const {
    return FilesIn(Folder(name));
  }
  // The images in the album folder, temporary files left out.
  size_t Images(const std::string& name) const {
    size_t n = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Folder(name), error)) {
      const std::string file = entry.path().filename().string();
      n += !file.starts_with(".") && file != "album.json" && file != "index.html";
    }
    return n;
  }
  // Every file has the bytes the site serves for its photo number.
  void ExpectServedBytes(const std::map<std::string, std::string>& album) {
    for (const auto& [file, bytes] : album)
      EXPECT_TRUE(bytes == site_->ImageBytes(std::atoi(file.c_str()))) << file;
  }

  std::unique_ptr<DemoSite> site_;
  std::string root_;
};

// How many lines of `log` contain `text`.
inline int LinesWith(const std::string& log, const std::string& text) {
  int n = 0;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) n += line.find(text) != std::string::npos;
  return n;
}

}  // namespace ah
