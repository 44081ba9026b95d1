// The gallery page in a real browser: headless Chromium opens index.html
// from disk, and a checking page beside it reports what was shown.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/album/album_manifest.h"
#include "app/album/gallery_page.h"
#include "platform/sha256.h"
#include "tests/support/file_bytes.h"
#include "tools/album-demo-site/demo_jpeg.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

constexpr const char* kChromium = "/usr/bin/chromium";

// Loads the gallery in a desktop-wide and a phone-wide frame, waits until
// every image has settled, and writes what it saw into #result.
constexpr std::string_view kCheckPage = R"(<!DOCTYPE html>
<meta charset="utf-8">
<iframe id="desktop" src="index.html" style="width:1280px;height:1600px;border:0"></iframe>
<iframe id="phone" src="index.html" style="width:390px;height:2400px;border:0"></iframe>
<pre id="result">pending</pre>
<script>
function report(frame) {
  const doc = frame.contentDocument;
  const view = frame.contentWindow;
  return {
    title: doc.title,
    counts: (doc.getElementById('counts') || {}).textContent,
    overflows: doc.documentElement.scrollWidth > view.innerWidth,
    images: Array.from(doc.images).map(img => {
      const box = img.getBoundingClientRect();
      const link = img.closest('a');
      return {
        alt: img.alt, src: img.currentSrc, lazy: img.loading,
        loaded: img.complete && img.naturalWidth > 0, width: img.naturalWidth,
        shown: box.width > 0 && box.height > 0 && view.getComputedStyle(img).visibility === 'visible',
        opens: link ? link.href : ''
      };
    }),
    failed: Array.from(doc.querySelectorAll('.failed li')).map(li => li.textContent),
    scripts: doc.scripts.length
  };
}
const started = Date.now();
function poll() {
  const frames = [document.getElementById('desktop'), document.getElementById('phone')];
  const settled = frames.every(f => f.contentDocument && f.contentDocument.readyState === 'complete' &&
      Array.from(f.contentDocument.images).every(i => i.complete));
  if (!settled && Date.now() - started < 8000) return setTimeout(poll, 50);
  // The dump escapes markup characters: keep them out of the JSON text.
  const json = JSON.stringify({desktop: report(frames[0]), phone: report(frames[1])})
      .replace(/[<>&]/g, c => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0'));
  document.getElementById('result').textContent = 'RESULT' + json + 'END';
}
window.addEventListener('load', poll);
</script>
)";

// Runs Chromium headless with the flags this machine needs (no sandbox
// for root, nothing reaching beyond the machine), its profile and home
// under `scratch`; returns what it printed on stdout.
std::string RunChromium(const fs::path& scratch, const std::vector<std::string>& extra) {
  const fs::path out = scratch / "chromium.out";
  std::vector<std::string> args = {
      kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
      "--disable-background-networking", "--no-first-run", "--disable-component-update",
      "--disable-sync", "--disable-extensions", "--mute-audio",
      "--user-data-dir=" + (scratch / "profile").native()};
  args.insert(args.end(), extra.begin(), extra.end());
  pid_t child = fork();
  if (child == 0) {
    // Its own process group, so that its helper processes can be ended with it.
    setpgid(0, 0);
    setenv("HOME", scratch.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (scratch / "cache").c_str(), 1);
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null = ::open("/dev/null", O_RDWR);
    dup2(fd, 1);
    dup2(null, 2);
    dup2(null, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(kChromium, argv.data());
    _exit(127);
  }
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-child, SIGKILL);
      waitpid(child, &status, 0);
      ADD_FAILURE() << "chromium did not finish within 60 s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-child, SIGKILL);  // whatever of its group is still there
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "chromium status " << status;
  return test::FileBytes(out);
}

