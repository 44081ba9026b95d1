// The site host: sign-in, the user's, album and photo pages, and the
// answer to paths it does not know.

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "tools/album-demo-site/demo_site_impl.h"
#include "tools/album-demo-site/form_fields.h"
#include "tools/album-demo-site/site_pages.h"

namespace ah {

namespace {

constexpr size_t kChunkSize = 997;  // odd, so chunks split UTF-8 sequences

// A return_url is followed only when it stays on this site.
bool IsLocalPath(std::string_view url) {
  return url.size() >= 1 && url[0] == '/' && (url.size() < 2 || (url[1] != '/' && url[1] != '\\'));
}

}  // namespace

std::optional<int> DemoSite::Impl::ParseId(std::string_view text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string DemoSite::Impl::SignedInAs(const httplib::Request& req) {
  std::string token = CookieValue(req.get_header_value("Cookie"), kSessionCookie);
  std::lock_guard lock(mutex);
  auto it = sessions.find(token);
  return it == sessions.end() ? "" : it->second.login;
}

void DemoSite::Impl::SendHtml(const httplib::Request& req, httplib::Response& res,
                              std::string html, int status) {
  res.status = status;
  // Chunked coding does not exist in HTTP/1.0; such requests get a length.
  if (!options.chunked || req.version == "HTTP/1.0") {
    res.set_content(std::move(html), kHtml);
    return;
  }
  auto body = std::make_shared<std::string>(std::move(html));
  res.set_chunked_content_provider(kHtml, [body](size_t offset, httplib::DataSink& sink) {
    if (offset < body->size()) {
      size_t n = std::min(kChunkSize, body->size() - offset);
      sink.write(body->data() + offset, n);
    }
    if (offset + kChunkSize >= body->size()) sink.done();
    return true;
  });
}

void DemoSite::Impl::NotFound(const httplib::Request& req, httplib::Response& res,
                              std::string_view kind) {
  {
    std::lock_guard lock(mutex);
    if (kind == "decoy")
      ++stats.decoy_requests;
    else
      ++stats.other_requests;
    RecordLocked(std::string(kind) + " " + req.method + " " + req.target);
  }
  SendHtml(req, res, NotFoundHtml(options.album), 404);
}

void DemoSite::Impl::AddPageFaults(std::string& html, const DemoAlbum& album, int page) const {
  const DemoFaults& f = options.faults;
  if (f.nul_in_pages) {
    size_t after = html.find("</li>\n");
    html.insert(after == std::string::npos ? html.rfind("</body>") : after + 6,
                std::string("<!-- \0 -->\n", 11));
  }
  if (f.endless_pages)
    html.insert(html.rfind("</body>"), "<a href=\"" + album.AlbumPath() + "?page=" +
                                           std::to_string(page + 1) + "\">&rarr;</a>\n");
}

void DemoSite::Impl::SignIn(const httplib::Request& req, httplib::Response& res) {
  auto fields = ParseFormBody(req.body);
  const std::string& login = fields["login"];
  bool accepted = login == options.login && fields["password"] == options.password &&
                  fields["domain"] == options.domain;
  if (!accepted) {
    {
      std::lock_guard lock(mutex);
      ++stats.refused_sign_ins;
      RecordLocked("sign-in refused login=" + login);
    }
    SendHtml(req, res, LoginPageHtml(options.album, options.domain, fields["return_url"], true));
    return;
  }
  std::string token, name;
  {
    std::lock_guard lock(mutex);
    name = "s" + std::to_string(++sessions_made);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(random()));
    token = name + "-" + hex;
    sessions[token] = Session{name, login, 0};
    ++stats.sign_ins;
    RecordLocked("sign-in ok login=" + login + " session=" + name);
  }
  std::string cookie = std::string(kSessionCookie) + "=" + token + "; path=/";
  if (fields["remember"] == "on")
    cookie += "; expires=" + HttpDate(std::time(nullptr) + 30 * 24 * 3600);
  res.set_header("Set-Cookie", cookie);
  res.set_header("Set-Cookie", "ph_lang=ru; path=/");
  std::string target = IsLocalPath(fields["return_url"]) ? fields["return_url"]
                                                         : options.album.UserPath();
  res.status = 302;
  res.set_header("Location", target);
  res.set_content("<html><body><a href=\"" + target + "\">" + target + "</a></body></html>\n",
                  kHtml);
}

void DemoSite::Impl::AlbumPage(const httplib::Request& req, httplib::Response& res,
                               const DemoAlbum& album) {
  int page = 1;
  if (req.has_param("page")) page = ParseId(req.get_param_value("page")).value_or(0);
  const bool past_end = options.faults.endless_pages && page > album.pages;
  if (!album.HasPage(page) && !past_end) return NotFound(req, res, "other");
  const std::string tag = Tag(album);
  if (Faulty(res, FaultKind::kAlbumPage, page, "album page=" + std::to_string(page) + tag)) return;
  std::string token = CookieValue(req.get_header_value("Cookie"), kSessionCookie);
  std::string who, entry;
  {
    std::lock_guard lock(mutex);
    ++stats.album_pages;
    entry = "album page=" + std::to_string(page);
    auto it = sessions.find(token);
    if (it == sessions.end()) {
      entry += token.empty() ? " session=-" : " session=unknown";
    } else {
      entry += " session=" + it->second.name;
      if (options.session_requests > 0 && ++it->second.page_requests > options.session_requests) {
        entry += " expired";
        ++stats.expired_sessions;
        sessions.erase(it);
      } else {
        who = it->second.login;
      }
    }
    if (!who.empty()) ++stats.album_pages_with_photos;
    RecordLocked(entry + (who.empty() ? " photos=no" : " photos=yes") + tag);
  }
  std::string html = AlbumPageHtml(album, ImageRoot(), std::min(page, album.pages), who);
  AddPageFaults(html, album, page);
  SendHtml(req, res, std::move(html));
}

void DemoSite::Impl::PhotoPage(const httplib::Request& req, httplib::Response& res,
                               const DemoAlbum& album, int id) {
  const std::string entry = "photo id=" + std::to_string(id) + Tag(album);
  if (Faulty(res, FaultKind::kPhotoPage, id, entry)) return;
  {
    std::lock_guard lock(mutex);
    ++stats.photo_pages;
    RecordLocked(entry);
  }
  std::string html = PhotoPageHtml(album, ImageRoot(), id, SignedInAs(req));
  if (options.faults.foreign_image_links) {
    const std::string site_root =
        (Tls() ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port);
    html.insert(html.find("<div class=\"photo\""),
                "<img src=\"" + site_root + "/away?to=127.0.0.1:" + std::to_string(image_port) +
                    "/photo/x.jpg\" title=\"чужой\">\n");
  }
  SendHtml(req, res, std::move(html));
}

void DemoSite::Impl::HandleSite(const httplib::Request& req, httplib::Response& res) {
  t_handled = true;
  const DemoAlbum& album = options.album;
  std::string_view path = req.path;
  path = path.substr(0, path.find('#'));  // a client may send the link's fragment along

  if (path == "/__stats") return res.set_content(StatsJson(), "application/json");
  if (path == "/__log") {
    std::string text;
    for (const auto& line : Log()) text += line + "\n";
    return res.set_content(text, "text/plain; charset=utf-8");
  }
  if (path == "/login/" || path == "/login") {
    if (req.method == "POST") return SignIn(req, res);
    Record("login-form " + req.method);
    return SendHtml(req, res,
                    LoginPageHtml(album, options.domain,
                                  req.has_param("return_url") ? req.get_param_value("return_url")
                                                              : album.UserPath(),
                                  false));
  }
  if (path == "/static/site.css") return res.set_content(std::string(SiteCss()), "text/css");
  if (path == "/static/site.js")
    return res.set_content(std::string(SiteScript()), "application/javascript");
  if (path == "/") {
    Record("home " + req.method);
    return SendHtml(req, res, HomePageHtml(album, SignedInAs(req)));
  }
  if (path == album.UserPath()) {
    Record("user " + req.method + " " + std::string(path));
    return SendHtml(req, res, UserPageHtml(albums, ImageRoot(), SignedInAs(req)));
  }
  // Every album's slideshow path holds the word.
  if (path.find("slideshow") != std::string_view::npos) return NotFound(req, res, "decoy");
  for (const DemoAlbum& each : albums) {
    if (path == each.AlbumPath()) return AlbumPage(req, res, each);
    std::string photo_prefix = each.AlbumPath() + "photo/";
    if (!path.starts_with(photo_prefix) || !path.ends_with("/")) continue;
    auto id = ParseId(path.substr(photo_prefix.size(), path.size() - photo_prefix.size() - 1));
    if (id && each.HasPhoto(*id)) return PhotoPage(req, res, each, *id);
  }
  NotFound(req, res, "other");
}

}  // namespace ah
