#include "tools/album-demo-site/demo_site.h"

#include <httplib.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "tools/album-demo-site/demo_jpeg.h"
#include "tools/album-demo-site/form_fields.h"
#include "tools/album-demo-site/site_pages.h"

namespace ah {

namespace {

constexpr const char* kSessionCookie = "ph_session";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr size_t kChunkSize = 997;  // odd, so chunks split UTF-8 sequences
constexpr size_t kImageCacheLimit = 600;
constexpr size_t kServerThreads = 32;
constexpr int kFullWidth = 512, kFullHeight = 384, kThumbWidth = 160, kThumbHeight = 120;

// Whether the handlers of this thread's current request ran; requests that
// the server library answered itself (malformed ones) are recorded as others
// by the error hook, which runs before the reply is sent, so a client that
// has its reply sees the count.
thread_local bool t_handled = false;

std::optional<int> ParseId(std::string_view text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

uint32_t Fnv1a(std::string_view text) {
  uint32_t h = 2166136261u;
  for (unsigned char c : text) h = (h ^ c) * 16777619u;
  return h;
}

// A return_url is followed only when it stays on this site.
bool IsLocalPath(std::string_view url) {
  return url.size() >= 1 && url[0] == '/' && (url.size() < 2 || (url[1] != '/' && url[1] != '\\'));
}

}  // namespace

struct DemoSite::Impl {
  struct Session {
    std::string name;  // "s1", "s2", ... for the log
    std::string login;
    int page_requests = 0;
  };

  explicit Impl(DemoSiteOptions o)
      : options(std::move(o)),
        albums(AllAlbums(options)),
        site_server(NewSiteServer(options)),
        site(*site_server),
        fault_plan(options.faults) {}

  static std::unique_ptr<httplib::Server> NewSiteServer(const DemoSiteOptions& o) {
    if (o.tls_cert_file.empty() || o.tls_key_file.empty())
      return std::make_unique<httplib::Server>();
    return std::make_unique<httplib::SSLServer>(o.tls_cert_file.c_str(), o.tls_key_file.c_str());
  }
  bool Tls() const { return !options.tls_cert_file.empty() && !options.tls_key_file.empty(); }

  static std::vector<DemoAlbum> AllAlbums(const DemoSiteOptions& o) {
    std::vector<DemoAlbum> all = {o.album};
    for (DemoAlbum album : o.more_albums) {
      album.user = o.album.user;
      all.push_back(std::move(album));
    }
    return all;
  }
  // What the request log adds to an entry of `album`'s.
  std::string Tag(const DemoAlbum& album) const {
    return albums.size() > 1 ? " album=" + album.slug : "";
  }

  DemoSiteOptions options;
  const std::vector<DemoAlbum> albums;  // the first is options.album
  std::unique_ptr<httplib::Server> site_server;
  httplib::Server& site;
  httplib::Server images;
  std::thread site_thread;
  std::thread image_thread;
  int port = -1;
  int image_port = -1;
  bool running = false;
  FaultPlan fault_plan;

  mutable std::mutex mutex;  // guards everything below
  DemoSiteStats stats;
  std::vector<std::string> log;
  std::map<std::string, Session> sessions;  // by cookie value
  int sessions_made = 0;
  std::mt19937_64 random{std::random_device{}()};
  // By album, photo and whether it is the thumbnail.
  std::map<std::tuple<size_t, int, bool>, std::shared_ptr<const std::string>> image_cache;

  std::set<std::pair<bool, int>> connections;  // (image host, client port)

  void NoteConnection(const httplib::Request& req) {
    const bool image_host = req.local_port == image_port;
    std::lock_guard lock(mutex);
    if (connections.insert({image_host, req.remote_port}).second)
      ++(image_host ? stats.image_connections : stats.site_connections);
  }

  std::string ImageRoot() const { return "http://127.0.0.1:" + std::to_string(image_port); }

  void NoteSent(const httplib::Request& req, const httplib::Response& res) {
    if (req.path == "/__stats" || req.path == "/__log") return;
    std::lock_guard lock(mutex);
    stats.bytes_sent += int64_t(res.body.size());
  }

