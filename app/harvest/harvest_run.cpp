#include "app/harvest/harvest_run.h"

#include <strings.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <unordered_set>

#include "app/album/album_folder.h"
#include "app/harvest/harvest_scheduler.h"
#include "app/fetch/harvest_transfers.h"
#include "app/site/page_title.h"
#include "app/site/scratch_lines.h"
#include "app/harvest/stop_flag.h"
#include "app/site/text_helpers.h"
#include "framework/strings.h"
#include "framework/sysutils.h"
#include "http/http_client_interface.h"
#include "platform/code_page.h"
#include "platform/files.h"

namespace ah {
namespace {

// Log texts in Windows-1251.
constexpr std::string_view kLogSignIn = "\xC0\xE2\xF2\xEE\xF0\xE8\xE7\xE0\xF6\xE8\xFF...";  // Авторизация...
constexpr std::string_view kLogPage = "\xD1\xF2\xF0\xE0\xED\xE8\xF6\xE0 \xB9 ";             // Страница №
constexpr std::string_view kLogDone = "\xC7\xC0\xC2\xC5\xD0\xD8\xC5\xCD\xCE!";               // ЗАВЕРШЕНО!

constexpr std::string_view kPageQuery = "?page=";
constexpr std::string_view kTitleMarker = "<title>";
constexpr std::string_view kPhotoLinkMarker = "/#mainImageLink";
constexpr std::string_view kPhotoLinkExclusion = "); return";
constexpr std::string_view kImageTitleMarker = "title=";

// A substring test as the platform's position search makes it: an empty
// needle is never found.
bool Contains(std::string_view text, std::string_view needle) {
  return !needle.empty() && text.find(needle) != std::string_view::npos;
}

// What of a failed fetch can be trusted: the text up to its last quote or
// line break, so that no line cut off in the middle (a link missing its
// end) is taken for a whole one.
std::string_view CompleteLines(std::string_view text) {
  size_t last = text.find_last_of("\"\r\n");
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

// The image address of a photo page names the image host right after its
// scheme; the marker anywhere else (in another host's query, say) is not
// the image host.
bool IsImageAddress(std::string_view line, std::string_view marker) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (line.size() < scheme.size() || strncasecmp(line.data(), scheme.data(), scheme.size()) != 0)
      continue;
    return !marker.empty() && line.substr(scheme.size()).starts_with(marker);
  }
  return false;
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

// The last path segment of an album address (Windows-1251; for
// /users/kotova/73412/: 73412) as a name, cleaned as titles are.
std::string AddressName(std::string_view url) {
  url = url.substr(0, url.find_first_of("?#"));
  while (url.ends_with('/')) url.remove_suffix(1);
  std::string name = CleanTitle(AnsiToUtf8(url.substr(url.rfind('/') + 1))).name;
  return IsBlank(name) ? "album" : name;
}

bool Cancelled(const std::optional<TransferFailure>& failure) {
  return failure && failure->error == TransferError::kCancelled;
}

class Run {
 public:
  Run(const HarvestSurroundings& around, const HarvestSettings& settings)
      : around_(around),
        settings_(settings),
        profile_(settings.profile),
        output_dir_(settings.output_dir.empty() ? ExecutableDir() : settings.output_dir),
        run_time_(ManifestTime(std::time(nullptr))) {}

  HarvestReport Execute() {
    Log(LogLineKind::kProgress, std::string(kLogSignIn));
    report_.sign_in_confirmed = true;
    PrepareClient();
    SignIn();
    HarvestScheduler photos(around_, settings_, report_);

    int sign_in_counter = 0;
    PageEnd end = PageEnd::kNextPage;
    for (int page = 1; end == PageEnd::kNextPage && !Stopping(); ++page) {
      if (page > kMostAlbumPages) {
        RefusePage(photos, page, Utf8ToAnsi("слишком много страниц"));
        break;
      }
      if (++sign_in_counter > kPagesPerSignIn) {
        // The jobs' clients live in the old session until they are done.
        photos.Settle();
        RenewClient();
        SignIn();
        photos.ShareCookies();
        sign_in_counter = 0;
      }
      photos.AddStep(
          [this] {
            if (around_.log.LogLineCount() > kLogLineLimit) around_.log.ClearLog();
          },
          HarvestScheduler::StepKind::kChore);
      around_.pump.ProcessMessages();
      if (Stopping()) break;
      end = HarvestPage(photos, page);
    }
    const bool walked = end == PageEnd::kAlbumDone && !Stopping();
    photos.Settle();
    report_.interrupted = Stopping();
    // Pages seen without a session may not show the whole album.
    const bool whole = walked && !report_.interrupted && report_.sign_in_confirmed;
    for (auto& [name, album] : albums_) album->Finish(whole);
    report_.folder = folder_;
    Log(LogLineKind::kClosing, SummaryLogLine(report_));
    std::string shown = folder_;
    if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
    around_.log.AddPathLine(FolderLogCaption(), shown);
    if (!report_.interrupted) Log(LogLineKind::kClosing, std::string(kLogDone));
    return std::move(report_);
  }

