#include "app/cli/harvest_command.h"

#include <exception>
#include <ostream>
#include <string_view>

#include "app/default_fields.h"
#include "app/harvest_run.h"
#include "app/scratch_lines.h"
#include "framework/exception.h"
#include "http/http_client_interface.h"
#include "platform/code_page.h"
#include "platform/files.h"

namespace ah {

const char* const kHarvestUsage =
    "usage: album-harvest --album URL [--login TEXT] [--password TEXT] [--domain TEXT]\n"
    "                     [--site-root URL] [--title-suffix TEXT] [--image-host-marker TEXT]\n"
    "                     [--output-dir DIR]\n"
    "Copies a photo album to the local disk: signs in, walks the album page by page and\n"
    "saves every full-size image into a folder named after the album, inside DIR\n"
    "(default: the folder of this program). The log goes to stdout.\n"
    "\n"
    "  --album URL              the album address, as typed into the window\n"
    "  --login, --domain TEXT   the account (default: the window's default texts)\n"
    "  --password TEXT          default: $ALBUM_HARVEST_PASSWORD, else the window's text\n"
    "  --site-root URL          the site (default: the built-in site)\n"
    "  --title-suffix TEXT      what the site appends to page titles\n"
    "  --image-host-marker TEXT the image host's name followed by /photo\n"
    "  --output-dir DIR         where album folders are made (created when missing)\n"
    "\n"
    "Exit status: 0 when the run ended normally, 1 on an error, 2 on a usage error.\n";

namespace {

// The run's last log line in a normal end.
constexpr std::string_view kFinalLine = "ЗАВЕРШЕНО!";

struct Flag {
  std::string_view name;
  std::optional<std::string> HarvestCommandLine::*field;
};

// The terminal as the run's window: fixed field texts, stdout as the log,
// nothing to pump, and the client slot.
class Console : public HarvestFields, public HarvestLog, public MessagePump, public HTTPClientSlot {
 public:
  Console(FieldTexts fields, const HarvestClientFactory& make_client, std::ostream& out)
      : fields_(std::move(fields)), make_client_(make_client), out_(out) {}
  ~Console() override { delete client_; }

  std::string Edit1Text() override { return fields_.login; }
  std::string Edit2Text() override { return fields_.password; }
  std::string Edit3Text() override { return fields_.domain; }
  std::string Edit4Text() override { return fields_.album; }

  void AddLogLine(const std::string& line) override {
    last_line_ = AnsiToUtf8(line);
    out_ << last_line_ << '\n' << std::flush;
    ++lines_;
  }
  // Printed lines cannot be taken back; emptying only restarts the count.
  int LogLineCount() override { return lines_; }
  void ClearLog() override { lines_ = 0; }

  void ProcessMessages() override {}

  IHTTPClient* IdHTTP1() override { return client_; }
  void SetIdHTTP1(IHTTPClient* client) override { client_ = client; }
  IHTTPClient* CreateIdHTTP() override { return make_client_(); }

  const std::string& last_line() const { return last_line_; }

 private:
  FieldTexts fields_;  // Windows-1251
  const HarvestClientFactory& make_client_;
  std::ostream& out_;
  IHTTPClient* client_ = nullptr;  // owned
  int lines_ = 0;
  std::string last_line_;  // UTF-8
};

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
  };
  HarvestCommandParse result;
  HarvestCommandLine& line = result.line;
  std::optional<std::string> album;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      line.help = true;
      return result;
    }
    std::string_view name = arg.substr(0, arg.find('='));
    std::optional<std::string>* target = name == "--album" ? &album : nullptr;
    for (const Flag& f : kFlags)
      if (name == f.name) target = &(line.*f.field);
    if (!target) {
      result.error = "unknown argument: " + std::string(arg);
      return result;
    }
    if (name.size() < arg.size()) {
      *target = std::string(arg.substr(name.size() + 1));
    } else if (i + 1 < args.size()) {
      *target = args[++i];
    } else {
      result.error = "missing value after " + std::string(arg);
      return result;
    }
  }
  if (!album) {
    result.error = "--album is required";
    return result;
  }
  line.album = *album;
  if (!line.password && env_password) line.password = env_password;
  return result;
}

int RunHarvestCommand(const HarvestCommandLine& line, const HarvestClientFactory& make_client,
                      std::ostream& out, std::ostream& err) {
  HarvestSettings settings;
  SiteProfile& profile = settings.profile;
  if (line.site_root) profile.SiteRoot = *line.site_root;
  // The suffix is matched against page text before conversion, the marker after.
  if (line.title_suffix) profile.TitleSuffix = *line.title_suffix;
  if (line.image_host_marker) profile.ImageHostMarker = Utf8ToAnsi(*line.image_host_marker);

  FieldTexts fields = DefaultFieldTexts(profile);
  fields.album = Utf8ToAnsi(line.album);
  if (line.login) fields.login = Utf8ToAnsi(*line.login);
  if (line.password) fields.password = Utf8ToAnsi(*line.password);
  if (line.domain) fields.domain = Utf8ToAnsi(*line.domain);

  if (line.output_dir) {
    settings.output_dir = Utf8ToAnsi(*line.output_dir);
    // The run makes only the album's own folder; a missing output folder
    // would make every download fail unseen.
    if (settings.output_dir.empty() ||
        (!DirectoryExists(settings.output_dir) && !CreateDir(settings.output_dir))) {
      err << "album-harvest: cannot create the output folder " << *line.output_dir << "\n";
      return 1;
    }
  }

  Console console(std::move(fields), make_client, out);
  IHTTPClient* client = make_client();
  if (!client) {
    err << "album-harvest: no HTTP client is available in this build\n";
    return 1;
  }
  // The settings that the window stores with its own client.
  client->SetHandleRedirects(true);
  client->SetRequestUserAgent(std::string(kHarvestUserAgent));
  console.SetIdHTTP1(client);

  ScratchLines scratch;
  try {
    RunHarvest({console, console, console, console, scratch}, settings);
  } catch (const Exception& e) {
    err << "album-harvest: " << AnsiToUtf8(e.Message()) << "\n";
    return 1;
  } catch (const std::exception& e) {
    err << "album-harvest: " << e.what() << "\n";
    return 1;
  }
  if (console.last_line() != kFinalLine) {
    err << "album-harvest: the run ended before its final log line\n";
    return 1;
  }
  return 0;
}

int HarvestMain(const std::vector<std::string>& args, const char* env_password,
                const HarvestClientFactory& make_client, std::ostream& out, std::ostream& err) {
  HarvestCommandParse parsed = ParseHarvestCommandLine(args, env_password);
  if (!parsed.error.empty()) {
    err << "album-harvest: " << parsed.error << "\n" << kHarvestUsage;
    return 2;
  }
  if (parsed.line.help) {
    out << kHarvestUsage;
    return 0;
  }
  return RunHarvestCommand(parsed.line, make_client, out, err);
}

}  // namespace ah
