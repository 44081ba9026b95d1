#pragma once
// Markup of the demo site's pages (UTF-8). The harvester reads these pages
// line by line and between double quotes, so the layout rules below are the
// contract with it:
// - the <title> line holds the page title, the title suffix and </title>;
// - every album page but the last links "?page=" + (page + 1), and no page
//   links past the last page;
// - a signed-in album page links each photo once with a quoted href ending in
//   "/#mainImageLink"; one script handler per album page carries
//   "/#mainImageLink" and "); return" in the same quoted value (the decoy);
// - a photo page holds the full-size image address as a quoted value followed
//   by title="..." exactly once; other image-host addresses on it are either
//   thumbnails (not under /photo) or not followed by a title attribute.
// Titles are inserted as they are: none holds a double quote or "&".

#include <string>
#include <string_view>
#include <vector>

#include "tools/album-demo-site/demo_album.h"

namespace ah {

// image_root is the image host's root address ("http://127.0.0.1:PORT").
// signed_in_as is the signed-in login, empty for a guest (no photo links).
std::string AlbumPageHtml(const DemoAlbum& album, std::string_view image_root, int page,
                          std::string_view signed_in_as);
std::string PhotoPageHtml(const DemoAlbum& album, std::string_view image_root, int id,
                          std::string_view signed_in_as);
// The sign-in form; refused adds the wrong-credentials notice.
std::string LoginPageHtml(const DemoAlbum& album, std::string_view domain,
                          std::string_view return_url, bool refused);
// Every album of the user; the first one's site and user name the page.
std::string UserPageHtml(const std::vector<DemoAlbum>& albums, std::string_view image_root,
                         std::string_view signed_in_as);
std::string HomePageHtml(const DemoAlbum& album, std::string_view signed_in_as);
std::string NotFoundHtml(const DemoAlbum& album);

std::string_view SiteCss();
std::string_view SiteScript();

}  // namespace ah
