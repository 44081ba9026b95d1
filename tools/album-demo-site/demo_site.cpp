#include "tools/album-demo-site/demo_site.h"

#include <chrono>
#include <stdexcept>

#include "tools/album-demo-site/demo_site_impl.h"

namespace ah {

namespace {

constexpr size_t kServerThreads = 32;

}  // namespace

std::unique_ptr<httplib::Server> DemoSite::Impl::NewSiteServer(const DemoSiteOptions& o) {
  if (o.tls_cert_file.empty() || o.tls_key_file.empty())
    return std::make_unique<httplib::Server>();
  return std::make_unique<httplib::SSLServer>(o.tls_cert_file.c_str(), o.tls_key_file.c_str());
}

std::vector<DemoAlbum> DemoSite::Impl::AllAlbums(const DemoSiteOptions& o) {
  std::vector<DemoAlbum> all = {o.album};
  for (DemoAlbum album : o.more_albums) {
    album.user = o.album.user;
    all.push_back(std::move(album));
  }
  return all;
}

void DemoSite::Impl::NoteConnection(const httplib::Request& req) {
  const bool image_host = req.local_port == image_port;
  std::lock_guard lock(mutex);
  if (connections.insert({image_host, req.remote_port}).second)
    ++(image_host ? stats.image_connections : stats.site_connections);
}

void DemoSite::Impl::NoteSent(const httplib::Request& req, const httplib::Response& res) {
  if (req.path == "/__stats" || req.path == "/__log") return;
  std::lock_guard lock(mutex);
  stats.bytes_sent += int64_t(res.body.size());
}

bool DemoSite::Impl::Faulty(httplib::Response& res, FaultKind kind, int id,
                            std::string_view what) {
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

bool DemoSite::Impl::Stalls(const httplib::Request& req) {
  if (req.path == "/__stats" || req.path == "/__log" || !fault_plan.CountAndStalls()) return false;
  Stall("stalled " + req.method + " " + req.target);
  return true;
}

void DemoSite::Impl::Stall(std::string entry) {
  {
    std::lock_guard lock(mutex);
    ++stats.stalled;
    RecordLocked(std::move(entry));
  }
  fault_plan.StallUntilReleased();
}

httplib::Server::HandlerResponse DemoSite::Impl::RecordUnhandled(const httplib::Request& req,
                                                                 const httplib::Response& res) {
  if (!t_handled) {
    std::lock_guard lock(mutex);
    ++stats.other_requests;
    RecordLocked("other " + req.method + " " + req.target + " status=" +
                 std::to_string(res.status));
  }
  return httplib::Server::HandlerResponse::Unhandled;
}

std::string DemoSite::Impl::StatsJson() const {
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

void DemoSite::Impl::SetUpServers() {
  using httplib::Request;
  using httplib::Response;
  httplib::Server::HandlerWithResponse record_unhandled = [this](const Request& req,
                                                                 Response& res) {
    return RecordUnhandled(req, res);
  };
  // Called once the whole reply is written.
  auto end_of_request = [this](const Request& req, const Response& res) {
    t_handled = false;
    NoteSent(req, res);
  };
  const auto latency = std::chrono::milliseconds(options.latency_ms);
  httplib::Server::HandlerWithResponse start_of_request = [this, latency](const Request& req,
                                                                          Response& res) {
    t_handled = false;
    NoteConnection(req);
    if (Stalls(req)) {
      // Released only as the site stops; nobody waits for this answer.
      t_handled = true;
      res.status = 503;
      return httplib::Server::HandlerResponse::Handled;
    }
    if (latency.count() > 0) std::this_thread::sleep_for(latency);
    return httplib::Server::HandlerResponse::Unhandled;
  };
  auto site_handler = [this](const Request& req, Response& res) { HandleSite(req, res); };
  // Head and body leave in separate writes; without no-delay each reply
  // would wait for the client's delayed acknowledgement.
  site.set_tcp_nodelay(true);
  images.set_tcp_nodelay(true);
  // A parallel harvest keeps one connection per job open on each host, and
  // each kept-alive connection holds a server thread.
  site.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  images.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  site.set_keep_alive_max_count(100);
  site.Get(".*", site_handler).Post(".*", site_handler);
  site.set_pre_routing_handler(start_of_request);
  site.set_error_handler(record_unhandled).set_logger(end_of_request);
  images.set_keep_alive_max_count(100);
  images.Get(".*", [this](const Request& req, Response& res) { HandleImage(req, res); });
  images.set_pre_routing_handler(start_of_request);
  images.set_error_handler(record_unhandled).set_logger(end_of_request);
}

DemoSite::DemoSite(DemoSiteOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

DemoSite::~DemoSite() { Stop(); }

void DemoSite::Start() {
  Impl& m = *impl_;
  if (m.running) return;
  if (!m.site.is_valid())
    throw std::runtime_error("cannot serve https with " + m.options.tls_cert_file + " and " +
                             m.options.tls_key_file);
  m.SetUpServers();

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
