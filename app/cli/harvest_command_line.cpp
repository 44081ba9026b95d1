#include "app/cli/harvest_command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "app/cli/album_list.h"
#include "app/site/site_profile.h"
#include "framework/sysutils.h"
#include "http/uri_resolution.h"
#include "app/fetch/proxy_choice.h"

#ifndef AH_VERSION
#define AH_VERSION "unknown"
#endif

namespace ah {

const char* const kHarvestUsage =
    "usage: album-harvest [flags] URL...\n"
    "Copies a photo album to the local disk: signs in, walks the album page by page and\n"
    "saves every full-size image into a folder named after the album, inside DIR\n"
    "(default: the current folder). The log goes to stdout.\n"
    "\n"
    "  URL, --album URL         an album address, as typed into the window; several are\n"
    "                           harvested one after the other after one sign-in, each\n"
    "                           into its own folder (an address named twice counts once)\n"
    "  --input-file FILE        album addresses, one a line (blank lines and lines starting\n"
    "                           with # skipped); - reads standard input\n"
    "  --login, --domain TEXT   the account (default: the window's default texts)\n"
    "  --password TEXT          the password; ps shows it as ***\n"
    "  --password-file FILE     the password is the first line of FILE\n"
    "  --ask-password           ask for the password on the terminal, without echo\n"
    "  --netrc, --netrc-file FILE  the login and password of the site's host in ~/.netrc\n"
    "                           or FILE; a login NAME@DOMAIN gives the mail domain too\n"
    "  --site-root URL          the site (default: the built-in site for its own albums,\n"
    "                           else the first album address's scheme, host and port)\n"
    "  --title-suffix TEXT      what the site appends to page titles\n"
    "  --image-host-marker TEXT the image host's name followed by /photo\n"
    "  --output-dir DIR         where album folders are made (created when missing)\n"
    "  --retries N              retries after a transient failure (default 2, so 3 attempts)\n"
    "  --timeout SECONDS        connect and idle time-out of pages and images\n"
    "                           (default: 30 to connect, 60 without a byte)\n"
    "  --proxy HOST:PORT        HTTP proxy for pages and images alike (default: what\n"
    "                           http_proxy, https_proxy, all_proxy and no_proxy say)\n"
    "  --jobs N                 photo pages and images fetched at once, 1 to 64 (default 4);\n"
    "                           the files, names and log are the same for every N; a 429\n"
    "                           or 503 answer halves the jobs in use for the rest of the run\n"
    "  --wait SECONDS           each job pauses this long before each request but its first\n"
    "  --limit-rate RATE        bytes per second of the whole run, over any 5 s (k, M, G\n"
    "                           for KiB, MiB, GiB; default: no limit)\n"
    "  --force                  download every image again, even those already on disk\n"
    "  --quiet                  print only errors and the summary\n"
    "  --config FILE            the config file (default: $XDG_CONFIG_HOME/album-harvester/\n"
    "                           config.json, else ~/.config/album-harvester/config.json)\n"
    "  --no-config              read no config file\n"
    "  --version                the version\n"
    "\n"
    "The password is the first of: --password, --password-file, --ask-password,\n"
    "$ALBUM_HARVEST_PASSWORD, the netrc file, the config file, the window's default text.\n"
    "The login and the mail domain: the flags, the netrc file, the config file, the\n"
    "default. The config file is one JSON object whose keys are the flags' names without\n"
    "the dashes (site-root, title-suffix, image-host-marker, login, domain, password,\n"
    "output-dir, jobs, retries, timeout, proxy, wait, limit-rate); flags win over it.\n"
    "A password file, a netrc file or a config file that holds a password is refused\n"
    "when users other than its owner can reach it (chmod 600 FILE).\n"
    "\n"
    "A run into a folder that holds an earlier run's album.json keeps the images that\n"
    "are still there intact (\"(уже есть)\" in the log) and downloads only the rest.\n"
    "Each album folder gets album.json, the record of every photo, and index.html, a\n"
    "gallery page to open in any browser. On a terminal a progress line is kept on\n"
    "stderr.\n"
    "\n"
    "Exit status: 0 when every album page was read and every photo found was saved\n"
    "(at least one, in every album), 3 when the run ended but something is missing, 1\n"
    "when it could not run, 2 on a usage error, 130 when interrupted (SIGINT, SIGTERM).\n";

const char* const kHarvestVersion = "album-harvest " AH_VERSION;

namespace {

constexpr int kMostRetries = 100;
constexpr double kLongestSeconds = 86400;
// A rate beyond any link, so that the product below cannot overflow.
constexpr double kHighestRate = double(int64_t(1) << 50);

using Line = HarvestCommandLine;
using Type = HarvestSetting::Type;

// A decimal number with an optional fraction, and nothing else; the rest of
// `text` after it goes to `rest` when that is given.
std::optional<double> ReadNumber(std::string_view text, std::string_view* rest = nullptr) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc()) return std::nullopt;
  std::string_view after = text.substr(size_t(end - text.data()));
  if (rest) *rest = after;
  else if (!after.empty()) return std::nullopt;
  return value;
}