TEST(GalleryInBrowser, ShowsAndLoadsEverySavedImageOnDesktopAndPhone) {
  if (access(kChromium, X_OK) != 0) {
    if (std::getenv("CI")) FAIL() << kChromium << " is missing: scripts/install-deps.sh installs it";
    GTEST_SKIP() << kChromium << " is not installed";
  }
  const fs::path artifacts = AH_TEST_ARTIFACT_DIR;
  const fs::path album = artifacts / "gallery-album";
  const fs::path scratch = artifacts / "gallery-chromium";
  fs::remove_all(album);
  fs::remove_all(scratch);
  fs::create_directories(album);
  fs::create_directories(scratch);

  AlbumManifest m;
  m.album_url = "http://127.0.0.1:8080/users/demo/krym-2024/";
  m.title = "Крым 2024 <i>&</i>";
  m.last_run = ManifestTime(1700000000);
  // Names that a careless link would break: a space, "#", "?", "%", Cyrillic.
  const std::vector<std::pair<std::string, std::string>> saved = {
      {"Море", "1_Море.jpg"},
      {"a #2? 100%", "2_a #2? 100%.jpg"},
      {"", "3_.jpg"},
      {"<b>\"bold\"</b>", "4_bold's.jpg"},
  };
  int number = 0;
  for (const auto& [title, file] : saved) {
    ++number;
    std::string jpeg = MakeDemoJpeg(uint32_t(number), 512, 384);
    std::ofstream(PhotoPath(album, file), std::ios::binary) << jpeg;
    ManifestPhoto p;
    p.number = number;
    p.title = title;
    p.file_name = file;
    p.bytes = jpeg.size();
    p.sha256 = Sha256Hex(jpeg);
    p.status = PhotoStatus::psSaved;
    m.Record(p);
  }
  ManifestPhoto failed;
  failed.number = 5;
  failed.title = "lost";
  failed.page_url = "http://127.0.0.1:8080/users/demo/krym-2024/photo/5/";
  failed.error = "HTTP/1.1 500 <Internal> Server Error";
  m.Record(failed);
  WriteGallery(album, m);
  std::ofstream(album / "check.html") << kCheckPage;

  std::string dom = RunChromium(scratch, {"--allow-file-access-from-files", "--window-size=1700,2600",
                                          "--virtual-time-budget=15000", "--dump-dom",
                                          "file://" + (album / "check.html").native()});
  size_t begin = dom.find("RESULT"), end = dom.find("END", begin);
  ASSERT_NE(begin, std::string::npos) << dom.substr(0, 2000);
  auto result = nlohmann::json::parse(dom.substr(begin + 6, end - begin - 6), nullptr, false);
  ASSERT_TRUE(result.is_object()) << dom.substr(begin, 2000);

  for (const char* layout : {"desktop", "phone"}) {
    SCOPED_TRACE(layout);
    const auto& seen = result[layout];
    EXPECT_EQ(seen["title"], "Крым 2024 <i>&</i>");
    EXPECT_EQ(seen["counts"], "Сохранено: 4 из 5, ошибок: 1");
    EXPECT_EQ(seen["scripts"], 0);
    EXPECT_FALSE(seen["overflows"].get<bool>()) << "wider than the screen";
    ASSERT_EQ(seen["images"].size(), saved.size());
    for (size_t i = 0; i < saved.size(); ++i) {
      const auto& img = seen["images"][i];
      SCOPED_TRACE(saved[i].second);
      EXPECT_TRUE(img["loaded"].get<bool>()) << img.dump();
      EXPECT_TRUE(img["shown"].get<bool>()) << img.dump();
      EXPECT_EQ(img["width"], 512);
      EXPECT_EQ(img["lazy"], "lazy");
      EXPECT_EQ(img["opens"], img["src"]) << "a click opens the full image";
      EXPECT_EQ(img["alt"], nlohmann::json(saved[i].first));
    }
    ASSERT_EQ(seen["failed"].size(), 1u);
    EXPECT_NE(seen["failed"][0].get<std::string>().find("HTTP/1.1 500 <Internal> Server Error"),
              std::string::npos);
  }

  // The page as a person sees it, kept with the build.
  const fs::path shot = artifacts / "gallery.png";
  fs::remove(shot);
  RunChromium(scratch, {"--window-size=1000,700", "--hide-scrollbars",
                        "--virtual-time-budget=5000", "--screenshot=" + shot.native(),
                        "file://" + (album / "index.html").native()});
  EXPECT_GT(fs::exists(shot) ? fs::file_size(shot) : 0, 10000u) << shot;
}

}  // namespace
}  // namespace ah