 private:
  bool Stopping() {
    if (StopRequested(around_.stop)) report_.interrupted = true;
    return report_.interrupted;
  }

  void Log(LogLineKind kind, const std::string& line) { around_.log.AddLogLineOf(kind, line); }

  enum class PageEnd { kNextPage, kAlbumDone, kWalkCut };

  // One album page: its line, its title and its photo pages, read before
  // the next page is, as when there is one job: a site may end the
  // session at any page.
  PageEnd HarvestPage(HarvestScheduler& photos, int page) {
    photos.SetPage(page);
    photos.AddStep([this, page] { Log(LogLineKind::kProgress, std::string(kLogPage) + IntToStr(page)); },
                   HarvestScheduler::StepKind::kPageLine);
    const std::string address = around_.fields.Edit4Text() + std::string(kPageQuery) + IntToStr(page);
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
    std::string album_text =
        ReplaceAll(fetched.failure ? CompleteLines(fetched.text) : fetched.text, "\"", "\r\n");
    // A NUL would end the text for the list: it reads as a space.
    std::replace(album_text.begin(), album_text.end(), '\0', ' ');

    bool more_pages = false;
    const std::string next_page = std::string(kPageQuery) + IntToStr(page + 1);
    std::vector<PhotoLink> links;
    for (std::string_view line : SplitPageText(album_text)) {
      if (Contains(line, next_page)) more_pages = true;
      if (Contains(line, kTitleMarker)) TakeTitle(line);
      if (Contains(line, kPhotoLinkMarker) && !Contains(line, kPhotoLinkExclusion)) {
        // Photos found before any title still go into a folder of their own.
        if (!album_) OpenFolder({}, {});
        links.push_back({profile_.SiteRoot + std::string(line), folder_, album_});
      }
    }
    // A page that shows only photo pages this run has seen repeats the
    // album (a site that answers every page number with the same page): the
    // album is done.
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
    photos.FinishPhotoPages();
    // What follows a page that could not be read is unknown.
    if (fetched.failure) return PageEnd::kWalkCut;
    return more_pages && !repeated ? PageEnd::kNextPage : PageEnd::kAlbumDone;
  }

  // A page the walk does not go to: a failed page, with `reason`.
  void RefusePage(HarvestScheduler& photos, int page, std::string reason) {
    PageOutcome& outcome = report_.pages.emplace_back();
    outcome.number = page;
    outcome.address = around_.fields.Edit4Text() + std::string(kPageQuery) + IntToStr(page);
    outcome.error = std::move(reason);
    photos.AddStep([this, line = PageFailureLogLine(outcome)] { Log(LogLineKind::kError, line); });
  }

  // The settings of the run that the client carries itself.
  void PrepareClient() {
    if (IHTTPClient* client = around_.client.IdHTTP1()) {
      client->SetTimeouts(settings_.transfer.connect_timeout_ms, settings_.transfer.read_timeout_ms);
      client->SetMaxTextBytes(settings_.transfer.max_page_bytes);
      client->SetTransferTimeout(settings_.transfer.PageDeadlineMs());
    }
  }

  TextTransfer Get(const std::string& address) {
    return TransferText([this] { return around_.client.IdHTTP1(); },
                        [this, &address](IHTTPClient& client, std::string& text) {
                          UseProxyFor(client, address, settings_.proxy);
                          client.GetText(address, text);
                        },
                        settings_.transfer, around_.stop);
  }

