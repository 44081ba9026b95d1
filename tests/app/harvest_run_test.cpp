#include "app/harvest_run.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/scratch_lines.h"
#include "local_http_server.h"
#include "no_proxy.h"
#include "platform/code_page.h"
#include "scripted_client.h"

namespace ah {
namespace {

const std::string kRoot = "http://fotopolka.example";
const std::string kAlbum = "http://fotopolka.example/users/bob/7/";
const std::string kSuffix = " - Фотополка";
const std::string kImage = "\xFF\xD8 image bytes \xFF\xD9";

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
    site_.journal.push_back("log " + AnsiToUtf8(line));
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

  HarvestSurroundings Surroundings() { return {*this, *this, *this, *this, scratch}; }

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
std::string PhotoAddress(const std::string& path) { return kRoot + path + "/#mainImageLink"; }

std::string PageAddress(int page, const std::string& album = kAlbum) { return album + "?page=" + std::to_string(page); }

// An album page as the site sends it (UTF-8).
std::string AlbumPage(const std::string& title, const std::vector<std::string>& photo_paths,
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

std::string PhotoPage(const std::vector<Image>& images) {
  std::string html = "<html><head><title>photo" + kSuffix + "</title></head><body>\n";
  for (auto& i : images) html += "<img class=\"full\" src=\"" + i.address + "\" title=\"" + i.title + "\">\n";
  return html + "</body></html>\n";
}

class HarvestRunTest : public testing::Test {
 protected:
  void SetUp() override {
    DropProxyEnvironment();
    char pattern[] = "/tmp/ah-harvest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    out_ = std::string(pattern) + "/";
    server_.server().Get(R"(/photo/(\d+)\.jpg)", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(kImage + req.matches[1].str(), "image/jpeg");
    });
    ASSERT_TRUE(server_.Start());
    settings_.profile.ImageHostMarker = "127.0.0.1:" + std::to_string(server_.port()) + "/photo";
    settings_.output_dir = out_;
    site_.answers[kRoot + "/login/"] = {"welcome"};
  }
  void TearDown() override {
    server_.Stop();
    std::system(("rm -rf '" + out_ + "'").c_str());
  }

  std::string ImageUrl(int n) const { return server_.Url("/photo/" + std::to_string(n) + ".jpg"); }

  void Run() { RunHarvest(window_.Surroundings(), settings_); }

  std::vector<std::string> Journal(const std::string& prefix) const {
    std::vector<std::string> out;
    for (auto& e : site_.journal)
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }

  std::set<std::string> Files(const std::string& dir) const {
    std::set<std::string> names;
    if (DIR* d = opendir((out_ + dir).c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }

  std::string Slurp(const std::string& path) const {
    std::ifstream in(out_ + path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  LocalHttpServer server_;
  ScriptedSite site_;
  FakeWindow window_{site_};
  HarvestSettings settings_;
  std::string out_;
};

const std::string kSignInForm =
    "return_url=/users/bob/|login=bob|domain=@fotopolka.example|password=secret1pass!|remember=on";

TEST_F(HarvestRunTest, SinglePageAlbumSignsInHarvestsAndEnds) {
  site_.answers[PageAddress(1)] = {AlbumPage("Summer", {"/users/bob/7/11"}, {})};
  site_.answers[PhotoAddress("/users/bob/7/11")] = {PhotoPage({{ImageUrl(11), "Sea view"}})};
  Run();
  EXPECT_EQ(site_.journal, (std::vector<std::string>{
                               "new #1",
                               "log Авторизация...",
                               "POST #1 " + kRoot + "/login/ " + kSignInForm,
                               "log Страница № 1",
                               "GET #1 " + PageAddress(1),
                               "GET #1 " + PhotoAddress("/users/bob/7/11"),
                               "log   Sea view",
                               "log ЗАВЕРШЕНО!",
                           }));
  EXPECT_EQ(Files(""), std::set<std::string>{"Summer"});
  EXPECT_EQ(Files("Summer"), std::set<std::string>{"1_Sea view.jpg"});
  EXPECT_EQ(Slurp("Summer/1_Sea view.jpg"), kImage + "11");
  EXPECT_EQ(window_.pumps, 1);
}

TEST_F(HarvestRunTest, RenewsClientAndSignsInAgainOnceBeforePage21Of25) {
  for (int p = 1; p <= 25; ++p)
    site_.answers[PageAddress(p)] = {AlbumPage("Long", {}, p < 25 ? std::vector<int>{p + 1} : std::vector<int>{})};
  Run();
  const auto& j = site_.journal;
  EXPECT_EQ(Journal("GET").size(), 25u);
  EXPECT_EQ(Journal("POST").size(), 2u);
  EXPECT_EQ(Journal("new").size(), 2u);
  EXPECT_EQ(Journal("delete"), std::vector<std::string>{"delete #1"});
  auto at = std::find(j.begin(), j.end(), "GET #1 " + PageAddress(20));
  ASSERT_NE(at, j.end());
  EXPECT_EQ(std::vector<std::string>(at + 1, std::min(at + 9, j.end())),
            (std::vector<std::string>{
                "delete #1",
                "new #2",
                "redirects #2 on",
                "agent #2 Mozilla/5.0 (Windows NT 5.1; rv:33.0) Gecko/20100101 Firefox/33.0",
                "POST #2 " + kRoot + "/login/ " + kSignInForm,
                "log Страница № 21",
                "GET #2 " + PageAddress(21),
                "log Страница № 22",
            }));
  EXPECT_EQ(Journal("GET #2").size(), 5u);
  EXPECT_EQ(j.back(), "log ЗАВЕРШЕНО!");
  EXPECT_EQ(std::count(j.begin(), j.end(), "log Авторизация..."), 1);
  EXPECT_EQ(site_.clients_alive, 1);
}

TEST_F(HarvestRunTest, RenewalSignInReadsTheFieldsAfresh) {
  for (int p = 1; p <= 21; ++p)
    site_.answers[PageAddress(p)] = {AlbumPage("A", {}, p < 21 ? std::vector<int>{p + 1} : std::vector<int>{})};
  window_.on_pump = [this](int pump) {
    if (pump == 20) window_.login = "eve";
  };
  Run();
  auto posts = Journal("POST");
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_EQ(posts[1], "POST #2 " + kRoot +
                          "/login/ return_url=/users/eve/|login=eve|domain=@fotopolka.example|"
                          "password=secret1pass!|remember=on");
}

TEST_F(HarvestRunTest, NextPageTestIsAPlainSubstringTest) {
  site_.answers[PageAddress(1)] = {AlbumPage("A", {}, {20})};  // links to page 20 only
  site_.answers[PageAddress(2)] = {AlbumPage("A", {}, {1})};
  Run();
  EXPECT_EQ(Journal("GET"), (std::vector<std::string>{"GET #1 " + PageAddress(1), "GET #1 " + PageAddress(2)}));
  EXPECT_EQ(site_.journal.back(), "log ЗАВЕРШЕНО!");
}

TEST_F(HarvestRunTest, TitleLineNamesTheFolder) {
  struct Case {
    std::string album_name, folder;
  } cases[] = {
      {"A.B/C?", "ABC"},
      {"<b>Море</b> 2.0", "Море 20"},
      {"  Who? Me!  ", "Who Me"},
      // Characters outside the code page become "?", which cleaning drops
      // after the trim: the space before them stays.
      {"Tokyo 東京", "Tokyo "},
  };
  for (auto& c : cases) {
    site_.answers[PageAddress(1)] = {AlbumPage(c.album_name, {"/p/1"}, {})};
    site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "x"}})};
    Run();
    EXPECT_EQ(Files(c.folder), std::set<std::string>{"1_x.jpg"}) << c.album_name;
    std::system(("rm -rf '" + out_ + "'*").c_str());
  }
}

TEST_F(HarvestRunTest, EveryTitleLineMovesTheFolderAndPhotoNumbersRunAcrossPages) {
  site_.answers[PageAddress(1)] = {AlbumPage("First", {"/p/1"}, {2})};
  site_.answers[PageAddress(2)] = {AlbumPage("Second", {"/p/2", "/p/3"}, {1})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "a"}, {ImageUrl(2), "b"}})};
  site_.answers[PhotoAddress("/p/2")] = {PhotoPage({{ImageUrl(3), "c"}})};
  site_.answers[PhotoAddress("/p/3")] = {PhotoPage({{ImageUrl(4), "d"}, {ImageUrl(5), "e"}})};
  Run();
  EXPECT_EQ(Files("First"), (std::set<std::string>{"1_a.jpg", "2_b.jpg"}));
  EXPECT_EQ(Files("Second"), (std::set<std::string>{"3_c.jpg", "4_d.jpg", "5_e.jpg"}));
  EXPECT_EQ(Slurp("Second/5_e.jpg"), kImage + "5");
  EXPECT_EQ(Journal("log  "), (std::vector<std::string>{"log   a", "log   b", "log   c", "log   d", "log   e"}));
}

