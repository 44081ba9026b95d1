// The window as it starts, with its own client component, harvesting the
// demo photo site over loopback sockets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/site/text_helpers.h"
#include "app/window/form1.h"
#include "framework/sysutils.h"
#include "platform/code_page.h"
#include "tests/support/file_bytes.h"
#include "tools/album-demo-site/demo_site.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

TEST(Form1DemoSite, AClickHarvestsTheWholeAlbumWithTheWindowsOwnClient) {
  char dir_template[] = "/tmp/ah-window-demo-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const fs::path out = dir_template;

  DemoSiteOptions options;
  options.album.pages = 2;
  options.album.photos_per_page = 3;
  // The window's default account; its album belongs to that login.
  options.login = options.album.user = "lisichka";
  options.password = "lapki5lisa!";
  options.domain = "@fotopolka.example";
  DemoSite site(options);
  site.Start();

  WindowSetup setup;
  setup.settings.profile = {site.SiteRoot(), site.TitleSuffix(), site.ImageHostMarker()};
  setup.settings.output_dir = out.string();
  {
    TForm1 form(std::move(setup));
    form.show();
    form.Edit4->setText(QString::fromStdString(site.AlbumUrl()));
    QTest::mouseClick(form.Button1, Qt::LeftButton);

    std::vector<std::string> expected = {"Авторизация..."};
    for (int id = 1; id <= 6; ++id) {
      if (id % 3 == 1) expected.push_back("Страница № " + std::to_string(id / 3 + 1));
      expected.push_back("  " + AnsiToUtf8(CleanFileTitle(Trim(StripTags(Utf8ToAnsi(DemoPhotoTitle(id)))))));
    }
    expected.push_back("Сохранено: 6 из 6, ошибок: 0");
    expected.push_back("Папка: " + (out / "Крым Лето 2024: морегоры").string());
    expected.push_back("ЗАВЕРШЕНО!");
    expected.push_back("");
    std::vector<std::string> shown;
    for (const QString& line : form.loga->toPlainText().split('\n')) shown.push_back(line.toStdString());
    EXPECT_EQ(shown, expected);

    QDir().mkpath(AH_ARTIFACT_DIR);
    EXPECT_TRUE(form.grab().save(AH_ARTIFACT_DIR "/form1-after-demo-harvest.png"));
  }
  DemoSiteStats stats = site.Stats();
  EXPECT_EQ(stats.sign_ins, 1);
  EXPECT_EQ(stats.refused_sign_ins, 0);
  EXPECT_EQ(stats.decoy_requests, 0);
  EXPECT_EQ(stats.images, 6);

  int files = 0;
  for (const auto& folder : fs::directory_iterator(out)) {
    for (const auto& image : fs::directory_iterator(folder.path())) {
      const std::string name = image.path().filename();
      if (name == "album.json" || name == "index.html") continue;
      ++files;
      const int id = std::atoi(image.path().filename().c_str());
      EXPECT_EQ(test::FileBytes(image.path()), site.ImageBytes(id)) << image.path();
    }
  }
  EXPECT_EQ(files, 6);
  site.Stop();
  fs::remove_all(out);
}

}  // namespace
}  // namespace ah
