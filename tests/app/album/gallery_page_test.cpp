#include "app/album/gallery_page.h"

#include <gtest/gtest.h>


namespace ah {
namespace {

int Occurrences(const std::string& text, std::string_view what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

ManifestPhoto Photo(int number, std::string title, std::string file, PhotoStatus status) {
  ManifestPhoto p;
  p.number = number;
  p.title = std::move(title);
  p.file_name = std::move(file);
  p.page_url = "http://127.0.0.1:1/photo/" + std::to_string(number) + "/";
  p.status = status;
  if (status == PhotoStatus::psSaved) p.sha256 = std::string(64, 'a');
  return p;
}

TEST(GalleryPage, EscapesTextAndEncodesFileNames) {
  const std::vector<std::pair<std::string, std::string>> escaped = {
      {"plain", "plain"},
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"\" onerror=\"x", "&quot; onerror=&quot;x"},
      {"it's & more", "it&#39;s &amp; more"},
      {std::string("a\0b", 3), "a\xEF\xBF\xBD" "b"},
      {"Крым", "Крым"},
  };
  for (const auto& [text, want] : escaped) EXPECT_EQ(HtmlEscape(text), want) << text;

  const std::vector<std::pair<std::string, std::string>> encoded = {
      {"1_sea.jpg", "1_sea.jpg"},
      {"2_a b.jpg", "2_a%20b.jpg"},
      {"3_#?%&.jpg", "3_%23%3F%25%26.jpg"},
      {"4_x:y\"z'.jpg", "4_x%3Ay%22z%27.jpg"},
      {"5_Море.jpg", "5_%D0%9C%D0%BE%D1%80%D0%B5.jpg"},
      {"javascript:alert(1)", "javascript%3Aalert%281%29"},
      {"a/b\\c", "a%2Fb%5Cc"},
  };
  for (const auto& [name, want] : encoded) EXPECT_EQ(FileNameAddress(name), want) << name;
}

TEST(GalleryPage, ShowsSavedPhotosAsTilesAndFailedOnesWithTheirErrors) {
  AlbumManifest m;
  m.title = "<img src=x onerror=alert(1)>";
  m.album_url = "javascript:alert(document.cookie)";
  m.last_run = "2025-03-01T14:05:09+03:00";
  m.Record(Photo(1, "Море", "1_Море.jpg", PhotoStatus::psSaved));
  m.Record(Photo(2, "\"><script>x()</script>", "2_x\" onload=\"y.jpg", PhotoStatus::psSaved));
  ManifestPhoto failed = Photo(3, "lost", "3_lost.jpg", PhotoStatus::psFailed);
  failed.image_url = "http://127.0.0.1:2/photo/3.jpg";
  failed.error = "</li><script>bad()</script>";
  failed.page_url = "javascript:bad()";
  m.Record(failed);
  ManifestPhoto page;  // a photo page that could not be read
  page.number = 4;
  page.page_url = "http://127.0.0.1:1/photo/9/";
  page.error = "Read timed out.";
  m.Record(page);

  const std::string html = GalleryHtml(m);
  // What came from pages never becomes markup or an active address.
  EXPECT_EQ(Occurrences(html, "<script"), 0);
  EXPECT_EQ(Occurrences(html, "<img"), 2);
  EXPECT_EQ(Occurrences(html, "javascript:"), 1) << "the source, as text only";
  EXPECT_EQ(Occurrences(html, "href=\"javascript"), 0);
  EXPECT_NE(html.find("&lt;img src=x onerror=alert(1)&gt;</h1>"), std::string::npos);
  EXPECT_NE(html.find("<img src=\"2_x%22%20onload%3D%22y.jpg\" loading=\"lazy\""),
            std::string::npos);
  EXPECT_NE(html.find("<a href=\"1_%D0%9C%D0%BE%D1%80%D0%B5.jpg\"><img"), std::string::npos)
      << "a click opens the full image";
  EXPECT_NE(html.find("<b class=\"n\">1</b> Море</span>"), std::string::npos);
  EXPECT_NE(html.find("Сохранено: 2 из 4, ошибок: 2"), std::string::npos);
  EXPECT_NE(html.find("&lt;/li&gt;&lt;script&gt;bad()&lt;/script&gt;"), std::string::npos);
  EXPECT_LT(html.find("lost"), html.find("Read timed out.")) << "in number order";
  EXPECT_NE(html.find("<b class=\"n\">4</b> <a href=\"http://127.0.0.1:1/photo/9/\""),
            std::string::npos) << "a page that gave no image, by its address";
  // Nothing is loaded from the network, nothing runs.
  for (std::string_view absent : {"<link", "@import", "url(", "src=\"http", "<iframe", "<object"})
    EXPECT_EQ(html.find(absent), std::string::npos) << absent;
  EXPECT_NE(html.find("name=\"viewport\""), std::string::npos);
}

}  // namespace
}  // namespace ah