  void RecordLocked(std::string entry) { log.push_back(std::move(entry)); }
  void Record(std::string entry) {
    std::lock_guard lock(mutex);
    RecordLocked(std::move(entry));
  }

  // The login of a live session named by the request's cookie, or empty.
  std::string SignedInAs(const httplib::Request& req) {
    std::string token = CookieValue(req.get_header_value("Cookie"), kSessionCookie);
    std::lock_guard lock(mutex);
    auto it = sessions.find(token);
    return it == sessions.end() ? "" : it->second.login;
  }

  void SendHtml(const httplib::Request& req, httplib::Response& res, std::string html,
                int status = 200) {
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

  void NotFound(const httplib::Request& req, httplib::Response& res, std::string_view kind) {
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

  // Answers the fault status when the plan says this resource fails now.
  bool Faulty(httplib::Response& res, FaultKind kind, int id, std::string_view what) {
    if (!fault_plan.FailsNow(kind, id)) return false;
    const DemoFaults& f = fault_plan.Faults();
    {
      std::lock_guard lock(mutex);
      ++stats.faults;
      RecordLocked("fault " + std::string(what) + " status=" + std::to_string(f.status));
    }
    if (f.silent) {
      Stall("stalled " + std::string(what));
      res.status = 503;
      return true;
    }
    res.status = f.status;
    if (f.retry_after >= 0) res.set_header("Retry-After", std::to_string(f.retry_after));
    res.set_content("fault on purpose\n", "text/plain");
    return true;
  }

  // Runs before routing on both hosts: a request past the stall point is
  // held until the site stops.
  bool Stalls(const httplib::Request& req) {
    if (req.path == "/__stats" || req.path == "/__log" || !fault_plan.CountAndStalls()) return false;
    Stall("stalled " + req.method + " " + req.target);
    return true;
  }

  // Holds the request's server thread until the site stops.
  void Stall(std::string entry) {
    {
      std::lock_guard lock(mutex);
      ++stats.stalled;
      RecordLocked(std::move(entry));
    }
    fault_plan.StallUntilReleased();
  }

  // The markup faults of an album page.
  void AddPageFaults(std::string& html, const DemoAlbum& album, int page) const {
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

  void SignIn(const httplib::Request& req, httplib::Response& res) {
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

  void AlbumPage(const httplib::Request& req, httplib::Response& res, const DemoAlbum& album) {
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

  void PhotoPage(const httplib::Request& req, httplib::Response& res, const DemoAlbum& album,
                 int id) {
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

  void HandleSite(const httplib::Request& req, httplib::Response& res) {
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

  // The album (by index), photo and kind that an image-host path names.
  std::optional<std::tuple<size_t, int, bool>> ImageOf(std::string_view path) const {
    for (size_t i = 0; i < albums.size(); ++i) {
      for (bool thumb : {false, true}) {
        const DemoAlbum& album = albums[i];
        std::string prefix =
            std::string(thumb ? "/thumb/" : "/photo/") + album.user + "/" + album.slug + "/";
        if (!path.starts_with(prefix) || !path.ends_with(".jpg")) continue;
        auto id = ParseId(path.substr(prefix.size(), path.size() - prefix.size() - 4));
        if (id && album.HasPhoto(*id)) return std::tuple(i, *id, thumb);
      }
    }
    return std::nullopt;
  }

  void HandleImage(const httplib::Request& req, httplib::Response& res) {
    t_handled = true;
    const auto image = ImageOf(req.path);
    if (!image) {
      {
        std::lock_guard lock(mutex);
        ++stats.other_requests;
        RecordLocked("other image-host " + req.method + " " + req.target);
      }
      res.status = 404;
      return res.set_content("Not Found\n", "text/plain");
    }
    const auto [index, id, thumb] = *image;
    const std::string tag = Tag(albums[index]);
    if (!thumb && Faulty(res, FaultKind::kImage, id, "image id=" + std::to_string(id) + tag)) return;
    if (!thumb && options.faults.html_images.count(id)) {
      {
        std::lock_guard lock(mutex);
        ++stats.faults;
        RecordLocked("html image id=" + std::to_string(id) + tag);
      }
      return res.set_content(NotFoundHtml(albums[index]), kHtml);
    }
    auto bytes = Image(index, id, thumb);
    {
      std::lock_guard lock(mutex);
      ++(thumb ? stats.thumbs : stats.images);
      RecordLocked(std::string(thumb ? "thumb" : "image") + " id=" + std::to_string(id) +
                   " bytes=" + std::to_string(bytes->size()) + tag);
    }
    res.set_content(*bytes, "image/jpeg");
  }

  httplib::Server::HandlerResponse RecordUnhandled(const httplib::Request& req,
                                                   const httplib::Response& res) {
    if (!t_handled) {
      std::lock_guard lock(mutex);
      ++stats.other_requests;
      RecordLocked("other " + req.method + " " + req.target + " status=" +
                   std::to_string(res.status));
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  std::shared_ptr<const std::string> Image(size_t album, int id, bool thumb) {
    auto key = std::tuple(album, id, thumb);
    {
      std::lock_guard lock(mutex);
      auto it = image_cache.find(key);
      if (it != image_cache.end()) return it->second;
    }
    uint32_t seed = static_cast<uint32_t>(id) * 2246822519u ^ Fnv1a(albums.at(album).slug);
    auto bytes = std::make_shared<const std::string>(
        thumb ? MakeDemoJpeg(seed, kThumbWidth, kThumbHeight)
              : MakeDemoJpeg(seed, kFullWidth, kFullHeight));
    std::lock_guard lock(mutex);
    if (image_cache.size() >= kImageCacheLimit) image_cache.clear();
    image_cache.emplace(key, bytes);
    return bytes;
  }

  std::vector<std::string> Log() const {
    std::lock_guard lock(mutex);
    return log;
  }

  std::string StatsJson() const {
    DemoSiteStats s;
    {
      std::lock_guard lock(mutex);
      s = stats;
    }
    std::string out = "{";
    auto add = [&out](const char* name, int64_t value) {
      if (out.size() > 1) out += ", ";
      out += "\"" + std::string(name) + "\": " + std::to_string(value);
    };
    add("sign_ins", s.sign_ins);
    add("refused_sign_ins", s.refused_sign_ins);
    add("album_pages", s.album_pages);
    add("album_pages_with_photos", s.album_pages_with_photos);
    add("photo_pages", s.photo_pages);
    add("images", s.images);
    add("thumbs", s.thumbs);
    add("expired_sessions", s.expired_sessions);
    add("decoy_requests", s.decoy_requests);
    add("other_requests", s.other_requests);
    add("faults", s.faults);
    add("stalled", s.stalled);
    add("site_connections", s.site_connections);
    add("image_connections", s.image_connections);
    add("bytes_sent", s.bytes_sent);
    return out + "}\n";
  }
};

DemoSite::DemoSite(DemoSiteOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

DemoSite::~DemoSite() { Stop(); }

void DemoSite::Start() {
  Impl& m = *impl_;
  if (m.running) return;
  if (!m.site.is_valid())
    throw std::runtime_error("cannot serve https with " + m.options.tls_cert_file + " and " +
                             m.options.tls_key_file);
  using httplib::Request;
  using httplib::Response;
  httplib::Server::HandlerWithResponse record_unhandled = [&m](const Request& req, Response& res) {
    return m.RecordUnhandled(req, res);
  };
  // Called once the whole reply is written.
  auto end_of_request = [&m](const Request& req, const Response& res) {
    t_handled = false;
    m.NoteSent(req, res);
  };
  const auto latency = std::chrono::milliseconds(m.options.latency_ms);
  httplib::Server::HandlerWithResponse start_of_request = [&m, latency](const Request& req,
                                                                          Response& res) {
    t_handled = false;
    m.NoteConnection(req);
    if (m.Stalls(req)) {
      // Released only as the site stops; nobody waits for this answer.
      t_handled = true;
      res.status = 503;
      return httplib::Server::HandlerResponse::Handled;
    }
    if (latency.count() > 0) std::this_thread::sleep_for(latency);
    return httplib::Server::HandlerResponse::Unhandled;
  };
  auto site = [&m](const Request& req, Response& res) { m.HandleSite(req, res); };
  // Head and body leave in separate writes; without no-delay each reply
  // would wait for the client's delayed acknowledgement.
  m.site.set_tcp_nodelay(true);
  m.images.set_tcp_nodelay(true);
  // A parallel harvest keeps one connection per job open on each host, and
  // each kept-alive connection holds a server thread.
  m.site.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  m.images.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  m.site.set_keep_alive_max_count(100);
  m.site.Get(".*", site).Post(".*", site);
  m.site.set_pre_routing_handler(start_of_request);
  m.site.set_error_handler(record_unhandled).set_logger(end_of_request);
  m.images.set_keep_alive_max_count(100);
  m.images.Get(".*", [&m](const Request& req, Response& res) { m.HandleImage(req, res); });
  m.images.set_pre_routing_handler(start_of_request);
  m.images.set_error_handler(record_unhandled).set_logger(end_of_request);

  auto bind = [](httplib::Server& server, int wanted) {
    if (wanted == 0) return server.bind_to_any_port("127.0.0.1");
    return server.bind_to_port("127.0.0.1", wanted) ? wanted : -1;
  };
  m.port = bind(m.site, m.options.port);
  if (m.port < 0)
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(m.options.port));
  m.image_port = bind(m.images, m.options.image_port);
  if (m.image_port < 0)
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(m.options.image_port));

  m.site_thread = std::thread([&m] { m.site.listen_after_bind(); });
  m.image_thread = std::thread([&m] { m.images.listen_after_bind(); });
  m.running = true;
  // stop() only works on a server that has entered its accept loop.
  for (int i = 0; i < 5000 && !(m.site.is_running() && m.images.is_running()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void DemoSite::Stop() {
  Impl& m = *impl_;
  if (!m.running) return;
  // Stalled requests hold server threads, which stop() waits for.
  m.fault_plan.Release();
  m.site.stop();
  m.images.stop();
  m.site_thread.join();
  m.image_thread.join();
  m.running = false;
}

void DemoSite::StartOver() {
  Impl& m = *impl_;
  m.fault_plan.StartOver();
  std::lock_guard lock(m.mutex);
  m.stats = {};
  m.log.clear();
  m.sessions.clear();
  m.sessions_made = 0;
  m.connections.clear();
}

int DemoSite::Port() const { return impl_->port; }
int DemoSite::ImagePort() const { return impl_->image_port; }
const DemoSiteOptions& DemoSite::Options() const { return impl_->options; }

std::string DemoSite::SiteRoot() const {
  return (impl_->Tls() ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(Port());
}
std::string DemoSite::ImageRoot() const { return impl_->ImageRoot(); }
std::string DemoSite::ImageHostMarker() const {
  return "127.0.0.1:" + std::to_string(ImagePort()) + "/photo";
}
std::string DemoSite::TitleSuffix() const { return impl_->options.album.TitleSuffix(); }
std::string DemoSite::AlbumUrl() const { return SiteRoot() + impl_->options.album.AlbumPath(); }
std::vector<std::string> DemoSite::AlbumUrls() const {
  std::vector<std::string> urls;
  for (const DemoAlbum& album : impl_->albums) urls.push_back(SiteRoot() + album.AlbumPath());
  return urls;
}
std::string DemoSite::ImageUrl(int id) const {
  return ImageRoot() + impl_->options.album.ImagePath(id);
}

DemoSiteStats DemoSite::Stats() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->stats;
}

std::string DemoSite::StatsJson() const { return impl_->StatsJson(); }

std::vector<std::string> DemoSite::RequestLog() const { return impl_->Log(); }

std::string DemoSite::ImageBytes(int id, size_t album) { return *impl_->Image(album, id, false); }

}  // namespace ah
