// The run of the spine: sign-in, the page walk, titles, folders, photo
// pages and images, the log, renewal and nested runs.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/app/support/harvest_fixture.h"

namespace ah {
namespace {

TEST_F(HarvestRunTest, SinglePageAlbumSignsInHarvestsAndEnds) {
  site_.answers[PageAddress(1)] = {AlbumPage("Summer", {"/users/bob/7/11"}, {})};
  site_.answers[PhotoAddress("/users/bob/7/11")] = {PhotoPage({{ImageUrl(11), "Sea view"}})};
  Run();
  EXPECT_EQ(site_.journal, (std::vector<std::string>{
                               "new #1",
                               "log Авторизация...",
                               "redirects #1 on",
                               "agent #1 Mozilla/5.0 (Windows NT 5.1; rv:33.0) Gecko/20100101 Firefox/33.0",
                               "timeouts #1 30000/60000",
                               "POST #1 " + kRoot + "/login/ " + kSignInForm,
                               "log Страница № 1",
                               "GET #1 " + PageAddress(1),
                               "GET #1 " + PhotoAddress("/users/bob/7/11"),
                               "log   Sea view",
                               "log Сохранено: 1 из 1, ошибок: 0",
                               "log Папка: " + out_ + "Summer",
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
  EXPECT_EQ(std::vector<std::string>(at + 1, std::min(at + 10, j.end())),
            (std::vector<std::string>{
                "delete #1",
                "new #2",
                "redirects #2 on",
                "agent #2 Mozilla/5.0 (Windows NT 5.1; rv:33.0) Gecko/20100101 Firefox/33.0",
                "timeouts #2 30000/60000",
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

TEST_F(HarvestRunTest, ASiteWhoseEveryPageLinksToTheNextIsWalkedTo10000Pages) {
  for (int p = 1; p <= kMostAlbumPages + 1; ++p) site_.answers[PageAddress(p)] = {AlbumPage("A", {}, {p + 1})};
  EXPECT_FALSE(Run().Complete());
  EXPECT_EQ(Journal("GET").size(), size_t(kMostAlbumPages));
  EXPECT_EQ(Journal("log Страница № 1000"),
            (std::vector<std::string>{"log Страница № 1000", "log Страница № 10000",
                                      "log Страница № 10001 — ОШИБКА: слишком много страниц"}));
}

TEST_F(HarvestRunTest, TitleLineNamesTheFolder) {
  struct Case {
    std::string album_name, folder;
  } cases[] = {
      {"A.B/C?", "ABC"},
      {"<b>Море</b> 2.0", "Море 20"},
      {"  Who? Me!  ", "Who Me"},
      // Characters outside the code page are kept in names.
      {"Tokyo 東京", "Tokyo 東京"},
      // References are read before the cleaning.
      {"Tom &amp; Jerry&#x2F;&#26481;&lt;", "Tom & Jerry東"},
      {"R&#0;&nbsp;&#xD800;", "R&0;&nbsp;&xD800;"},
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
  site_.answers[PhotoAddress("/p/1")] = {
      PhotoPage({{ImageUrl(1), ""}, {ImageUrl(2), " Sun*set: <i>sea</i> "}, {ImageUrl(3), "Tom &amp; Jerry 東"}})};
  Run();
  EXPECT_EQ(Files("Album"), (std::set<std::string>{"1_.jpg", "2_Sunset: sea.jpg", "3_Tom & Jerry 東.jpg"}));
  EXPECT_EQ(Journal("log  "), (std::vector<std::string>{"log   ", "log   Sunset: sea", "log   Tom & Jerry "}));
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
    // The page line, the two summary lines and the final line follow.
    if (at_test == 601) {
      ASSERT_NE(cleared, site_.journal.end());
      EXPECT_EQ(*(cleared + 1), "log Страница № 1");
      EXPECT_EQ(window_.log.size(), 4u);
    } else {
      EXPECT_EQ(cleared, site_.journal.end());
      EXPECT_EQ(window_.log.size(), 604u);
    }
  }
}

TEST_F(HarvestRunTest, AlbumAddressIsUsedAsTyped) {
  window_.album = "http://fotopolka.example/users/bob/7/";
  site_.answers["http://fotopolka.example/users/bob/7/?page=1"] = {AlbumPage("A", {}, {})};
  Run();
  EXPECT_EQ(Journal("GET"), std::vector<std::string>{"GET #1 http://fotopolka.example/users/bob/7/?page=1"});
  window_.album = "http://fotopolka.example/users/bob/7";
  site_.answers["http://fotopolka.example/users/bob/7?page=1"] = {AlbumPage("A", {}, {})};
  site_.journal.clear();
  Run();
  EXPECT_EQ(Journal("GET"), std::vector<std::string>{"GET #1 http://fotopolka.example/users/bob/7?page=1"});
}

TEST_F(HarvestRunTest, MalformedUtf8HidesNothingOfAPage) {
  site_.answers[PageAddress(1)] = {AlbumPage("Bad\xD0", {"/p/1", "/p/2"}, {})};
  site_.answers[PhotoAddress("/p/1")] = {PhotoPage({{ImageUrl(1), "found\xC0\xAF"}}) + "\xC0\xAF"};
  site_.answers[PhotoAddress("/p/2")] = {PhotoPage({{ImageUrl(2), "kept"}})};
  Run();
  // The bad bytes read as U+FFFD, "?" in the code page, which cleaning drops.
  EXPECT_EQ(Files("Bad"), (std::set<std::string>{"1_found.jpg", "2_kept.jpg"}));
  EXPECT_EQ(Journal("log  "), (std::vector<std::string>{"log   found", "log   kept"}));
}

// An image address goes out as the page has it, in UTF-8, also with what
// the code page cannot hold.
TEST_F(HarvestRunTest, TitlesAndImageAddressesArriveAsThePageHasThem) {
  site_.answers[PageAddress(1)] = {AlbumPage("Album", {"/p/1"}, {})};
  site_.answers[PhotoAddress("/p/1")] = {
      PhotoPage({{ImageUrl(1), "Закат"}, {server_.Url("/photo/東京.jpg"), "Tokyo"}})};
  HarvestReport report = Run();
  EXPECT_EQ(window_.log[2], "  Закат");
  EXPECT_EQ(Files("Album"), (std::set<std::string>{"1_Закат.jpg", "2_Tokyo.jpg"}));
  EXPECT_EQ(Slurp("Album/2_Tokyo.jpg"), kImage + "東京");
  EXPECT_EQ(report.photos.at(1).record.image_url, server_.Url("/photo/東京.jpg"));
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
                                "log Сохранено: 0 из 0, ошибок: 0",
                                "log Папка: " + out_ + "Album",
                                "log ЗАВЕРШЕНО!",
                                "log Страница № 1",
                                "log Сохранено: 0 из 0, ошибок: 0",
                                "log Папка: " + out_ + "Album",
                                "log ЗАВЕРШЕНО!",
                            }));
}

TEST_F(HarvestRunTest, AnEmptyClientSlotFailsEveryCallForGood) {
  delete window_.IdHTTP1();
  window_.SetIdHTTP1(nullptr);
  site_.journal.clear();
  HarvestReport report = Run();
  EXPECT_EQ(Journal("GET").size(), 0u);
  EXPECT_EQ(Journal("log"), (std::vector<std::string>{
                                "log Авторизация...",
                                "log Авторизация не подтверждена: нет HTTP-клиента",
                                "log Страница № 1",
                                "log Страница № 1 — ОШИБКА: нет HTTP-клиента",
                                "log Сохранено: 0 из 0, ошибок: 1",
                                "log Папка: ",
                                "log ЗАВЕРШЕНО!",
                            }));
  EXPECT_FALSE(report.Complete());
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

// A photo shown at the end of one page and again at the top of the next
// (the album grew while it was walked) is one photo: a re-run of the
// unchanged album keeps every number and fetches no photo page.
TEST_F(HarvestRunTest, APhotoPageListedTwiceIsOnePhotoTakenUpUnderItsNumber) {
  site_.answers[PageAddress(1)] = {AlbumPage("Album", {"/p/1", "/p/2"}, {2})};
  site_.answers[PageAddress(2)] = {AlbumPage("Album", {"/p/2", "/p/3"}, {})};
  for (int n = 1; n <= 3; ++n)
    site_.answers[PhotoAddress("/p/" + std::to_string(n))] = {
        PhotoPage({{ImageUrl(n), "t" + std::to_string(n)}})};
  Run();
  const std::set<std::string> files = {"1_t1.jpg", "2_t2.jpg", "3_t3.jpg"};
  ASSERT_EQ(Files("Album"), files);
  site_.journal.clear();
  Run();
  EXPECT_EQ(Journal("log  "), (std::vector<std::string>{
                                  "log   t1 (уже есть)",
                                  "log   t2 (уже есть)",
                                  "log   t3 (уже есть)",
                              }));
  EXPECT_EQ(Files("Album"), files);
  EXPECT_EQ(Journal("GET").size(), 2u) << "the album pages alone";
}


}  // namespace
}  // namespace ah