TEST_F(HarvestRunTest, ImageTitlesAreStrippedTrimmedAndCleaned) {
  site_.answers[PageAddress(1)] = {AlbumPage("Album", {"/p/1"}, {})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), ""}, {ImageUrl(2), " Sun*set: <i>sea</i> "}})};
  Run();
  EXPECT_EQ(Files("Album"), (std::set<std::string>{"1_.jpg", "2_Sunset: sea.jpg"}));
  EXPECT_EQ(Journal("log  "), (std::vector<std::string>{"log   ", "log   Sunset: sea"}));
}

TEST_F(HarvestRunTest, PhotoLinksWithTheScriptExclusionAreSkipped) {
  std::string page = AlbumPage("Album", {"/p/1"}, {});
  page += "<a href=\"#\" onclick=\"go('/p/2/#mainImageLink'); return false\">x</a>\n";
  site_.answers[PageAddress(1)] = {page};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "one"}})};
  Run();
  EXPECT_EQ(Journal("GET"), (std::vector<std::string>{"GET #1 " + PageAddress(1), "GET #1 " + PhotoAddress("/p/1")}));
}

TEST_F(HarvestRunTest, LogIsEmptiedOnlyWhenItHoldsMoreThan600Lines) {
  site_.answers[PageAddress(1)] = {AlbumPage("A", {}, {})};
  for (int at_test : {600, 601}) {
    // The sign-in line comes before the page's test.
    window_.log.assign(size_t(at_test - 1), "old");
    site_.journal.clear();
    Run();
    auto cleared = std::find(site_.journal.begin(), site_.journal.end(), "log cleared");
    if (at_test == 601) {
      ASSERT_NE(cleared, site_.journal.end());
      EXPECT_EQ(*(cleared + 1), "log Страница № 1");
      EXPECT_EQ(window_.log.size(), 2u);
    } else {
      EXPECT_EQ(cleared, site_.journal.end());
      EXPECT_EQ(window_.log.size(), 602u);
    }
  }
}

