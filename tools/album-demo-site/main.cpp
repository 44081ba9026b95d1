// album-demo-site: serves generated photo albums on 127.0.0.1 until it is
// stopped with SIGTERM or SIGINT.

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "tools/album-demo-site/demo_site.h"

namespace {

constexpr const char* kUsage =
    "usage: album-demo-site [options]\n"
    "Serves a photo album on 127.0.0.1 the way the photo site serves it to\n"
    "album-harvest, until stopped with SIGTERM or SIGINT.\n"
    "\n"
    "  --albums N            albums of the user, each with its own title and photos\n"
    "                        (default 1)\n"
    "  --pages N             album pages (default 3)\n"
    "  --photos-per-page K   photos on every page (default 4)\n"
    "  --port P              site port, 0 = any free port (default 0)\n"
    "  --image-port P        image host port, 0 = any free port (default 0)\n"
    "  --chunked             send page bodies with chunked transfer coding\n"
    "  --tls CERT KEY        serve the site over https with these PEM files\n"
    "  --session-requests R  a session ends after R album page requests (default 0: never)\n"
    "  --latency-ms MS       every response of both hosts waits MS milliseconds first\n"
    "  --fail-images LIST    these photo numbers' full-size images answer the fault status;\n"
    "                        LIST is numbers and ranges, e.g. 2,5-7\n"
    "  --fail-pages LIST     these album pages answer the fault status\n"
    "  --fail-photo-pages LIST  these photo numbers' photo pages answer the fault status\n"
    "  --fail-status CODE    the fault status (default 500)\n"
    "  --fail-times K        each failing resource fails K times, then works (default 0: always)\n"
    "  --retry-after S       failing answers carry Retry-After: S\n"
    "  --fail-silent         failing resources are accepted and never answered instead\n"
    "  --html-images LIST    these photo numbers' full-size images are an HTML page sent\n"
    "                        with 200\n"
    "  --endless-pages       every album page links to the next; pages past the last\n"
    "                        repeat the last one\n"
    "  --nul-in-pages        album pages carry a NUL byte in an HTML comment\n"
    "  --foreign-image-links photo pages show, before the image, an address on another\n"
    "                        host whose query holds the image host's marker\n"
    "  --stall-after N       after N requests to the two hosts, accept every request and\n"
    "                        never answer it\n"
    "  --login TEXT          accepted login (default demo)\n"
    "  --password TEXT       accepted password (default \"open sesame\")\n"
    "  --domain TEXT         accepted mail domain (default mail.example)\n"
    "  --help                this text\n"
    "\n"
    "Once both ports listen it prints two lines on stdout: shell assignments\n"
    "SITE_ROOT=... TITLE_SUFFIX=... IMAGE_HOST_MARKER=... ALBUM_URL=... STATS_URL=...\n"
    "(with several albums also ALBUM_URLS='URL URL ...', ALBUM_URL being the first)\n"
    "and the album-harvest command line that harvests the albums.\n"
    "Other credentials sign in to nothing: album pages then show no photos.\n"
    "\n"
    "What the site saw:\n"
    "  GET SITE_ROOT/__stats  JSON counters: sign_ins, refused_sign_ins, album_pages,\n"
    "                         album_pages_with_photos, photo_pages, images, thumbs,\n"
    "                         expired_sessions, decoy_requests, other_requests, faults,\n"
    "                         stalled, site_connections, image_connections (client\n"
    "                         ports seen: a client keeping its connections alive opens few),\n"
    "                         bytes_sent (of the bodies sent whole with a length)\n"
    "  GET SITE_ROOT/__log    one line per request in order, e.g.\n"
    "                         \"sign-in ok login=demo session=s1\",\n"
    "                         \"album page=2 session=s1 photos=yes\", \"photo id=5\",\n"
    "                         \"image id=5 bytes=41234\", \"decoy GET /...\"\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "album-demo-site: %s\n%s", message.c_str(), kUsage);
  return 2;
}

