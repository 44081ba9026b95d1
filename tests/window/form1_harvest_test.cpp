// Clicks on the start button against a scripted site: what the log pane
// shows, what the site was asked, and runs nested inside runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/window/form1.h"
#include "framework/exception.h"
#include "tests/app/support/scripted_client.h"
#include "tests/support/local_http_server.h"

namespace ah {
namespace {

const std::string kRoot = "http://photos.test";
const std::string kAlbum = kRoot + "/users/lisichka/1044/";
const std::string kUserAgent = "Mozilla/5.0 (Windows NT 5.1; rv:33.0) Gecko/20100101 Firefox/33.0";

// The images come from a local host that serves every id.
class ImageHost {
 public:
  ImageHost() {
    server_.server().Get(R"(/photo/(\d+)\.jpg)", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("jpeg " + req.matches[1].str(), "image/jpeg");
    });
    server_.Start();
  }
  std::string Marker() const { return "127.0.0.1:" + std::to_string(server_.port()) + "/photo"; }

 private:
  test::LocalHttpServer server_;
};

ImageHost& Images() {
  static ImageHost host;
  return host;
}

std::string Image(int id, const std::string& title) {
  return "<img src=\"http://" + Images().Marker() + "/" + std::to_string(id) + ".jpg\" title=\"" + title + "\">";
}

std::string AlbumPage(const std::string& links, int next_page) {
  std::string page = "<html><head>\n<title>Лето 2.0 - Тест</title>\n</head><body>\n" + links;
  // A script handler that only shows a photo must never be followed.
  page += "<a onclick=\"open('/p/99/#mainImageLink'); return false\">x</a>\n";
  if (next_page) page += "<a href=\"?page=" + std::to_string(next_page) + "\">next</a>\n";
  return page + "</body></html>\n";
}

std::string PhotoLink(int id) { return "<a href=\"/p/" + std::to_string(id) + "/#mainImageLink\">p</a>\n"; }

class Form1Harvest : public testing::Test {
 protected:
  void SetUp() override {
    char dir_template[] = "/tmp/ah-window-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    output_dir_ = dir_template;
    SignInAnswer();
    site_.answers[kAlbum + "?page=1"] = {AlbumPage(PhotoLink(1) + PhotoLink(2), 2)};
    site_.answers[kAlbum + "?page=2"] = {AlbumPage(PhotoLink(3), 0)};
    site_.answers[kRoot + "/p/1/#mainImageLink"] = {Image(1, "Закат")};
    site_.answers[kRoot + "/p/2/#mainImageLink"] = {Image(2, "Ре*ка") + Image(3, "")};
    site_.answers[kRoot + "/p/3/#mainImageLink"] = {Image(4, "Лес?")};
  }
  void TearDown() override { std::filesystem::remove_all(output_dir_); }

  // Every sign-in is taken: the site sets its session cookie.
  void SignInAnswer() { site_.answers[kRoot + "/login/"] = {"", false, 0, "", false, true}; }
  // The album pages 1 to 21 of a site without photos, page 21 the last
  // unless `endless`.
  void TwentyOnePages(bool endless) {
    site_.answers.clear();
    SignInAnswer();
    for (int page = 1; page <= 21; ++page)
      site_.answers[kAlbum + "?page=" + std::to_string(page)] = {AlbumPage("", page < 21 || endless ? page + 1 : 0)};
  }

  // The requests the site was sent, in order.
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    for (const std::string& entry : site_.journal)
      if (entry.starts_with("GET ") || entry.starts_with("POST ")) calls.push_back(entry);
    return calls;
  }
  bool Journaled(const std::string& entry) const {
    return std::find(site_.journal.begin(), site_.journal.end(), entry) != site_.journal.end();
  }

  WindowSetup MakeSetup() {
    WindowSetup setup;
    setup.settings.profile = {kRoot, " - Тест", Images().Marker()};
    setup.settings.output_dir = output_dir_;
    setup.make_client = [this](TComponent&) -> IHTTPClient* { return new ScriptedClient(site_); };
    return setup;
  }

  static std::vector<std::string> PaneLines(const TForm1& form) {
    std::vector<std::string> lines;
    for (const QString& line : form.loga->toPlainText().split('\n')) lines.push_back(line.toStdString());
    return lines;
  }