TEST_F(HarvestRunTest, AlbumAddressIsUsedAsTyped) {
  window_.album = "http://fotopolka.example/users/bob/7/";
  site_.answers["http://fotopolka.example/users/bob/7/?page=1"] = {AlbumPage("A", {}, {})};
  Run();
  EXPECT_EQ(Journal("GET"), std::vector<std::string>{"GET #1 http://fotopolka.example/users/bob/7/?page=1"});
  window_.album = "http://fotopolka.example/users/bob/7";
  site_.journal.clear();
  Run();
  EXPECT_EQ(Journal("GET"), std::vector<std::string>{"GET #1 http://fotopolka.example/users/bob/7?page=1"});
}

TEST_F(HarvestRunTest, EveryNetworkFailureIsSwallowed) {
  site_.answers.erase(kRoot + "/login/");  // the sign-in throws
  site_.answers[PageAddress(1)] = {AlbumPage("Album", {"/p/1", "/p/missing", "/p/3"}, {2})};
  // A page must not make the run copy local files into the album.
  std::system(("mkdir -p '" + out_ + settings_.profile.ImageHostMarker + "' && echo private > '" + out_ +
               settings_.profile.ImageHostMarker + "/2.jpg'").c_str());
  site_.answers[PhotoAddress("/p/1")] = {
      PhotoPage({{ImageUrl(1), "ok"}, {"file://" + out_ + settings_.profile.ImageHostMarker + "/2.jpg", "local"}})};
  site_.answers[PhotoAddress("/p/3")] = {PhotoPage({{server_.Url("/photo/none"), "bad"}, {ImageUrl(4), "four"}})};
  site_.answers[PageAddress(2)] = {"", true};  // fails with nothing received
  EXPECT_NO_THROW(Run());
  EXPECT_EQ(site_.journal.back(), "log ЗАВЕРШЕНО!");
  // A failed download still gets its log line and number; it leaves no file.
  EXPECT_EQ(Files("Album"), (std::set<std::string>{"1_ok.jpg", "4_four.jpg"}));
  EXPECT_EQ(Journal("log  "), (std::vector<std::string>{"log   ok", "log   local", "log   bad", "log   four"}));
}

