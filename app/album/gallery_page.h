#pragma once
// The gallery page, index.html in the album folder: the album at a glance
// in any browser, offline. Made from the manifest alone and rewritten
// with it: the title, the source address, the counts, a grid of the saved
// images (each a thumbnail that opens the full image), and the photos that
// failed with their errors. One file of plain HTML and CSS that loads
// nothing from the network and runs no script.

#include <filesystem>
#include <string>
#include <string_view>

#include "app/album/album_manifest.h"

namespace ah {

inline constexpr std::string_view kGalleryFileName = "index.html";

// The page (UTF-8).
std::string GalleryHtml(const AlbumManifest& manifest);
// Replaces index.html of the folder atomically (flushed to disk or not);
// raises EFCreateError when it cannot.
void WriteGallery(const std::filesystem::path& folder, const AlbumManifest& manifest,
                  bool flush_to_disk = true);

// Text (UTF-8) made safe inside an element or a quoted attribute.
std::string HtmlEscape(std::string_view utf8);
// A file name (UTF-8) as a relative address: every byte but letters,
// digits and "-._~" percent-encoded, so no name reads as a scheme, a
// query, a fragment or a path.
std::string FileNameAddress(std::string_view utf8_name);

}  // namespace ah
