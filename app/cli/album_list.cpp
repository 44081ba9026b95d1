#include "app/cli/album_list.h"

#include <algorithm>
#include <set>

#include "framework/sysutils.h"
#include "http/uri_resolution.h"

namespace ah {

bool IsAlbumAddress(std::string_view address) {
  return WebOriginOf(address).has_value();
}

std::vector<ListedAlbum> ReadAlbumList(std::string_view text) {
  std::vector<ListedAlbum> albums;
  int number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
    albums.push_back({std::string(line), number});
  }
  return albums;
}

namespace {

// What tells albums apart: the scheme and host in any letter case, the port
// (the scheme's default when none is written) and the rest of the address;
// the user information is no part of it.
std::string AlbumKey(std::string_view address) {
  const std::optional<WebOrigin> origin = WebOriginOf(address);
  if (!origin) return std::string(address);
  const std::string_view rest = address.substr(std::min(address.size(), origin->root.size()));
  return LowerCase(origin->scheme) + "://" + LowerCase(origin->host) + ":" +
         std::to_string(origin->port) + std::string(rest);
}

}  // namespace

void KeepFirstOfEach(std::vector<std::string>& albums) {
  std::set<std::string> seen;
  std::vector<std::string> kept;
  for (std::string& album : albums)
    if (seen.insert(AlbumKey(album)).second) kept.push_back(std::move(album));
  albums = std::move(kept);
}

}  // namespace ah
