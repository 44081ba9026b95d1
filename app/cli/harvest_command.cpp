#include "app/cli/harvest_command.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <ostream>
#include <string_view>

#include "app/cli/progress_line.h"
#include "app/default_fields.h"
#include "app/harvest_run.h"
#include "app/scratch_lines.h"
#include "framework/exception.h"
#include "framework/sysutils.h"
#include "http/http_client_interface.h"
#include "platform/code_page.h"
#include "platform/files.h"
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

// Titles and reasons come from the site: a control byte in them (an escape
// sequence, say) must not reach the user's terminal as one. Tab stays.
std::string Printable(std::string text) {
  for (char& c : text)
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == '\x7F') c = '?';
  return text;
}

// The terminal as the run's window: fixed field texts, stdout as the log,
// nothing to pump, and the client slot.
class Console : public HarvestFields, public HarvestLog, public MessagePump, public HTTPClientSlot {
 public:
  Console(FieldTexts fields, const HarvestClientFactory& make_client, std::ostream& out,
          bool quiet, ProgressLine* progress)
      : fields_(std::move(fields)), make_client_(make_client), out_(out), quiet_(quiet),
        progress_(progress) {}
  ~Console() override { delete client_; }

  std::string Edit1Text() override { return fields_.login; }
  std::string Edit2Text() override { return fields_.password; }
  std::string Edit3Text() override { return fields_.domain; }
  std::string Edit4Text() override { return fields_.album; }

  void AddLogLine(const std::string& line) override { Print(AnsiToUtf8(line)); }
  void AddLogLineOf(LogLineKind kind, const std::string& line) override {
    if (quiet_ && kind == LogLineKind::kProgress) return;
    AddLogLine(line);
  }
  // The terminal takes the name's own bytes.
  void AddPathLine(const std::string& line, const std::string& path) override {
    Print(AnsiToUtf8(line) + path);
  }
  // Printed lines cannot be taken back; emptying only restarts the count.
  int LogLineCount() override { return lines_; }
  void ClearLog() override { lines_ = 0; }

  void ProcessMessages() override {}

  IHTTPClient* IdHTTP1() override { return client_; }
  void SetIdHTTP1(IHTTPClient* client) override { client_ = client; }
  IHTTPClient* CreateIdHTTP() override { return make_client_(); }

 private:
  FieldTexts fields_;  // Windows-1251
  void Print(const std::string& text) {
    if (progress_) progress_->Hide();
    out_ << Printable(text) << '\n' << std::flush;
    if (progress_) progress_->Restore();
    ++lines_;
  }

  const HarvestClientFactory& make_client_;
  std::ostream& out_;
  const bool quiet_;
  ProgressLine* progress_;
  IHTTPClient* client_ = nullptr;  // owned
  int lines_ = 0;
};

bool HasWebScheme(std::string_view url) {
  return url.starts_with("http://") || url.starts_with("https://");
}

// Scheme, "://", host and port of an address.
std::string RootOf(std::string_view url) {
  size_t host = url.find("://") + 3;
  return std::string(url.substr(0, url.find_first_of("/?#", host)));
}

// The built-in site's profile for its own albums; elsewhere the site is
// where the album is.
std::string SiteRootFor(const HarvestCommandLine& line) {
  if (line.site_root) return *line.site_root;
  const std::string built_in = DefaultSiteProfile().SiteRoot;
  if (RootOf(line.album) == built_in) return built_in;
  return RootOf(line.album);
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

int RunHarvestCommand(const HarvestCommandLine& line, const HarvestClientFactory& make_client,
                      std::ostream& out, std::ostream& err, const StopFlag* stop,
                      bool live_progress) {
  HarvestSettings settings;
  SiteProfile& profile = settings.profile;
  profile.SiteRoot = SiteRootFor(line);
  // The suffix is matched against page text before conversion, the marker after.
  if (line.title_suffix) profile.TitleSuffix = *line.title_suffix;
  if (line.image_host_marker) profile.ImageHostMarker = Utf8ToAnsi(*line.image_host_marker);
  if (line.retries) settings.transfer.attempts = *line.retries + 1;
  if (line.timeout_ms) settings.transfer.connect_timeout_ms = settings.transfer.read_timeout_ms = *line.timeout_ms;
  if (line.proxy) settings.proxy = ParseProxyAddress(*line.proxy);
  settings.jobs = line.jobs;
  settings.force = line.force;

  FieldTexts fields = DefaultFieldTexts(profile);
  fields.album = Utf8ToAnsi(line.album);
  if (line.login) fields.login = Utf8ToAnsi(*line.login);
  if (line.password) fields.password = Utf8ToAnsi(*line.password);
  if (line.domain) fields.domain = Utf8ToAnsi(*line.domain);

  // The folder is taken as the bytes it is; the run makes only the album's
  // own folder inside it.
  settings.output_dir = line.output_dir ? *line.output_dir : CurrentDir();
  if (settings.output_dir.empty() || !CreateDirs(settings.output_dir)) {
    err << "album-harvest: cannot create the output folder " << settings.output_dir << "\n";
    return kExitCannotRun;
  }
  if (!IsWritableDir(settings.output_dir)) {
    err << "album-harvest: cannot write into the output folder " << settings.output_dir << "\n";
    return kExitCannotRun;
  }

  std::optional<ProgressLine> progress;
  if (live_progress && !line.quiet) progress.emplace(err);
  ProgressLine* shown = progress ? &*progress : nullptr;
  Console console(std::move(fields), make_client, out, line.quiet, shown);
  IHTTPClient* client = make_client();
  if (!client) {
    err << "album-harvest: no HTTP client is available in this build\n";
    return kExitCannotRun;
  }
  // The settings that the window stores with its own client.
  client->SetHandleRedirects(true);
  client->SetRequestUserAgent(std::string(kHarvestUserAgent));
  console.SetIdHTTP1(client);

  ScratchLines scratch;
  HarvestReport report;
  try {
    report = RunHarvest({console, console, console, console, scratch, stop, shown}, settings);
  } catch (const Exception& e) {
    if (shown) shown->End();
    err << "album-harvest: " << Printable(AnsiToUtf8(e.Message())) << "\n";
    return kExitCannotRun;
  } catch (const std::exception& e) {
    if (shown) shown->End();
    err << "album-harvest: " << e.what() << "\n";
    return kExitCannotRun;
  }
  if (shown) shown->End();
  if (report.interrupted) {
    err << "album-harvest: interrupted\n";
    return kExitInterrupted;
  }
  return report.Complete() ? kExitComplete : kExitIncomplete;
}

int HarvestMain(const std::vector<std::string>& args, const char* env_password,
                const HarvestClientFactory& make_client, std::ostream& out, std::ostream& err,
                const StopFlag* stop, bool live_progress) {
  HarvestCommandParse parsed = ParseHarvestCommandLine(args, env_password);
  if (!parsed.error.empty()) {
    err << "album-harvest: " << parsed.error << "\n" << kHarvestUsage;
    return kExitUsage;
  }
  if (parsed.line.help) {
    out << kHarvestUsage;
    return kExitComplete;
  }
  if (parsed.line.version) {
    out << kHarvestVersion << "\n";
    return kExitComplete;
  }
  return RunHarvestCommand(parsed.line, make_client, out, err, stop, live_progress);
}

}  // namespace ah
