#include "app/cli/harvest_command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "app/site_profile.h"
#include "framework/sysutils.h"
#include "platform/proxy_choice.h"

#ifndef AH_VERSION
#define AH_VERSION "unknown"
#endif

namespace ah {

const char* const kHarvestUsage =
    "usage: album-harvest [flags] URL\n"
    "Copies a photo album to the local disk: signs in, walks the album page by page and\n"
    "saves every full-size image into a folder named after the album, inside DIR\n"
    "(default: the current folder). The log goes to stdout.\n"
    "\n"
    "  URL, --album URL         the album address, as typed into the window\n"
    "  --login, --domain TEXT   the account (default: the window's default texts)\n"
    "  --password TEXT          default: $ALBUM_HARVEST_PASSWORD, else the window's text\n"
    "  --site-root URL          the site (default: the built-in site for its own albums,\n"
    "                           else the album address's scheme, host and port)\n"
    "  --title-suffix TEXT      what the site appends to page titles\n"
    "  --image-host-marker TEXT the image host's name followed by /photo\n"
    "  --output-dir DIR         where album folders are made (created when missing)\n"
    "  --retries N              retries after a transient failure (default 2, so 3 attempts)\n"
    "  --timeout SECONDS        connect and idle time-out of pages and images\n"
    "                           (default: 30 to connect, 60 without a byte)\n"
    "  --proxy HOST:PORT        HTTP proxy for pages and images alike (default: what\n"
    "                           http_proxy, https_proxy, all_proxy and no_proxy say)\n"
    "  --jobs N                 photo pages and images fetched at once, 1 to 64 (default 4);\n"
    "                           the files, names and log are the same for every N\n"
    "  --force                  download every image again, even those already on disk\n"
    "  --quiet                  print only errors and the summary\n"
    "  --version                the version\n"
    "\n"
    "A run into a folder that holds an earlier run's album.json keeps the images that\n"
    "are still there intact (\"(уже есть)\" in the log) and downloads only the rest.\n"
    "Each album folder gets album.json, the record of every photo, and index.html, a\n"
    "gallery page to open in any browser. On a terminal a progress line is kept on\n"
    "stderr.\n"
    "\n"
    "Exit status: 0 when every album page was read and every photo found was saved\n"
    "(at least one), 3 when the run ended but something is missing, 1 when it could not\n"
    "run, 2 on a usage error, 130 when interrupted (SIGINT, SIGTERM).\n";

const char* const kHarvestVersion = "album-harvest " AH_VERSION;

namespace {

constexpr int kMostRetries = 100;
constexpr double kLongestTimeoutSeconds = 86400;

struct Flag {
  std::string_view name;
  std::optional<std::string> HarvestCommandLine::*field;
};

bool HasWebScheme(std::string_view url) {
  return url.starts_with("http://") || url.starts_with("https://");
}

// Scheme, "://", host and port of an address.
std::string RootOf(std::string_view url) {
  size_t host = url.find("://") + 3;
  return std::string(url.substr(0, url.find_first_of("/?#", host)));
}

std::optional<int> ReadTimeoutMs(std::string_view text) {
  double seconds = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size() || !(seconds > 0) ||
      seconds > kLongestTimeoutSeconds)
    return std::nullopt;
  return std::max(1, int(std::lround(seconds * 1000)));
}

}  // namespace

std::string SiteRootFor(const HarvestCommandLine& line) {
  if (line.site_root) return *line.site_root;
  const std::string built_in = DefaultSiteProfile().SiteRoot;
  if (RootOf(line.album) == built_in) return built_in;
  return RootOf(line.album);
}

HarvestCommandParse ParseHarvestCommandLine(const std::vector<std::string>& args,
                                            const char* env_password) {
  static const Flag kFlags[] = {
      {"--login", &HarvestCommandLine::login},
      {"--password", &HarvestCommandLine::password},
      {"--domain", &HarvestCommandLine::domain},
      {"--site-root", &HarvestCommandLine::site_root},
      {"--title-suffix", &HarvestCommandLine::title_suffix},
      {"--image-host-marker", &HarvestCommandLine::image_host_marker},
      {"--output-dir", &HarvestCommandLine::output_dir},
      {"--proxy", &HarvestCommandLine::proxy},
  };
  HarvestCommandParse result;
  HarvestCommandLine& line = result.line;
  std::optional<std::string> album, retries, timeout, jobs;
  auto fail = [&result](std::string error) {
    result.error = std::move(error);
    return result;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      line.help = true;
      return result;
    }
    if (arg == "--version") {
      line.version = true;
      return result;
    }
    if (arg == "--force" || arg == "--quiet") {
      (arg == "--force" ? line.force : line.quiet) = true;
      continue;
    }
    if (!arg.starts_with("--")) {
      if (album) return fail("more than one album address: " + std::string(arg));
      album = std::string(arg);
      continue;
    }
    std::string_view name = arg.substr(0, arg.find('='));
    std::optional<std::string>* target = name == "--album"     ? &album
                                         : name == "--retries" ? &retries
                                         : name == "--timeout" ? &timeout
                                         : name == "--jobs"    ? &jobs
                                                               : nullptr;
    for (const Flag& f : kFlags)
      if (name == f.name) target = &(line.*f.field);
    if (!target) return fail("unknown argument: " + std::string(arg));
    if (name == "--album" && album) return fail("more than one album address");
    if (name.size() < arg.size()) {
      *target = std::string(arg.substr(name.size() + 1));
    } else if (i + 1 < args.size()) {
      *target = args[++i];
    } else {
      return fail("missing value after " + std::string(arg));
    }
  }
  if (!album) return fail("the album address is required");
  if (!HasWebScheme(*album)) return fail("the album address must begin with http:// or https://");
  line.album = *album;
  if (retries && !(line.retries = ReadDecimal(*retries, 0, kMostRetries)))
    return fail("--retries takes a whole number from 0 to " + std::to_string(kMostRetries));
  if (timeout && !(line.timeout_ms = ReadTimeoutMs(*timeout)))
    return fail("--timeout takes a number of seconds above 0");
  if (line.proxy && !ParseProxyAddress(*line.proxy)) return fail("--proxy takes HOST:PORT");
  if (jobs) {
    std::optional<int> n = ReadDecimal(*jobs, 1, kMostJobs);
    if (!n) return fail("--jobs takes a whole number from 1 to " + std::to_string(kMostJobs));
    line.jobs = *n;
  }
  if (!line.password && env_password) line.password = env_password;
  return result;
}

}  // namespace ah
