#include "app/harvest_run.h"

#include "app/download_to_file.h"
#include "app/scratch_lines.h"
#include "app/text_helpers.h"
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

class Run {
 public:
  Run(const HarvestSurroundings& around, const HarvestSettings& settings)
      : around_(around),
        profile_(settings.profile),
        output_dir_(settings.output_dir.empty() ? ExecutableDir() : settings.output_dir) {}

  void Execute() {
    around_.log.AddLogLine(std::string(kLogSignIn));
    SignIn();

    std::string album_text;
    std::vector<std::string_view> lines;
    int sign_in_counter = 0;
    int page = 1;
    bool more_pages = true;
    while (more_pages) {
      if (++sign_in_counter > kPagesPerSignIn) {
        RenewClient();
        SignIn();
        sign_in_counter = 0;
      }
      if (around_.log.LogLineCount() > kLogLineLimit) around_.log.ClearLog();
      around_.pump.ProcessMessages();
      around_.log.AddLogLine(std::string(kLogPage) + IntToStr(page));
      Fetch(around_.fields.Edit4Text() + std::string(kPageQuery) + IntToStr(page));
      // The lines point into album_text, which stays put while photo pages
      // overwrite page_text_.
      album_text = ReplaceAll(page_text_, "\"", "\r\n");
      page_text_ = album_text;
      lines = SplitPageText(album_text);

      more_pages = false;
      const std::string next_page = std::string(kPageQuery) + IntToStr(page + 1);
      for (std::string_view line : lines) {
        if (Contains(line, next_page)) more_pages = true;
        if (Contains(line, kTitleMarker)) TakeTitle(line);
        if (Contains(line, kPhotoLinkMarker) && !Contains(line, kPhotoLinkExclusion)) HarvestPhotoPage(line);
      }
      ++page;
    }
    around_.log.AddLogLine(std::string(kLogDone));
  }

 private:
  void SignIn() {
    ScratchLines& form = around_.scratch;
    form.Clear();
    const std::string login = around_.fields.Edit1Text();
    form.Add("return_url=/users/" + login + "/");
    form.Add("login=" + login);
    form.Add("domain=" + around_.fields.Edit3Text());
    form.Add("password=" + around_.fields.Edit2Text());
    form.Add("remember=on");
    std::string reply;
    try {
      if (IHTTPClient* client = around_.client.IdHTTP1())
        client->PostFormText(profile_.SiteRoot + "/login/", form, reply);
    } catch (...) {
      // A refused sign-in goes unnoticed; the pages tell nothing either way.
    }
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
  }

  // A failed fetch leaves in page_text_ what the client left there: the
  // stale text of the previous page, or the part of the body that arrived.
  void Fetch(const std::string& address) {
    try {
      if (IHTTPClient* client = around_.client.IdHTTP1()) client->GetText(address, page_text_);
    } catch (...) {
    }
  }

  void TakeTitle(std::string_view line) {
    ScratchLines& scratch = around_.scratch;
    scratch.Clear();
    scratch.Add(Utf8ToAnsi(ReplaceAll(line, profile_.TitleSuffix, "\r\n")));
    const std::string title = CleanFileTitle(Trim(StripTags(scratch.Line(0))));
    folder_ = ReplaceAll(output_dir_ + "/" + title + "/", "//", "/");
    if (!DirectoryExists(folder_)) CreateDir(folder_);
  }

  void HarvestPhotoPage(std::string_view line) {
    Fetch(profile_.SiteRoot + std::string(line));
    page_text_ = ReplaceAll(Utf8ToAnsi(page_text_), "\"", "\r\n");
    ScratchLines& scratch = around_.scratch;
    scratch.Clear();
    scratch.Add(page_text_);
    for (int k = 0, count = scratch.Count(); k < count; ++k) {
      if (!Contains(scratch.Line(k), profile_.ImageHostMarker) || !Contains(scratch.Line(k + 1), kImageTitleMarker))
        continue;
      const std::string title = CleanFileTitle(Trim(StripTags(scratch.Line(k + 2))));
      DownloadToFile(scratch.Line(k), folder_ + IntToStr(photo_number_) + "_" + title + ".jpg");
      around_.log.AddLogLine("  " + title);
      ++photo_number_;
    }
  }

  const HarvestSurroundings& around_;
  const SiteProfile profile_;
  const std::string output_dir_;
  std::string page_text_;
  std::string folder_;
  int photo_number_ = 1;
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

void RunHarvest(const HarvestSurroundings& around, const HarvestSettings& settings) {
  Run(around, settings).Execute();
}

}  // namespace ah
