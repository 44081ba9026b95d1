// Time per 1 MiB page holding 20,000 double quotes, through the harvest
// run itself: an album page (quote replacement, split, next-page, title and
// photo-link tests on every line) and a photo page (conversion, rebuild,
// scratch lines and the image scan). The pages come from an in-memory
// client; no image address matches, so nothing is downloaded.

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/harvest/harvest_run.h"
#include "app/site/scratch_lines.h"
#include "app/site/text_helpers.h"
#include "http/http_client_interface.h"

namespace ah {
namespace {

constexpr size_t kPageSize = 1 << 20;
constexpr int kQuotes = 20000;

// The body of a page: blocks of markup, `quotes` double quotes in all,
// padded with UTF-8 text to exactly kPageSize bytes.
std::string MakePage(const std::string& head, bool album) {
  std::string page = head;
  int quotes = int(std::count(head.begin(), head.end(), '"'));
  for (int n = 0;; ++n) {
    std::string id = std::to_string(n);
    std::string block;
    if (album)
      block = "<div class=\"cell\"><a href=\"/users/bob/7/" + id + "/#mainImageLink\" onclick=\"show(" + id +
              "); return false\"><img src=\"/thumb/" + id + ".jpg\" alt=\"Фото " + id + "\"></a></div>\n";
    else
      block = "<div class=\"cell\"><img src=\"http://cdn.fotopolka.example/ph/" + id + ".jpg\" title=\"Снимок " +
              id + "\" width=\"800\" height=\"600\"></div>\n";
    int in_block = int(std::count(block.begin(), block.end(), '"'));
    if (quotes + in_block > kQuotes) break;
    page += block;
    quotes += in_block;
  }
  while (quotes < kQuotes) page += "<b \"x\">", quotes += 2;
  const std::string filler = "<p>Летний вечер на берегу моря, photo album text.</p>\n";
  while (page.size() + filler.size() < kPageSize - 8) page += filler;
  page.append(kPageSize - 8 - page.size(), ' ');
  page += "</html>\n";
  return page;
}

class MemoryClient : public IHTTPClient {
 public:
  std::string album, photo;
  void GetText(const std::string& address, std::string& text) override {
    text = address.find("?page=") != std::string::npos ? album : photo;
  }
  void PostFormText(const std::string&, TStrings&, std::string& text) override { text.clear(); }
  bool HandleRedirects() const override { return true; }
  void SetHandleRedirects(bool) override {}
  void SetRequestUserAgent(const std::string&) override {}
};

class QuietWindow : public HarvestFields, public HarvestLog, public MessagePump, public HTTPClientSlot {
 public:
  std::string Edit1Text() override { return "bob"; }
  std::string Edit2Text() override { return "secret1pass!"; }
  std::string Edit3Text() override { return "@fotopolka.example"; }
  std::string Edit4Text() override { return "http://fotopolka.example/users/bob/7/"; }
  void AddLogLine(const std::string&) override { ++lines; }
  int LogLineCount() override { return 0; }
  void ClearLog() override {}
  void ProcessMessages() override {}
  IHTTPClient* IdHTTP1() override { return &client; }
  void SetIdHTTP1(IHTTPClient*) override {}
  IHTTPClient* CreateIdHTTP() override { return nullptr; }

  MemoryClient client;
  ScratchLines scratch;
  long lines = 0;
};

// A fresh folder for the album folder the title line makes.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    char pattern[] = "/tmp/ah-bench-XXXXXX";
    path = mkdtemp(pattern) ? std::string(pattern) + "/" : "/tmp/";
  }
  ~ScratchDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

const std::string kTitle = "<html><head><title>Летний альбом - Фотополка</title></head><body>\n";

// One album page whose photo links all carry the script exclusion.
void BM_AlbumPage(benchmark::State& state) {
  QuietWindow window;
  window.client.album = MakePage(kTitle, true);
  ScratchDir dir;
  HarvestSettings settings;
  settings.output_dir = dir.path;
  for (auto _ : state) RunHarvest({window, window, window, window, window.scratch}, settings);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPageSize));
  state.counters["quotes"] = double(std::count(window.client.album.begin(), window.client.album.end(), '"'));
}
BENCHMARK(BM_AlbumPage)->Unit(benchmark::kMillisecond);

// A small album page linking one 1 MiB photo page.
void BM_PhotoPage(benchmark::State& state) {
  QuietWindow window;
  window.client.album = kTitle + "<a href=\"/users/bob/7/1/#mainImageLink\">x</a>\n";
  window.client.photo = MakePage(kTitle, false);
  ScratchDir dir;
  HarvestSettings settings;
  settings.output_dir = dir.path;
  for (auto _ : state) RunHarvest({window, window, window, window, window.scratch}, settings);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPageSize));
}
BENCHMARK(BM_PhotoPage)->Unit(benchmark::kMillisecond);

void BM_ReplaceAllQuotes(benchmark::State& state) {
  const std::string page = MakePage(kTitle, true);
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceAll(page, "\"", "\r\n"));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPageSize));
}
BENCHMARK(BM_ReplaceAllQuotes)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ah

BENCHMARK_MAIN();
