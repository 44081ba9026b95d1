#pragma once
// The inside of DemoSite, shared by the files that make it up: the servers
// and their set-up (demo_site.cpp), the site host's pages
// (demo_site_pages.cpp) and the image host (demo_site_images.cpp).

#include <httplib.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "tools/album-demo-site/demo_site.h"

namespace ah {

struct DemoSite::Impl {
  struct Session {
    std::string name;  // "s1", "s2", ... for the log
    std::string login;
    int page_requests = 0;
  };

  static constexpr const char* kSessionCookie = "ph_session";
  static constexpr const char* kHtml = "text/html; charset=utf-8";

  // Whether the handlers of this thread's current request ran; requests that
  // the server library answered itself (malformed ones) are recorded as others
  // by the error hook, which runs before the reply is sent, so a client that
  // has its reply sees the count.
  static inline thread_local bool t_handled = false;

  explicit Impl(DemoSiteOptions o)
      : options(std::move(o)),
        albums(AllAlbums(options)),
        site_server(NewSiteServer(options)),
        site(*site_server),
        fault_plan(options.faults) {}

  static std::unique_ptr<httplib::Server> NewSiteServer(const DemoSiteOptions& o);
  bool Tls() const { return !options.tls_cert_file.empty() && !options.tls_key_file.empty(); }

  static std::vector<DemoAlbum> AllAlbums(const DemoSiteOptions& o);
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

  // Both hosts' hooks and routes, before they bind.
  void SetUpServers();
  void NoteConnection(const httplib::Request& req);
  std::string ImageRoot() const { return "http://127.0.0.1:" + std::to_string(image_port); }
  void NoteSent(const httplib::Request& req, const httplib::Response& res);

  void RecordLocked(std::string entry) { log.push_back(std::move(entry)); }
  void Record(std::string entry) {
    std::lock_guard lock(mutex);
    RecordLocked(std::move(entry));
  }

  // Answers the fault status when the plan says this resource fails now.
  bool Faulty(httplib::Response& res, FaultKind kind, int id, std::string_view what);
  // Runs before routing on both hosts: a request past the stall point is
  // held until the site stops.
  bool Stalls(const httplib::Request& req);
  // Holds the request's server thread until the site stops.
  void Stall(std::string entry);
  httplib::Server::HandlerResponse RecordUnhandled(const httplib::Request& req,
                                                   const httplib::Response& res);

  // The site host.
  static std::optional<int> ParseId(std::string_view text);
  // The login of a live session named by the request's cookie, or empty.
  std::string SignedInAs(const httplib::Request& req);
  void SendHtml(const httplib::Request& req, httplib::Response& res, std::string html,
                int status = 200);
  void NotFound(const httplib::Request& req, httplib::Response& res, std::string_view kind);
  // The markup faults of an album page.
  void AddPageFaults(std::string& html, const DemoAlbum& album, int page) const;
  void SignIn(const httplib::Request& req, httplib::Response& res);
  void AlbumPage(const httplib::Request& req, httplib::Response& res, const DemoAlbum& album);
  void PhotoPage(const httplib::Request& req, httplib::Response& res, const DemoAlbum& album,
                 int id);
  void HandleSite(const httplib::Request& req, httplib::Response& res);

  // The image host.
  // The album (by index), photo and kind that an image-host path names.
  std::optional<std::tuple<size_t, int, bool>> ImageOf(std::string_view path) const;
  void HandleImage(const httplib::Request& req, httplib::Response& res);
  std::shared_ptr<const std::string> Image(size_t album, int id, bool thumb);

  std::vector<std::string> Log() const {
    std::lock_guard lock(mutex);
    return log;
  }
  std::string StatsJson() const;
};

}  // namespace ah