  // The log of a whole harvest of the scripted album.
  std::vector<std::string> HarvestLog() const {
    return {"Авторизация...", "Страница № 1", "  Закат", "  Река", "  ", "Страница № 2", "  Лес",
            "Сохранено: 4 из 4, ошибок: 0", "Папка: " + output_dir_ + "/Лето 20", "ЗАВЕРШЕНО!"};
  }

  std::string output_dir_;
  ScriptedSite site_;
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(Form1Harvest, AClickRunsTheHarvestAndLogsItsLinesInOrder) {
  TForm1 form(MakeSetup());
  form.show();
  QTest::mouseClick(form.Button1, Qt::LeftButton);

  EXPECT_EQ(PaneLines(form), Concat(HarvestLog(), {""}));
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "POST #1 " + kRoot + "/login/ return_url=/users/lisichka/|login=lisichka|"
                         "domain=@fotopolka.example|password=lapki5lisa!|remember=on",
                         "GET #1 " + kAlbum + "?page=1",
                         "GET #1 " + kRoot + "/p/1/#mainImageLink",
                         "GET #1 " + kRoot + "/p/2/#mainImageLink",
                         "GET #1 " + kAlbum + "?page=2",
                         "GET #1 " + kRoot + "/p/3/#mainImageLink",
                     }));
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(output_dir_) / "Лето 20"));
  EXPECT_GT(form.Memo1Lines().Count(), 0);
  EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());
  EXPECT_FALSE(form.Memo1->isVisible());

  QDir().mkpath(AH_ARTIFACT_DIR);
  EXPECT_TRUE(form.grab().save(AH_ARTIFACT_DIR "/form1-after-harvest.png"));
}

TEST_F(Form1Harvest, FieldsAreReadAsTypedAndSentAsWindows1251) {
  TForm1 form(MakeSetup());
  form.Edit1->setText(QString::fromUtf8("лиса"));
  form.Edit3->setText(QString::fromUtf8("@почта.test"));
  form.Edit4->setText(QString::fromStdString(kRoot + "/nowhere/"));
  site_.answers[kRoot + "/nowhere/?page=1"] = {"", false, 404};
  form.Button1Click();
  ASSERT_GE(Calls().size(), 2u);
  EXPECT_EQ(Calls()[0], "POST #1 " + kRoot +
                            "/login/ return_url=/users/\xEB\xE8\xF1\xE0/|login=\xEB\xE8\xF1\xE0|"
                            "domain=@\xEF\xEE\xF7\xF2\xE0.test|password=lapki5lisa!|remember=on");
  EXPECT_EQ(Calls()[1], "GET #1 " + kRoot + "/nowhere/?page=1");
  // The page cannot be had: the run ends after it, and says so.
  EXPECT_EQ(PaneLines(form), (std::vector<std::string>{"Авторизация...", "Страница № 1",
                                                       "Страница № 1 — ОШИБКА: HTTP/1.1 404 Refused",
                                                       "Сохранено: 0 из 0, ошибок: 1", "Папка: ",
                                                       "ЗАВЕРШЕНО!", ""}));
}

TEST_F(Form1Harvest, TheNextRunAppendsAfterWhatWasTypedIntoTheLog) {
  TForm1 form(MakeSetup());
  form.show();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.loga->setFocus();
  QTest::keyClicks(form.loga, "note");
  QTest::mouseClick(form.Button1, Qt::LeftButton);
  EXPECT_EQ(PaneLines(form), Concat({"note"}, Concat(HarvestLog(), {""})));
}

