#include "app/album/gallery_page.h"

#include "http/uri_resolution.h"
#include "platform/atomic_file.h"

namespace ah {
namespace {

// Scripts, frames, forms and every remote load are refused, even if a
// title ever slipped through unescaped.
constexpr std::string_view kHead = R"(<!DOCTYPE html>
<html lang="ru">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; img-src 'self' file:; style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="referrer" content="no-referrer">
)";

constexpr std::string_view kStyle = R"(<style>
:root { color-scheme: light dark; --muted: #767676; --tile: rgba(127, 127, 127, 0.12); }
* { box-sizing: border-box; }
body { margin: 0 auto; max-width: 1400px; padding: 12px; font: 16px/1.4 system-ui, sans-serif; }
h1 { font-size: 1.5em; margin: 0.2em 0; overflow-wrap: anywhere; }
header p { margin: 0.2em 0; color: var(--muted); overflow-wrap: anywhere; }
.grid { display: grid; gap: 10px; grid-template-columns: repeat(auto-fill, minmax(150px, 1fr));
        list-style: none; padding: 0; margin: 16px 0; }
.grid li { background: var(--tile); border-radius: 6px; overflow: hidden; }
.grid a { display: block; color: inherit; text-decoration: none; }
.grid img { display: block; width: 100%; aspect-ratio: 4 / 3; object-fit: cover; background: var(--tile); }
.grid span { display: block; padding: 4px 6px; font-size: 0.85em; overflow-wrap: anywhere; }
.n { color: var(--muted); font-variant-numeric: tabular-nums; }
.failed li { margin: 0.3em 0; overflow-wrap: anywhere; }
.error { color: #c0392b; }
@media (max-width: 480px) { .grid { grid-template-columns: repeat(2, 1fr); } }
</style>
</head>
<body>
)";

// A link for a web address; anything else (a "javascript:" address from
// a hostile page, say) stays plain text.
std::string AddressLink(std::string_view utf8_url, std::string_view label_utf8 = {}) {
  std::string url = HtmlEscape(utf8_url);
  std::string label = label_utf8.empty() ? url : HtmlEscape(label_utf8);
  if (!WebOriginOf(utf8_url)) return label;
  return "<a href=\"" + url + "\" rel=\"noreferrer\">" + label + "</a>";
}

}  // namespace

std::string HtmlEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\0': out += "\xEF\xBF\xBD"; break;  // U+FFFD, as a browser would show it
      default: out += c;
    }
  }
  return out;
}

std::string FileNameAddress(std::string_view utf8_name) {
  return TIdURI::PercentEncode(utf8_name, [](unsigned char b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
           b == '.' || b == '_' || b == '~';
  });
}

std::string GalleryHtml(const AlbumManifest& m) {
  const int saved = m.SavedCount(), failed = m.FailedCount();
  std::string page(kHead);
  page += "<title>" + HtmlEscape(m.title) + "</title>\n";
  page += kStyle;
  page += "<header>\n<h1>" + HtmlEscape(m.title) + "</h1>\n";
  page += "<p>Источник: " + AddressLink(m.album_url) + "</p>\n";
  page += "<p id=\"counts\">Сохранено: " + std::to_string(saved) + " из " +
          std::to_string(m.photos.size()) + ", ошибок: " + std::to_string(failed) + "</p>\n";
  if (!m.last_run.empty()) page += "<p>Последний запуск: " + HtmlEscape(m.last_run) + "</p>\n";
  page += "</header>\n";

  if (saved > 0) {
    page += "<ul class=\"grid\">\n";
    for (const auto& p : m.photos) {
      if (p.status != PhotoStatus::psSaved) continue;
      const std::string href = HtmlEscape(FileNameAddress(p.file_name));
      const std::string number = std::to_string(p.number);
      page += "<li id=\"photo-" + number + "\"><a href=\"" + href + "\"><img src=\"" + href +
              "\" loading=\"lazy\" decoding=\"async\" alt=\"" + HtmlEscape(p.title) +
              "\"><span><b class=\"n\">" + number + "</b> " + HtmlEscape(p.title) +
              "</span></a></li>\n";
    }
    page += "</ul>\n";
  }

  if (failed > 0) {
    page += "<section class=\"failed\">\n<h2>Не сохранены: " + std::to_string(failed) +
            "</h2>\n<ul>\n";
    for (const auto& p : m.photos) {
      if (p.status != PhotoStatus::psFailed) continue;
      page += "<li><b class=\"n\">" + std::to_string(p.number) + "</b> ";
      // A photo page that could not be read is known by its address alone.
      if (p.image_url.empty())
        page += AddressLink(p.page_url);
      else
        page += HtmlEscape(p.title) + " (" + AddressLink(p.page_url, "страница") + ")";
      page += " — <span class=\"error\">" + HtmlEscape(p.error) + "</span></li>\n";
    }
    page += "</ul>\n</section>\n";
  }
  page += "</body>\n</html>\n";
  return page;
}

void WriteGallery(const std::filesystem::path& folder, const AlbumManifest& manifest,
                  bool flush_to_disk) {
  ReplaceFileAtomically(folder / std::string(kGalleryFileName), GalleryHtml(manifest),
                        flush_to_disk);
}

}  // namespace ah