  // The sign-in is confirmed when its reply redirected or set a cookie; a
  // refusal does not end the run, as the album may be public.
  void SignIn() {
    const std::string address = profile_.SiteRoot + "/login/";
    bool redirected_or_cookie = false;
    TextTransfer posted = TransferText(
        [this] { return around_.client.IdHTTP1(); },
        [&](IHTTPClient& client, std::string& reply) {
          // The client encodes the values in place: every attempt starts
          // from a fresh form.
          ScratchLines& form = around_.scratch;
          form.Clear();
          const std::string login = around_.fields.Edit1Text();
          form.Add("return_url=/users/" + login + "/");
          form.Add("login=" + login);
          form.Add("domain=" + around_.fields.Edit3Text());
          form.Add("password=" + around_.fields.Edit2Text());
          form.Add("remember=on");
          UseProxyFor(client, address, settings_.proxy);
          client.PostFormText(address, form, reply);
          const IHTTPClient::ReplyFacts facts = client.LastReplyFacts();
          redirected_or_cookie = facts.redirected || facts.set_cookie;
        },
        settings_.transfer, around_.stop);
    if (Cancelled(posted.failure)) return;
    if (!posted.failure && redirected_or_cookie) return;
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
    if (!fresh) return;
    fresh->SetHandleRedirects(true);
    fresh->SetRequestUserAgent(std::string(kHarvestUserAgent));
    PrepareClient();
  }

  void TakeTitle(std::string_view line) {
    // The part before the suffix, read as a line of the scratch buffer is.
    const std::string text = ReadableUtf8(ReplaceAll(line, profile_.TitleSuffix, "\r\n"));
    const PageTitle title =
        CleanTitle(FirstCharacters(std::string_view(text).substr(0, text.find("\r\n")), ScratchLines::kMaxLineRead));
    OpenFolder(title.name, title.text);
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
      ChosenFolder chosen = ChooseAlbumFolder(base, album_url);
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
  std::string folder_;
  // The photo pages the album pages showed so far.
  std::unordered_set<std::string> seen_pages_;
  std::map<std::string, std::unique_ptr<AlbumFolder>> albums_;
  std::map<std::string, AlbumFolder*> named_;  // by the path the name gives
  AlbumFolder* album_ = nullptr;
  HarvestReport report_;
};

}  // namespace

std::vector<std::string_view> SplitPageText(std::string_view text) {
  // The list's rule: breaks at CR LF, lone CR and lone LF; the first NUL
  // ends the text.
  const size_t nul = text.find('\0');
  const bool has_nul = nul != std::string_view::npos;
  if (has_nul) text = text.substr(0, nul);
  std::vector<std::string_view> lines;
  lines.reserve(text.size() / 32 + 1);
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  while (p < end) {
    const char* q = p;
    while (q < end && *q != '\r' && *q != '\n') ++q;
    lines.emplace_back(p, size_t(q - p));
    if (q == end) break;
    p = q + ((*q == '\r' && q + 1 < end && q[1] == '\n') ? 2 : 1);
  }
  // Saved, the entry is followed by CR LF; read back, that break opens one
  // more (empty) line after a text that is empty or already ends in a
  // break. A NUL cuts the saved break away with the rest.
  if (!has_nul && (text.empty() || text.back() == '\r' || text.back() == '\n')) lines.emplace_back();
  return lines;
}

std::vector<FoundImage> ScanPhotoPage(std::string_view page_text, const SiteProfile& profile,
                                      ScratchLines& scratch) {
  std::vector<FoundImage> images;
  const std::string text = ReplaceAll(ReadableUtf8(page_text), "\"", "\r\n");
  scratch.Clear();
  scratch.Add(Utf8ToAnsi(text));
  // The same lines before the code page, for the titles' names.
  std::vector<std::string_view> lines;
  for (int k = 0, count = scratch.Count(); k < count; ++k) {
    if (!IsImageAddress(scratch.Line(k), profile.ImageHostMarker) ||
        !Contains(scratch.Line(k + 1), kImageTitleMarker))
      continue;
    if (lines.empty()) lines = CrLfPieces(text);
    const std::string_view title = size_t(k + 2) < lines.size() ? lines[size_t(k + 2)] : std::string_view();
    PageTitle cleaned = CleanTitle(FirstCharacters(title, ScratchLines::kMaxLineRead));
    images.push_back({std::string(scratch.Line(k)), std::move(cleaned.text), std::move(cleaned.name)});
  }
  return images;
}

HarvestReport RunHarvest(const HarvestSurroundings& around, const HarvestSettings& settings) {
  return Run(around, settings).Execute();
}

void HarvestLog::AddLogLineOf(LogLineKind, const std::string& line) { AddLogLine(line); }

void HarvestLog::AddPathLine(const std::string& line, const std::string& path) {
  AddLogLine(line + DisplayName(path));
}

}  // namespace ah