TEST_F(Form1Harvest, AClickDuringThePumpPassRunsAWholeNestedHarvest) {
  TForm1 form(MakeSetup());
  form.show();
  bool armed = true;
  int clicks_seen_enabled = 0;
  // The outer run's sign-in posts the second click; the run's first pump
  // pass delivers it.
  site_.on_post = [&] {
    if (!armed) return;
    armed = false;
    QTimer::singleShot(0, &form, [&] {
      if (form.Button1->isEnabled()) ++clicks_seen_enabled;
      QTest::mouseClick(form.Button1, Qt::LeftButton);
    });
  };
  QTest::mouseClick(form.Button1, Qt::LeftButton);

  EXPECT_EQ(clicks_seen_enabled, 1);
  std::vector<std::string> expected = {"Авторизация..."};
  const std::vector<std::string> whole = HarvestLog();
  expected = Concat(expected, whole);
  // The first run goes on in the folder the nested one filled: it finds
  // every image there and fetches only the album pages.
  for (auto line = whole.begin() + 1; line != whole.end(); ++line)
    expected.push_back(line->starts_with("  ") ? *line + " (уже есть)" : *line);
  expected.push_back("");
  EXPECT_EQ(PaneLines(form), expected);
  const std::vector<std::string> calls = Calls();
  ASSERT_EQ(calls.size(), 9u);
  EXPECT_EQ(calls[0].substr(0, 5), "POST ");
  EXPECT_EQ(calls[1].substr(0, 5), "POST ");
  EXPECT_EQ(calls[2], "GET #1 " + kAlbum + "?page=1");
  EXPECT_EQ(calls[7], "GET #1 " + kAlbum + "?page=1");
  EXPECT_EQ(calls[8], "GET #1 " + kAlbum + "?page=2");
  EXPECT_EQ(site_.clients_created, 1);
}

TEST_F(Form1Harvest, TheWindowsClientIsRenewedThroughItsFactoryAndFreedWithIt) {
  TwentyOnePages(false);
  {
    TForm1 form(MakeSetup());
    ASSERT_EQ(site_.clients_created, 1);
    EXPECT_TRUE(Journaled("agent #1 " + kUserAgent));
    EXPECT_TRUE(Journaled("redirects #1 on"));
    form.Button1Click();
    EXPECT_EQ(site_.clients_created, 2);
    EXPECT_EQ(site_.clients_alive, 1);
    EXPECT_TRUE(Journaled("agent #2 " + kUserAgent));
    EXPECT_TRUE(Journaled("redirects #2 on"));
    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 23u);
    EXPECT_EQ(calls[21].substr(0, 5), "POST ");
    EXPECT_EQ(calls[22], "GET #2 " + kAlbum + "?page=21");
    EXPECT_NE(form.IdHTTP1(), nullptr);
  }
  EXPECT_EQ(site_.clients_alive, 0);
}

TEST_F(Form1Harvest, AWindowWithoutAClientStillRunsToTheEndAndSaysWhy) {
  WindowSetup setup = MakeSetup();
  setup.make_client = [](TComponent&) -> IHTTPClient* { return nullptr; };
  TForm1 form(std::move(setup));
  form.Button1Click();
  EXPECT_EQ(PaneLines(form),
            (std::vector<std::string>{"Авторизация...", "Авторизация не подтверждена: нет HTTP-клиента",
                                      "Страница № 1", "Страница № 1 — ОШИБКА: нет HTTP-клиента",
                                      "Сохранено: 0 из 0, ошибок: 1", "Папка: ", "ЗАВЕРШЕНО!", ""}));
}

TEST_F(Form1Harvest, AFailureThatLeavesTheRunIsShownInAnErrorBox) {
  TwentyOnePages(true);
  WindowSetup setup = MakeSetup();
  int made = 0;
  setup.make_client = [&](TComponent&) -> IHTTPClient* {
    if (++made == 2) throw Exception("\xCD\xE5\xF2 \xEA\xEB\xE8\xE5\xED\xF2\xE0");  // Нет клиента
    return new ScriptedClient(site_);
  };
  TForm1 form(std::move(setup));
  form.show();
  std::string shown;
  std::function<void()> close_box = [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text().toStdString();
      box->accept();
    } else {
      QTimer::singleShot(10, close_box);
    }
  };
  QTimer::singleShot(0, close_box);
  form.Button1Click();
  EXPECT_EQ(shown, "Нет клиента");
  // The run stopped where the failure left it: no final line.
  EXPECT_EQ(PaneLines(form).back(), "");
  EXPECT_EQ(PaneLines(form)[PaneLines(form).size() - 2], "Страница № 20");
  EXPECT_EQ(form.IdHTTP1(), nullptr);
}

}  // namespace
}  // namespace ah