std::optional<int> ReadTimeoutMs(std::string_view text) {
  std::optional<double> seconds = ReadNumber(text);
  if (!seconds || !(*seconds > 0) || *seconds > kLongestSeconds) return std::nullopt;
  return std::max(1, int(std::lround(*seconds * 1000)));
}

// Bytes per second, with k, M or G for 1024, 1024² and 1024³ as curl and
// wget take them.
std::optional<int64_t> ReadRate(std::string_view text) {
  std::string_view suffix;
  std::optional<double> value = ReadNumber(text, &suffix);
  if (!value || suffix.size() > 1) return std::nullopt;
  double scale = 1;
  if (!suffix.empty()) {
    size_t power = std::string_view("kmg").find(char(suffix[0] | 0x20));
    if (power == std::string_view::npos) return std::nullopt;
    scale = std::pow(1024.0, double(power + 1));
  }
  const double rate = *value * scale;
  if (!(rate > 0) || rate > kHighestRate) return std::nullopt;
  return std::max<int64_t>(1, std::llround(rate));
}

template <auto field>
bool Text(Line& line, std::string_view text) {
  line.*field = std::string(text);
  return true;
}

template <auto field>
void Fill(Line& line, const Line& from) {
  if (!(line.*field)) line.*field = from.*field;
}

bool Retries(Line& line, std::string_view text) {
  return (line.retries = ReadDecimal(text, 0, kMostRetries)).has_value();
}
bool Timeout(Line& line, std::string_view text) {
  return (line.timeout_ms = ReadTimeoutMs(text)).has_value();
}
bool Proxy(Line& line, std::string_view text) {
  line.proxy = std::string(text);
  return ParseProxyAddress(text).has_value();
}
bool Jobs(Line& line, std::string_view text) {
  return (line.jobs = ReadDecimal(text, 1, kMostJobs)).has_value();
}
bool Wait(Line& line, std::string_view text) {
  std::optional<double> seconds = ReadNumber(text);
  if (!seconds || !(*seconds >= 0) || *seconds > kLongestSeconds) return false;
  line.wait_seconds = *seconds;
  return true;
}
bool LimitRate(Line& line, std::string_view text) {
  return (line.limit_rate = ReadRate(text)).has_value();
}

struct SettingRow {
  HarvestSetting setting;
  void (*fill)(Line&, const Line&);
};

const std::vector<SettingRow>& Settings() {
  static const std::vector<SettingRow> rows = {
      {{"site-root", Type::kText, "a text", Text<&Line::site_root>}, Fill<&Line::site_root>},
      {{"title-suffix", Type::kText, "a text", Text<&Line::title_suffix>},
       Fill<&Line::title_suffix>},
      {{"image-host-marker", Type::kText, "a text", Text<&Line::image_host_marker>},
       Fill<&Line::image_host_marker>},
      {{"login", Type::kText, "a text", Text<&Line::login>}, Fill<&Line::login>},
      {{"domain", Type::kText, "a text", Text<&Line::domain>}, Fill<&Line::domain>},
      {{"password", Type::kText, "a text", Text<&Line::password>}, Fill<&Line::password>},
      {{"output-dir", Type::kText, "a text", Text<&Line::output_dir>}, Fill<&Line::output_dir>},
      {{"jobs", Type::kWholeNumber, "a whole number from 1 to " + std::to_string(kMostJobs), Jobs},
       Fill<&Line::jobs>},
      {{"retries", Type::kWholeNumber,
        "a whole number from 0 to " + std::to_string(kMostRetries), Retries},
       Fill<&Line::retries>},
      {{"timeout", Type::kNumber, "a number of seconds above 0", Timeout},
       Fill<&Line::timeout_ms>},
      {{"proxy", Type::kText, "HOST:PORT", Proxy}, Fill<&Line::proxy>},
      {{"wait", Type::kNumber, "a number of seconds, 0 or more", Wait}, Fill<&Line::wait_seconds>},
      {{"limit-rate", Type::kTextOrNumber,
        "bytes per second above 0, with k, M or G for KiB, MiB or GiB", LimitRate},
       Fill<&Line::limit_rate>},
  };
  return rows;
}