std::optional<int> ReadCount(std::string_view text, int min, int max) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
    return std::nullopt;
  return value;
}

// Reads the value of flag `arg` into `options` (`albums` for --albums):
// false when the value is not one the flag takes, nothing when there is no
// such flag.
std::optional<bool> ReadValue(std::string_view arg, std::string_view value,
                              ah::DemoSiteOptions& options, int& albums) {
  auto count = [&](int min, int max, int& into) {
    auto n = ReadCount(value, min, max);
    if (n) into = *n;
    return n.has_value();
  };
  if (arg == "--albums") return count(1, 1000, albums);
  if (arg == "--pages") return count(1, 100000, options.album.pages);
  if (arg == "--photos-per-page") return count(0, 1000, options.album.photos_per_page);
  if (arg == "--port") return count(0, 65535, options.port);
  if (arg == "--image-port") return count(0, 65535, options.image_port);
  if (arg == "--session-requests") return count(0, 1000000000, options.session_requests);
  if (arg == "--latency-ms") return count(0, 60000, options.latency_ms);
  ah::DemoFaults& f = options.faults;
  std::set<int>* list = arg == "--fail-images"        ? &f.images
                        : arg == "--fail-pages"       ? &f.album_pages
                        : arg == "--fail-photo-pages" ? &f.photo_pages
                        : arg == "--html-images"      ? &f.html_images
                                                      : nullptr;
  if (list) {
    auto numbers = ah::ParseNumberList(value);
    if (numbers) *list = *numbers;
    return numbers.has_value();
  }
  if (arg == "--fail-status") return count(100, 599, f.status);
  if (arg == "--fail-times") return count(0, 1000000, f.times);
  if (arg == "--retry-after") return count(0, 86400, f.retry_after);
  if (arg == "--stall-after") return count(0, 1000000000, f.stall_after);
  std::string* text = arg == "--login"      ? &options.login
                      : arg == "--password" ? &options.password
                      : arg == "--domain"   ? &options.domain
                                            : nullptr;
  if (!text) return std::nullopt;
  *text = value;
  return true;
}

// The options the arguments give; an exit code when the program is to end.
std::optional<int> ReadArguments(int argc, char** argv, ah::DemoSiteOptions& options) {
  int albums = 1;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    ah::DemoFaults& f = options.faults;
    bool* const toggle = arg == "--chunked"               ? &options.chunked
                         : arg == "--fail-silent"         ? &f.silent
                         : arg == "--endless-pages"       ? &f.endless_pages
                         : arg == "--nul-in-pages"        ? &f.nul_in_pages
                         : arg == "--foreign-image-links" ? &f.foreign_image_links
                                                          : nullptr;
    if (toggle) {
      *toggle = true;
      continue;
    }
    if (arg == "--tls") {
      if (i + 2 >= argc) return UsageError("--tls needs a certificate and a key file");
      options.tls_cert_file = argv[++i];
      options.tls_key_file = argv[++i];
      continue;
    }
    if (i + 1 >= argc) return UsageError("missing value after " + std::string(arg));
    std::string_view value = argv[++i];
    std::optional<bool> ok = ReadValue(arg, value, options, albums);
    if (!ok) return UsageError("unknown option " + std::string(arg));
    if (!*ok) return UsageError("bad value for " + std::string(arg) + ": " + std::string(value));
  }
  // The albums belong to the accepted user, as the sign-in's return_url expects.
  options.album.user = options.login;
  for (int n = 2; n <= albums; ++n) options.more_albums.push_back(ah::NthDemoAlbum(options.album, n));
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  ah::DemoSiteOptions options;
  if (std::optional<int> code = ReadArguments(argc, argv, options)) return *code;

  // Block the stop signals before any server thread exists, so that only
  // sigwait below receives them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  ah::DemoSite site(options);
  try {
    site.Start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "album-demo-site: %s\n", e.what());
    return 1;
  }
  std::printf("%s\n%s\n", site.Banner().c_str(), site.HarvestCommand().c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  site.Stop();
  return 0;
}
