#include "app/cli/harvest_command.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <ostream>

#include "app/cli/progress_line.h"
#include "app/site/default_fields.h"
#include "app/harvest/harvest_run.h"
#include "app/site/scratch_lines.h"
#include "app/fetch/stop_flag.h"
#include "framework/exception.h"
#include "http/http_client_interface.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "app/fetch/proxy_choice.h"

namespace ah {

namespace {

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

  void AddLogLine(const std::string& line) override { Print(line); }
  void AddLogLineOf(LogLineKind kind, const std::string& line) override {
    if (quiet_ && kind == LogLineKind::kProgress) return;
    AddLogLine(line);
  }
  // The terminal takes the name's own bytes.
  void AddPathLine(const std::string& line, const std::string& path) override {
    Print(line + path);
  }
  // Printed lines cannot be taken back; emptying only restarts the count.
  int LogLineCount() override { return lines_; }
  void ClearLog() override { lines_ = 0; }

  void ProcessMessages() override {}

  IHTTPClient* IdHTTP1() override { return client_; }
  void SetIdHTTP1(IHTTPClient* client) override { client_ = client; }
  IHTTPClient* CreateIdHTTP() override { return make_client_(); }

 private:
  FieldTexts fields_;
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

}  // namespace

int RunHarvestCommand(const HarvestCommandLine& line, const HarvestClientFactory& make_client,
                      std::ostream& out, std::ostream& err, const StopFlag* stop,
                      bool live_progress) {
  HarvestSettings settings;
  SiteProfile& profile = settings.profile;
  profile.SiteRoot = SiteRootFor(line);
  if (line.title_suffix) profile.TitleSuffix = *line.title_suffix;
  if (line.image_host_marker) profile.ImageHostMarker = *line.image_host_marker;
  if (line.retries) settings.transfer.attempts = *line.retries + 1;
  if (line.timeout_ms) settings.transfer.connect_timeout_ms = settings.transfer.read_timeout_ms = *line.timeout_ms;
  if (line.proxy) settings.proxy = ParseProxyAddress(*line.proxy);
  settings.jobs = line.jobs.value_or(kDefaultJobs);
  if (line.wait_seconds) settings.wait = std::chrono::milliseconds(std::llround(*line.wait_seconds * 1000));
  settings.limit_rate = line.limit_rate.value_or(0);
  settings.force = line.force;

  FieldTexts fields = DefaultFieldTexts(profile);
  fields.album = line.albums.front();
  if (line.login) fields.login = *line.login;
  if (line.password) fields.password = *line.password;
  if (line.domain) fields.domain = *line.domain;

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
  // The run sets it up as the window's own client is.
  console.SetIdHTTP1(client);

  ScratchLines scratch;
  HarvestRunReport run;
  try {
    run = RunHarvests({console, console, console, console, scratch, stop, shown}, settings, line.albums);
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
  if (run.interrupted) {
    err << "album-harvest: interrupted\n";
    return kExitInterrupted;
  }
  const bool complete = std::all_of(run.albums.begin(), run.albums.end(),
                                    [](const HarvestReport& album) { return album.Complete(); });
  return complete ? kExitComplete : kExitIncomplete;
}

int HarvestMain(const std::vector<std::string>& args, const HarvestEnvironment& env,
                const HarvestClientFactory& make_client, std::ostream& out, std::ostream& err,
                const StopFlag* stop, bool live_progress) {
  HarvestCommandParse parsed = ParseHarvestCommandLine(args);
  if (env.hide_argument)
    for (const SecretArgument& secret : parsed.secrets) env.hide_argument(secret);
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
  if (std::optional<SettingsProblem> problem = CompleteHarvestCommandLine(parsed.line, env)) {
    err << "album-harvest: " << Printable(problem->line) << "\n";
    if (problem->usage) err << kHarvestUsage;
    return StopRequested(stop) ? kExitInterrupted : kExitUsage;
  }
  return RunHarvestCommand(parsed.line, make_client, out, err, stop, live_progress);
}

}  // namespace ah
