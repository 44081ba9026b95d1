#include "app/harvest/harvest_run.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>

#include "app/album/album_folder.h"
#include "app/fetch/harvest_transfers.h"
#include "app/fetch/site_pace.h"
#include "app/harvest/harvest_scheduler.h"
#include "app/fetch/stop_flag.h"
#include "app/site/page_scan.h"
#include "app/site/scratch_lines.h"
#include "app/site/text_helpers.h"
#include "framework/sysutils.h"
#include "http/http_client_interface.h"
#include "http/uri_resolution.h"
#include "platform/files.h"

namespace ah {
namespace {

constexpr std::string_view kLogSignIn = "Авторизация...";
constexpr std::string_view kLogPage = "Страница № ";
constexpr std::string_view kLogDone = "ЗАВЕРШЕНО!";

// What of a failed fetch can be trusted: the text up to its last quote or
// line break, so that no line cut off in the middle (a link missing its
// end) is taken for a whole one.
std::string_view CompleteLines(std::string_view text) {
  size_t last = text.find_last_of("\"\r\n");
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

// A photo link of an album page, with the folder it was found in.
struct PhotoLink {
  std::string address, folder;
  AlbumFolder* album;
};

// Nothing but spaces and control bytes: no name for a folder.
bool IsBlank(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// The last path segment of an album address (for /users/kotova/73412/:
// 73412) as a name, cleaned as titles are.
std::string AddressName(std::string_view url) {
  url = url.substr(0, url.find_first_of("?#"));
  while (url.ends_with('/')) url.remove_suffix(1);
  std::string name = CleanTitle(ReadableUtf8(url.substr(url.rfind('/') + 1))).name;
  return IsBlank(name) ? "album" : name;
}

// What the albums of one run share: its session, and the folders its
// albums went to.
struct RunSession {
  explicit RunSession(const HarvestSettings& settings)
      : pace({settings.jobs, settings.wait, settings.limit_rate}), own(&pace) {}
  // The pace holds across the albums, and so does the run's own thread's.
  SitePace pace;
  JobPace own;
  bool signed_in = false;
  // The last sign-in's reply redirected or set a cookie.
  bool confirmed = true;
  std::set<std::string> folders;  // of the albums done
  std::string run_time = ManifestTime(std::time(nullptr));
};

// The album an album of several is: its address, whatever the field says.
class AlbumField : public HarvestFields {
 public:
  AlbumField(HarvestFields& fields, std::string album) : fields_(fields), album_(std::move(album)) {}
  std::string Edit1Text() override { return fields_.Edit1Text(); }
  std::string Edit2Text() override { return fields_.Edit2Text(); }
  std::string Edit3Text() override { return fields_.Edit3Text(); }
  std::string Edit4Text() override { return album_; }

 private:
  HarvestFields& fields_;
  const std::string album_;
};

// The harvest of one album, in the session of the run; the first album of
// a run signs in.
class Run {
 public:
  // A `heading` opens the album's block of the log (none when empty); with
  // `last_line` the block ends the run's log.
  Run(const HarvestSurroundings& around, const HarvestSettings& settings, RunSession& session,
      std::string heading, bool last_line)
      : around_(around),
        settings_(settings),
        profile_(settings.profile),
        output_dir_(settings.output_dir.empty() ? ExecutableDir() : settings.output_dir),
        run_time_(session.run_time),
        session_(session),
        heading_(std::move(heading)),
        last_line_(last_line) {}

  HarvestReport Execute() {
    if (!session_.signed_in) {
      Log(LogLineKind::kProgress, std::string(kLogSignIn));
      if (IHTTPClient* client = around_.client.IdHTTP1()) ConfigureHarvestClient(*client, settings_.transfer);
      SignIn();
      session_.signed_in = true;
    }
    if (!heading_.empty()) Log(LogLineKind::kAlbum, heading_);
    report_.sign_in_confirmed = session_.confirmed;
    HarvestScheduler photos(around_, settings_, report_, session_.pace, session_.own);
    const bool walked = WalkAlbum(photos);
    photos.Settle();
    report_.interrupted = Stopping();
    // Pages seen without a session may not show the whole album.
    const bool whole = walked && !report_.interrupted && report_.sign_in_confirmed;
    for (auto& [name, album] : albums_) {
      album->Finish(whole);
      session_.folders.insert(album->folder());
    }
    Close();
    return std::move(report_);
  }

 private:
  bool Stopping() { return report_.Stopping(around_.stop); }

  void Log(LogLineKind kind, const std::string& line) { around_.log.AddLogLineOf(kind, line); }

  enum class PageEnd { kNextPage, kAlbumDone, kWalkCut };

  // The album's pages one after the other, for as long as each links the
  // next; true when the walk reached the album's end.
  bool WalkAlbum(HarvestScheduler& photos) {
    PageEnd end = PageEnd::kNextPage;
    for (int page = 1; end == PageEnd::kNextPage && !Stopping(); ++page) {
      if (page > kMostAlbumPages) {
        RefusePage(photos, page, "слишком много страниц");
        break;
      }
      KeepSession(photos);
      photos.AddStep(
          [this] {
            if (around_.log.LogLineCount() > kLogLineLimit) around_.log.ClearLog();
          },
          HarvestScheduler::StepKind::kChore);
      around_.pump.ProcessMessages();
      if (Stopping()) break;
      end = HarvestPage(photos, page);
    }
    return end == PageEnd::kAlbumDone && !Stopping();
  }

  // Before every page that would be the 21st since the last sign-in: a new
  // client, signed in anew.
  void KeepSession(HarvestScheduler& photos) {
    if (++pages_since_sign_in_ <= kPagesPerSignIn) return;
    // The jobs' clients live in the old session until they are done.
    photos.Settle();
    RenewClient();
    SignIn();
    photos.ShareCookies();
    pages_since_sign_in_ = 0;
  }

  // The summary, the folder and the last line.
  void Close() {
    report_.folder = folder_;
    Log(LogLineKind::kClosing, SummaryLogLine(report_));
    std::string shown = folder_;
    if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
    around_.log.AddPathLine(FolderLogCaption(), shown);
    if (last_line_ && !report_.interrupted) Log(LogLineKind::kClosing, std::string(kLogDone));
  }

  std::string PageAddress(int page) {
    return around_.fields.Edit4Text() + profile_.PageQuery + IntToStr(page);
  }

  // One album page: its line, its title and its photo pages, read before
  // the next page is, as when there is one job: a site may end the
  // session at any page.
  PageEnd HarvestPage(HarvestScheduler& photos, int page) {
    photos.SetPage(page);
    photos.AddStep([this, page] { Log(LogLineKind::kProgress, std::string(kLogPage) + IntToStr(page)); },
                   HarvestScheduler::StepKind::kPageLine);
    const std::string address = PageAddress(page);
    TextTransfer fetched = Get(address);
    if (Cancelled(fetched.failure)) return PageEnd::kWalkCut;
    PageOutcome& outcome = report_.pages.emplace_back();
    outcome.number = page;
    outcome.address = address;
    outcome.read = !fetched.failure;
    outcome.attempts = fetched.attempts;
    if (fetched.failure) {
      outcome.error = OneLine(fetched.failure->message);
      photos.AddStep([this, line = PageFailureLogLine(outcome)] { Log(LogLineKind::kError, line); });
    }
    std::vector<PhotoLink> links;
    const bool more_pages = ScanAlbumPage(
        fetched.failure ? CompleteLines(fetched.text) : fetched.text, page, profile_,
        {[this](const PageTitle& title) { OpenFolder(title.name, title.text); },
         [this, &links](std::string address) {
           // Photos found before any title still go into a folder of their own.
           if (!album_) OpenFolder({}, {});
           links.push_back({std::move(address), folder_, album_});
         }});
    const bool repeated = AddPhotoPages(photos, links);
    photos.FinishPhotoPages();
    // What follows a page that could not be read is unknown.
    if (fetched.failure) return PageEnd::kWalkCut;
    return more_pages && !repeated ? PageEnd::kNextPage : PageEnd::kAlbumDone;
  }

  // Hands the page's photo pages to the scheduler, each once a run; true
  // when the page shows only photo pages this run has seen, which repeats
  // the album (a site that answers every page number with the same page):
  // the album is done.
  bool AddPhotoPages(HarvestScheduler& photos, std::vector<PhotoLink>& links) {
    const bool repeated =
        !links.empty() && std::all_of(links.begin(), links.end(), [this](const PhotoLink& link) {
          return seen_pages_.count(link.address) > 0;
        });
    for (PhotoLink& link : links) {
      if (repeated || Stopping()) break;
      // A photo page listed again (at the top of the next page, after the
      // album grew) is the same photos, not new ones.
      if (!seen_pages_.insert(link.address).second) continue;
      photos.AddPhotoPage(std::move(link.address), std::move(link.folder), link.album);
    }
    return repeated;
  }

  // A page the walk does not go to: a failed page, with `reason`.
  void RefusePage(HarvestScheduler& photos, int page, std::string reason) {
    PageOutcome& outcome = report_.pages.emplace_back();
    outcome.number = page;
    outcome.address = PageAddress(page);
    outcome.error = std::move(reason);
    photos.AddStep([this, line = PageFailureLogLine(outcome)] { Log(LogLineKind::kError, line); });
  }

  TextTransfer Get(const std::string& address) {
    return TransferPage([this] { return around_.client.IdHTTP1(); }, address, settings_.proxy,
                        settings_.transfer, around_.stop, &session_.own);
  }

  // The sign-in is confirmed when its reply redirected or set a cookie; a
  // refusal does not end the run, as the album may be public.
  void SignIn() {
    const std::string address = profile_.SiteRoot + profile_.SignInPath;
    bool redirected_or_cookie = false;
    TextTransfer posted = TransferText(
        [this] { return around_.client.IdHTTP1(); },
        [&](IHTTPClient& client, std::string& reply) {
          // The client encodes the values in place: every attempt starts
          // from a fresh form.
          FillSignInForm(around_.scratch, around_.fields.Edit1Text(), around_.fields.Edit3Text(),
                         around_.fields.Edit2Text());
          UseProxyFor(client, address, settings_.proxy);
          client.PostFormText(WireAddress(address), around_.scratch, reply);
          const IHTTPClient::ReplyFacts facts = client.LastReplyFacts();
          redirected_or_cookie = facts.redirected || facts.set_cookie;
        },
        settings_.transfer, around_.stop, &session_.own);
    if (Cancelled(posted.failure)) return;
    session_.confirmed = !posted.failure && redirected_or_cookie;
    if (session_.confirmed) return;
    report_.sign_in_confirmed = false;
    Log(LogLineKind::kError,
        SignInNotConfirmedLogLine(posted.failure ? OneLine(posted.failure->message) : UnconfirmedSignInReason()));
  }

  void RenewClient() {
    IHTTPClient* old = around_.client.IdHTTP1();
    around_.client.SetIdHTTP1(nullptr);
    delete old;
    IHTTPClient* fresh = around_.client.CreateIdHTTP();
    around_.client.SetIdHTTP1(fresh);
    if (fresh) ConfigureHarvestClient(*fresh, settings_.transfer);
  }

  // The album's folder named `name` (UTF-8), or after the album address
  // when the name is blank: never the output folder itself.
  void OpenFolder(const std::string& name, const std::string& title) {
    const std::string album_url = around_.fields.Edit4Text();
    const std::string shown = IsBlank(name) ? AddressName(album_url) : name;
    // The output folder is used as the bytes it is.
    const std::string base = ReplaceAll(output_dir_ + "/" + FitName(shown, kLongestMadeName), "//", "/");
    AlbumFolder*& album = named_[base];
    if (!album) {
      ChosenFolder chosen = ChooseAlbumFolder(base, album_url, session_.folders);
      if (!DirectoryExists(chosen.folder)) CreateDir(chosen.folder);
      // Opened once per folder and run: later in the run the temporary
      // files there are this run's own.
      std::unique_ptr<AlbumFolder>& opened = albums_[chosen.folder];
      if (!opened) opened = std::make_unique<AlbumFolder>(std::move(chosen), settings_.force, run_time_);
      album = opened.get();
    }
    folder_ = album->folder();
    album->SetAlbum(album_url, title);
    album_ = album;
  }

  const HarvestSurroundings& around_;
  const HarvestSettings& settings_;
  const SiteProfile profile_;
  const std::string output_dir_;
  const std::string run_time_;
  RunSession& session_;
  const std::string heading_;
  const bool last_line_;
  int pages_since_sign_in_ = 0;
  std::string folder_;
  // The photo pages the album pages showed so far.
  std::unordered_set<std::string> seen_pages_;
  std::map<std::string, std::unique_ptr<AlbumFolder>> albums_;
  std::map<std::string, AlbumFolder*> named_;  // by the path the name gives
  AlbumFolder* album_ = nullptr;
  HarvestReport report_;
};

}  // namespace

HarvestReport RunHarvest(const HarvestSurroundings& around, const HarvestSettings& settings) {
  RunSession session(settings);
  return Run(around, settings, session, {}, true).Execute();
}

HarvestRunReport RunHarvests(const HarvestSurroundings& around, const HarvestSettings& settings,
                             const std::vector<std::string>& albums) {
  RunSession session(settings);
  HarvestRunReport run;
  const bool several = albums.size() > 1;
  for (const std::string& album : albums) {
    // A stop between two albums ends the run; the albums not begun are not
    // counted.
    run.interrupted = run.interrupted || StopRequested(around.stop);
    if (run.interrupted) break;
    AlbumField field(around.fields, album);
    HarvestSurroundings one{field, around.log, around.pump, around.client, around.scratch, around.stop,
                            around.progress};
    std::string heading = several ? AlbumLogLine(AddressForDisplay(album)) : std::string();
    run.albums.push_back(Run(one, settings, session, std::move(heading), !several).Execute());
    run.interrupted = run.albums.back().interrupted;
  }
  if (several) {
    around.log.AddLogLineOf(LogLineKind::kClosing, TotalsLogLine(run.albums));
    if (!run.interrupted) around.log.AddLogLineOf(LogLineKind::kClosing, std::string(kLogDone));
  }
  return run;
}

}  // namespace ah
