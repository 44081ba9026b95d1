#pragma once
// The album addresses of a run: those the arguments name and those an input
// file lists, one a line, as wget and gallery-dl read theirs.

#include <string>
#include <string_view>
#include <vector>

namespace ah {

// Whether `address` can be an album's: an http or https address (in any
// letter case) that names a host.
bool IsAlbumAddress(std::string_view address);

struct ListedAlbum {
  std::string address;
  int line = 0;  // from 1
};

// The addresses of an input file's text, in order: spaces, tabs and a CR
// around each line are dropped, and empty lines and lines starting with "#"
// are skipped.
std::vector<ListedAlbum> ReadAlbumList(std::string_view text);

// Drops every address of an album named before, keeping the order of first
// mention: addresses that differ only in the letter case of the scheme or
// host, a default port written out or the user information are one album.
void KeepFirstOfEach(std::vector<std::string>& albums);

}  // namespace ah