TEST_F(HarvestRunTest, FailedFetchesGoOnWithTheTextTheyLeft) {
  // Page 2 fails before any byte: the last photo page's text, which links to
  // page 3, is scanned again in its place.
  std::string photo = PhotoPage({{ImageUrl(1), "one"}}) + "<a href=\"?page=3\">";
  site_.answers[PageAddress(1)] = {AlbumPage("Album", {"/p/1"}, {2})};
  site_.answers[PhotoAddress("/p/1")] = {photo};
  site_.answers[PageAddress(2)] = {"", true};
  // Page 3 breaks off after part of its body: that part is used.
  site_.answers[PageAddress(3)] = {AlbumPage("Album", {"/p/4"}, {}), true};
  site_.answers[PhotoAddress("/p/4")] = {PhotoPage({{ImageUrl(4), "four"}})};
  Run();
  EXPECT_EQ(Journal("GET"), (std::vector<std::string>{
                                "GET #1 " + PageAddress(1),
                                "GET #1 " + PhotoAddress("/p/1"),
                                "GET #1 " + PageAddress(2),
                                "GET #1 " + PageAddress(3),
                                "GET #1 " + PhotoAddress("/p/4"),
                            }));
  // Page 2's stale photo text was scanned as an album page; its image line
  // is not a photo link, so only the two photo pages gave images.
  EXPECT_EQ(Files("Album"), (std::set<std::string>{"1_one.jpg", "2_four.jpg"}));
}

TEST_F(HarvestRunTest, FailedPhotoPageRescansTheAlbumText) {
  site_.answers[PageAddress(1)] = {AlbumPage("Album", {"/p/gone"}, {})};
  Run();
  EXPECT_EQ(Journal("log  ").size(), 0u);
  EXPECT_EQ(site_.journal.back(), "log ЗАВЕРШЕНО!");
}

TEST_F(HarvestRunTest, MalformedUtf8EmptiesTitlesAndPhotoPages) {
  site_.answers[PageAddress(1)] = {AlbumPage("Bad\xD0", {"/p/1", "/p/2"}, {})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "lost"}}) + "\xC0\xAF"};
  site_.answers[PhotoAddress("/p/2")] = {PhotoPage({{ImageUrl(2), "kept"}})};
  Run();
  // The empty title puts the images straight into the output folder.
  EXPECT_EQ(Files(""), std::set<std::string>{"1_kept.jpg"});
  EXPECT_EQ(Journal("log  "), std::vector<std::string>{"log   kept"});
}

TEST_F(HarvestRunTest, ImageTitlesArriveInWindows1251) {
  site_.answers[PageAddress(1)] = {AlbumPage("Album", {"/p/1"}, {})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "Закат"}})};
  Run();
  EXPECT_EQ(window_.log[2], "  \xC7\xE0\xEA\xE0\xF2");
  EXPECT_EQ(Files("Album"), std::set<std::string>{"1_Закат.jpg"});
}

TEST_F(HarvestRunTest, AClickDuringThePumpRunsANestedHarvestToItsEnd) {
  site_.answers[PageAddress(1)] = {AlbumPage("Album", {}, {})};
  window_.on_pump = [this](int pump) {
    if (pump == 1) Run();
  };
  Run();
  EXPECT_EQ(Journal("log"), (std::vector<std::string>{
                                "log Авторизация...",
                                "log Авторизация...",
                                "log Страница № 1",
                                "log ЗАВЕРШЕНО!",
                                "log Страница № 1",
                                "log ЗАВЕРШЕНО!",
                            }));
}

TEST_F(HarvestRunTest, AnEmptyClientSlotCountsAsFailedCalls) {
  delete window_.IdHTTP1();
  window_.SetIdHTTP1(nullptr);
  site_.journal.clear();
  Run();
  EXPECT_EQ(Journal("GET").size(), 0u);
  EXPECT_EQ(site_.journal.back(), "log ЗАВЕРШЕНО!");
}

TEST_F(HarvestRunTest, LeavesAFileNamedTmpInTheCurrentFolderAlone) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(mkdir((out_ + "cwd").c_str(), 0777), 0);
  ASSERT_EQ(chdir((out_ + "cwd").c_str()), 0);
  std::ofstream("tmp") << "the user's notes";
  site_.answers[PageAddress(1)] = {AlbumPage("Album", {"/p/1"}, {2})};
  site_.answers[PageAddress(2)] = {AlbumPage("Album", {}, {})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "one"}})};
  Run();
  std::string kept = Slurp("cwd/tmp");
  std::set<std::string> files = Files("cwd");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(kept, "the user's notes");
  EXPECT_EQ(files, std::set<std::string>{"tmp"});
  EXPECT_EQ(Files("Album"), std::set<std::string>{"1_one.jpg"});
}

}  // namespace
}  // namespace ah
