#include "tools/album-demo-site/site_pages.h"

#include <algorithm>

namespace ah {

namespace {

std::string Head(const DemoAlbum& album, std::string_view title, std::string_view extra = "") {
  std::string out =
      "<!DOCTYPE html>\n"
      "<html lang=\"ru\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n";
  out += "<title>" + std::string(title) + album.TitleSuffix() + "</title>\n";
  out +=
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<link rel=\"stylesheet\" href=\"/static/site.css\">\n"
      "<script src=\"/static/site.js\"></script>\n";
  out += extra;
  out += "</head>\n";
  return out;
}

std::string Header(const DemoAlbum& album, std::string_view signed_in_as) {
  std::string out = "<body>\n<div id=\"header\">\n<a class=\"logo\" href=\"/\">" + album.site_name +
                    "</a>\n";
  if (signed_in_as.empty())
    out += "<span class=\"user\"><a href=\"/login/\">Войти</a></span>\n";
  else
    out += "<span class=\"user\">Вы вошли как <b>" + std::string(signed_in_as) +
           "</b></span>\n";
  out += "</div>\n<div id=\"content\">\n";
  return out;
}

std::string Footer(const DemoAlbum& album) {
  return "</div>\n<div id=\"footer\">&copy; " + album.site_name +
         ", 2008&ndash;2024. Все права защищены.</div>\n</body>\n</html>\n";
}

std::string PageLink(const DemoAlbum& album, int page, std::string_view text) {
  return "<a href=\"" + album.AlbumPath() + "?page=" + std::to_string(page) + "\">" +
         std::string(text) + "</a>";
}

// Previous/next and a window of page numbers; never a number past the last page.
std::string Pager(const DemoAlbum& album, int page) {
  std::string out = "<div class=\"pager\">\n";
  if (page > 1) out += PageLink(album, page - 1, "&larr; назад") + "\n";
  int from = std::max(1, page - 3), to = std::min(album.pages, page + 3);
  if (from > 1) out += PageLink(album, 1, "1") + (from > 2 ? " &hellip;\n" : "\n");
  for (int p = from; p <= to; ++p) {
    if (p == page)
      out += "<b>" + std::to_string(p) + "</b>\n";
    else
      out += PageLink(album, p, std::to_string(p)) + "\n";
  }
  if (to < album.pages)
    out += std::string(to < album.pages - 1 ? "&hellip; " : "") +
           PageLink(album, album.pages, std::to_string(album.pages)) + "\n";
  if (page < album.pages) out += PageLink(album, page + 1, "вперёд &rarr;") + "\n";
  out += "</div>\n";
  return out;
}

std::string Thumb(const DemoAlbum& album, std::string_view image_root, int id) {
  return std::string(image_root) + album.ThumbPath(id);
}

// For text that comes from a request and goes back into an attribute.
std::string EscapeAttribute(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::string AlbumPageHtml(const DemoAlbum& album, std::string_view image_root, int page,
                          std::string_view signed_in_as) {
  std::string out = Head(album, album.title);
  out += Header(album, signed_in_as);
  out += "<h1>" + album.title + "</h1>\n";
  out += "<div class=\"album-info\">Альбом пользователя <a href=\"" + album.UserPath() + "\">" +
         album.user + "</a> &middot; " + std::to_string(album.PhotoCount()) +
         " фото &middot; страница " + std::to_string(page) + " из " +
         std::to_string(album.pages) + "</div>\n";
  // The slideshow handler is the line the harvester must skip: its quoted
  // value holds the photo-link marker but is script, not an address.
  out += "<div class=\"tools\"><a href=\"" + album.SlideshowPath() +
         "\" class=\"slideshow\" onclick=\"/* slideshow */ Slideshow.open('" +
         album.SlideshowPath() + "#mainImageLink'); return false;\">Слайд-шоу</a></div>\n";
  out += Pager(album, page);
  if (signed_in_as.empty()) {
    out +=
        "<p class=\"notice\">Фотографии этого альбома видны только зарегистрированным "
        "пользователям. <a href=\"/login/\">Войдите</a>, чтобы их увидеть.</p>\n";
  } else {
    out += "<ul class=\"photos\">\n";
    int first = album.FirstPhotoOn(page);
    for (int id = first; id < first + album.photos_per_page; ++id) {
      std::string title = album.PhotoTitle(id);
      out += "<li><a href=\"" + album.PhotoPagePath(id) + "#mainImageLink\"><img src=\"" +
             Thumb(album, image_root, id) + "\" width=\"160\" height=\"120\" alt=\"" + title +
             "\"></a><br><a href=\"" + album.PhotoPagePath(id) + "\">" + title + "</a></li>\n";
    }
    out += "</ul>\n";
  }
  out += Pager(album, page);
  out += "<script>Slideshow.init({album: '" + album.AlbumPath() + "'});</script>\n";
  out += Footer(album);
  return out;
}

std::string PhotoPageHtml(const DemoAlbum& album, std::string_view image_root, int id,
                          std::string_view signed_in_as) {
  std::string title = album.PhotoTitle(id);
  std::string image = std::string(image_root) + album.ImagePath(id);
  std::string shown = title.empty() ? "Фото " + std::to_string(id) : title;
  // og:image is an image-host address that no title attribute follows.
  std::string out = Head(album, shown,
                         "<meta property=\"og:image\" content=\"" + image + "\">\n");
  out += Header(album, signed_in_as);
  out += "<div class=\"crumbs\"><a href=\"" + album.UserPath() + "\">" + album.user +
         "</a> &rarr; " + PageLink(album, album.PageOfPhoto(id), album.title) + "</div>\n";
  out += "<h1>" + shown + "</h1>\n";
  out += "<div class=\"photo\" id=\"mainImageLink\">\n<img id=\"mainImage\" src=\"" + image +
         "\" title=\"" + title + "\" alt=\"" + title +
         "\" width=\"512\" height=\"384\">\n</div>\n";
  out += "<div class=\"neighbours\">\n";
  for (int n : {id - 1, id + 1}) {
    if (!album.HasPhoto(n)) continue;
    out += "<a href=\"" + album.PhotoPagePath(n) + "#mainImageLink\"><img src=\"" +
           Thumb(album, image_root, n) + "\" title=\"" + album.PhotoTitle(n) +
           "\" width=\"160\" height=\"120\"></a>\n";
  }
  out += "</div>\n";
  out += "<div class=\"download\"><a href=\"" + image +
         "\" download>Скачать оригинал</a></div>\n";
  out += Footer(album);
  return out;
}

std::string LoginPageHtml(const DemoAlbum& album, std::string_view domain,
                          std::string_view return_url, bool refused) {
  std::string out = Head(album, "Вход");
  out += Header(album, "");
  out += "<h1>Вход на сайт</h1>\n";
  if (refused) out += "<p class=\"error\">Неверный логин или пароль.</p>\n";
  out += "<form method=\"post\" action=\"/login/\">\n";
  out += "<input type=\"hidden\" name=\"return_url\" value=\"" + EscapeAttribute(return_url) + "\">\n";
  out += "<p><input type=\"text\" name=\"login\"> @ <select name=\"domain\"><option>" +
         std::string(domain) + "</option></select></p>\n";
  out += "<p><input type=\"password\" name=\"password\"></p>\n";
  out +=
      "<p><label><input type=\"checkbox\" name=\"remember\" value=\"on\" checked> Запомнить "
      "меня</label></p>\n"
      "<p><button type=\"submit\">Войти</button></p>\n</form>\n";
  out += Footer(album);
  return out;
}

std::string UserPageHtml(const std::vector<DemoAlbum>& albums, std::string_view image_root,
                         std::string_view signed_in_as) {
  const DemoAlbum& first = albums.front();
  std::string out = Head(first, first.user);
  out += Header(first, signed_in_as);
  out += "<h1>Альбомы пользователя " + first.user + "</h1>\n<ul class=\"albums\">\n";
  for (const DemoAlbum& album : albums)
    out += "<li><a href=\"" + album.AlbumPath() + "\"><img src=\"" + Thumb(album, image_root, 1) +
           "\" width=\"160\" height=\"120\"></a><br><a href=\"" + album.AlbumPath() + "\">" +
           album.title + "</a> (" + std::to_string(album.PhotoCount()) + " фото)</li>\n";
  out += "</ul>\n" + Footer(first);
  return out;
}

std::string HomePageHtml(const DemoAlbum& album, std::string_view signed_in_as) {
  std::string out = Head(album, "Главная");
  out += Header(album, signed_in_as);
  out += "<h1>" + album.site_name + " &mdash; фотографии на память</h1>\n";
  out += "<p>Новый альбом: <a href=\"" + album.AlbumPath() + "\">" + album.title + "</a></p>\n";
  out += Footer(album);
  return out;
}

std::string NotFoundHtml(const DemoAlbum& album) {
  std::string out = Head(album, "Страница не найдена");
  out += Header(album, "");
  out += "<h1>Страница не найдена</h1>\n";
  out += Footer(album);
  return out;
}

std::string_view SiteCss() {
  return "body{font-family:sans-serif;margin:0;background:#f4f1ea}\n"
         "#header{background:#2d4f6c;color:#fff;padding:8px 16px}\n"
         "#header a{color:#fff}\n"
         "#content{padding:16px}\n"
         ".photos{list-style:none;padding:0}\n"
         ".photos li{display:inline-block;margin:8px;text-align:center;width:170px}\n"
         ".pager a,.pager b{margin:0 4px}\n"
         "#footer{color:#777;padding:16px;font-size:small}\n";
}

std::string_view SiteScript() {
  return "var Slideshow = {\n"
         "  init: function (options) { this.album = options.album; },\n"
         "  open: function (url) { window.location = url; }\n"
         "};\n";
}

}  // namespace ah
