#pragma once
// How the photo site's pages are read: an album page's lines give the next
// page's link, the album title and the photo pages; a photo page's lines
// give the full-size images with their titles.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/site/page_title.h"
#include "app/site/site_profile.h"

namespace ah {

class ScratchLines;

// The lines an album page gives after its quotes became line breaks: the
// lines a list holding the text as its one entry reads back after a round
// trip through a file, without the file. The views point into `text`.
std::vector<std::string_view> SplitPageText(std::string_view text);

// What an album page shows, told in page order.
struct AlbumPageFindings {
  std::function<void(const PageTitle& title)> title;
  // The photo page's address: the site root followed by the whole line.
  std::function<void(std::string address)> photo_page;
};
// Reads album page `page` as fetched (UTF-8 as the site sends it); true
// when it links the next page. The next-page test is a plain substring
// test, so page 2's query also matches inside page 20's.
bool ScanAlbumPage(std::string_view page_text, int page, const SiteProfile& profile,
                   const AlbumPageFindings& findings);

// A full-size image a photo page shows: its address line and its cleaned
// title, with the title's name for the disk (all UTF-8).
struct FoundImage {
  std::string address;
  std::string title;
  std::string name;
};
// The images of a photo page as fetched (UTF-8), in page order: a line
// that is the image host's address (the marker right after "http://" or
// "https://") followed by one holding the title marker. `scratch` is the
// line buffer the scan works in.
std::vector<FoundImage> ScanPhotoPage(std::string_view page_text, const SiteProfile& profile,
                                      ScratchLines& scratch);

}  // namespace ah
