#pragma once
// The demo photo site: a site server and an image host, both on 127.0.0.1,
// serving generated albums of one user the way the real site serves it to the
// harvester (sign-in form post with a session cookie, album pages, photo
// pages, full-size images). It records sign-ins and requests so tests can
// assert on what a harvest did.
//
// Site paths:   /login/ (GET form, POST sign-in), /users/<user>/,
//               /users/<user>/<album>/?page=N, /users/<user>/<album>/photo/<id>/,
//               /__stats (JSON counters), /__log (one line per request).
// Image host:   /photo/<user>/<album>/<id>.jpg, /thumb/<user>/<album>/<id>.jpg;
//               no cookie needed.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/album-demo-site/demo_album.h"
#include "tools/album-demo-site/fault_plan.h"

namespace ah {

struct DemoSiteOptions {
  DemoAlbum album;
  // The user's other albums (their user is the first one's). With them, the
  // request log names each entry's album: "photo id=5 album=SLUG".
  std::vector<DemoAlbum> more_albums;
  int port = 0;        // 0: any free port
  int image_port = 0;  // 0: any free port
  bool chunked = false;  // HTML bodies sent with chunked transfer coding
  // A session ends after this many album page requests (0: never), so a
  // long harvest must sign in again to keep seeing photos.
  int session_requests = 0;
  // Every response of both hosts waits this long first, standing in for a
  // real network (0: none).
  int latency_ms = 0;
  // Failing resources and a stalling site (none by default).
  DemoFaults faults;
  // The accepted credentials; any other sign-in is refused.
  std::string login = "demo";
  std::string password = "open sesame";
  std::string domain = "mail.example";
  // PEM files: when both are set the site (not the image host) speaks https.
  std::string tls_cert_file;
  std::string tls_key_file;
};

struct DemoSiteStats {
  int sign_ins = 0;          // accepted posts to /login/
  int refused_sign_ins = 0;  // posts with other credentials
  int album_pages = 0;       // album page requests, in range
  int album_pages_with_photos = 0;
  int photo_pages = 0;
  int images = 0;  // full-size images served
  int thumbs = 0;
  int expired_sessions = 0;
  int decoy_requests = 0;  // anything under the slideshow path
  int other_requests = 0;  // paths the site does not know (answered 404)
  int faults = 0;          // requests answered with the fault status
  int stalled = 0;         // requests accepted and never answered
  // Connections that brought requests, by the client's port: a client
  // that keeps its connections alive opens few.
  int site_connections = 0;
  int image_connections = 0;
  // The bodies of the replies sent whole with a length (those of /__stats
  // and /__log left out), counted as their last byte leaves.
  int64_t bytes_sent = 0;
};

class DemoSite {
 public:
  explicit DemoSite(DemoSiteOptions options);
  ~DemoSite();  // stops the servers
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  // Binds both ports and serves on background threads until Stop. Throws
  // std::runtime_error when a port cannot be bound.
  void Start();
  // Idempotent; waits for the server threads.
  void Stop();
  // Serves on, on the same ports, as if just started: the stats, the
  // request log, the sessions and the faults already answered start over.
  void StartOver();

  int Port() const;
  int ImagePort() const;
  const DemoSiteOptions& Options() const;

  std::string SiteRoot() const;         // "http[s]://127.0.0.1:PORT", no trailing slash
  std::string ImageRoot() const;        // the image host's root
  std::string ImageHostMarker() const;  // "127.0.0.1:IMAGEPORT/photo"
  std::string TitleSuffix() const;
  std::string AlbumUrl() const;         // SiteRoot + the first album's path (ends in "/")
  std::vector<std::string> AlbumUrls() const;  // of every album, the first first
  std::string ImageUrl(int id) const;

  // The album-harvest command line that harvests this site's albums,
  // shell-quoted.
  std::string HarvestCommand(std::string_view program = "album-harvest") const;
  // One line of shell assignments: SITE_ROOT, TITLE_SUFFIX,
  // IMAGE_HOST_MARKER, ALBUM_URL, STATS_URL, and with several albums
  // ALBUM_URLS, their addresses with a space between them.
  std::string Banner() const;

  DemoSiteStats Stats() const;
  std::string StatsJson() const;
  // One entry per request, in the order they were answered, e.g.
  // "sign-in ok login=demo session=s1", "album page=2 session=s1 photos=yes",
  // "photo id=5", "image id=5 bytes=41234", "decoy GET /users/...",
  // "fault image id=5 status=500", "stalled GET /users/...".
  std::vector<std::string> RequestLog() const;

  // The bytes the image host serves for photo id of album `album` (0 is
  // the first; the same on every call).
  std::string ImageBytes(int id, size_t album = 0);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ah
