#include "app/site/page_scan.h"

#include <algorithm>

#include "app/site/scratch_lines.h"
#include "app/site/text_helpers.h"
#include "framework/sysutils.h"
#include "http/uri_resolution.h"

namespace ah {
namespace {

// A substring test as the platform's position search makes it: an empty
// needle is never found.
bool Contains(std::string_view text, std::string_view needle) {
  return !needle.empty() && text.find(needle) != std::string_view::npos;
}

// The image address of a photo page names the image host right after its
// scheme; the marker anywhere else (in another host's query, say) is not
// the image host.
bool IsImageAddress(std::string_view line, std::string_view marker) {
  // No web scheme is longer than "https".
  const size_t scheme_end = line.substr(0, 8).find("://");
  return scheme_end != std::string_view::npos && !DefaultPort(line.substr(0, scheme_end)).empty() &&
         !marker.empty() && line.substr(scheme_end + 3).starts_with(marker);
}

// The title of a title line: the part before the suffix, read as a line
// of the scratch buffer is.
PageTitle TitleOfLine(std::string_view line, const SiteProfile& profile) {
  const std::string text = ReadableUtf8(ReplaceAll(line, profile.TitleSuffix, "\r\n"));
  return CleanTitle(FirstCharacters(std::string_view(text).substr(0, text.find("\r\n")), ScratchLines::kMaxLineRead));
}

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

bool ScanAlbumPage(std::string_view page_text, int page, const SiteProfile& profile,
                   const AlbumPageFindings& findings) {
  std::string text = ReplaceAll(page_text, "\"", "\r\n");
  // A NUL would end the text for the list: it reads as a space.
  std::replace(text.begin(), text.end(), '\0', ' ');
  const std::string next_page = profile.PageQuery + IntToStr(page + 1);
  bool more_pages = false;
  for (std::string_view line : SplitPageText(text)) {
    if (Contains(line, next_page)) more_pages = true;
    if (Contains(line, profile.TitleMarker)) findings.title(TitleOfLine(line, profile));
    if (Contains(line, profile.PhotoLinkMarker) && !Contains(line, profile.PhotoLinkExclusion))
      findings.photo_page(profile.SiteRoot + std::string(line));
  }
  return more_pages;
}

std::vector<FoundImage> ScanPhotoPage(std::string_view page_text, const SiteProfile& profile,
                                      ScratchLines& scratch) {
  std::vector<FoundImage> images;
  const std::string text = ReplaceAll(ReadableUtf8(page_text), "\"", "\r\n");
  scratch.Clear();
  scratch.Add(text);
  // The scratch buffer's lines, each as far as the buffer reads a line.
  const std::vector<std::string_view> pieces = CrLfPieces(text);
  auto line = [&pieces](size_t k) {
    return k < pieces.size() ? FirstCharacters(pieces[k], ScratchLines::kMaxLineRead) : std::string_view();
  };
  const std::string_view marker = profile.ImageHostMarker;
  for (size_t k = 0; k < pieces.size(); ++k) {
    // The cut line is a start of the whole one: the whole one is tested first.
    if (!IsImageAddress(pieces[k], marker)) continue;
    const std::string_view address = line(k);
    if (!IsImageAddress(address, marker) || !Contains(line(k + 1), profile.ImageTitleMarker)) continue;
    PageTitle cleaned = CleanTitle(line(k + 2));
    images.push_back({std::string(address), std::move(cleaned.text), std::move(cleaned.name)});
  }
  return images;
}

}  // namespace ah