// The flags that are not settings: where the value goes.
std::optional<std::string>* SourceFlag(Line& line, std::string_view name) {
  return name == "--password-file" ? &line.password_file
         : name == "--netrc-file"  ? &line.netrc_file
         : name == "--config"      ? &line.config_file
                                   : nullptr;
}

bool* Toggle(Line& line, std::string_view arg) {
  return arg == "--force"                 ? &line.force
         : arg == "--quiet"               ? &line.quiet
         : arg == "--ask-password"        ? &line.ask_password
         : arg == "--netrc"               ? &line.netrc
         : arg == "--no-config"           ? &line.no_config
         : arg == "--help" || arg == "-h" ? &line.help
         : arg == "--version"             ? &line.version
                                          : nullptr;
}

bool TakesValue(std::string_view name) {
  Line probe;
  return name == "--album" || name == "--input-file" || SourceFlag(probe, name) ||
         (name.starts_with("--") && FindHarvestSetting(name.substr(2)));
}

// Reads the value of flag `name`, which takes one, into `line`; the error
// when it is not one the flag takes.
std::string ReadFlag(Line& line, std::string_view name, std::string value) {
  if (name == "--album" || name == "--input-file") {
    (name == "--album" ? line.albums : line.input_files).push_back(std::move(value));
    return "";
  }
  if (std::optional<std::string>* target = SourceFlag(line, name)) {
    *target = std::move(value);
    return "";
  }
  const HarvestSetting* setting = FindHarvestSetting(name.substr(2));
  if (!setting->read(line, value)) return std::string(name) + " takes " + setting->expected;
  return "";
}

}  // namespace

const HarvestSetting* FindHarvestSetting(std::string_view name) {
  for (const SettingRow& row : Settings())
    if (row.setting.name == name) return &row.setting;
  return nullptr;
}

std::string HarvestSettingNames() {
  std::string names;
  for (const SettingRow& row : Settings())
    names += (names.empty() ? "" : ", ") + std::string(row.setting.name);
  return names;
}

void FillMissingSettings(HarvestCommandLine& line, const HarvestCommandLine& from) {
  for (const SettingRow& row : Settings()) row.fill(line, from);
}

std::string SiteRootFor(const HarvestCommandLine& line) {
  if (line.site_root) return *line.site_root;
  const std::optional<WebOrigin> album =
      line.albums.empty() ? std::nullopt : WebOriginOf(line.albums.front());
  if (!album) return "";
  const std::string built_in = DefaultSiteProfile().SiteRoot;
  return SameOrigin(*album, *WebOriginOf(built_in)) ? built_in : album->root;
}

HarvestCommandParse ParseHarvestCommandLine(const std::vector<std::string>& args) {
  HarvestCommandParse result;
  HarvestCommandLine& line = result.line;
  // The first problem is kept, and the reading goes on, so that every
  // password in the arguments is found and can be hidden.
  auto fail = [&result](std::string error) {
    if (result.error.empty()) result.error = std::move(error);
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (bool* toggle = Toggle(line, arg)) {
      *toggle = true;
      continue;
    }
    if (!arg.starts_with("--")) {
      line.albums.emplace_back(arg);
      continue;
    }
    std::string_view name = arg.substr(0, arg.find('='));
    if (!TakesValue(name)) {
      fail("unknown argument: " + std::string(arg));
      continue;
    }
    size_t at = i, offset = name.size() + 1;
    if (name.size() == arg.size()) {
      if (i + 1 == args.size()) {
        fail("missing value after " + std::string(arg));
        break;
      }
      at = ++i;
      offset = 0;
    }
    if (name == "--password") result.secrets.push_back({at, offset});
    if (std::string error = ReadFlag(line, name, args[at].substr(offset)); !error.empty())
      fail(std::move(error));
  }
  if (line.help || line.version) result.error.clear();
  if (!result.error.empty() || line.help || line.version) return result;
  if (line.albums.empty() && line.input_files.empty()) fail("the album address is required");
  for (const std::string& album : line.albums)
    if (!IsAlbumAddress(album)) fail("the album address must begin with http:// or https://");
  return result;
}

}  // namespace ah
