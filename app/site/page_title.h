#pragma once
// Titles as a site's pages show them, in the two forms the run keeps:
// text for the log, the manifest and the gallery, cleaned through the code
// page (Windows-1251) as titles always were, and a name for the disk that
// keeps every character the title has.

#include <string>
#include <string_view>

namespace ah {

struct PageTitle {
  std::string text;  // UTF-8; what the code page cannot hold is left out
  std::string name;  // UTF-8 without control characters, for names on disk
};

// `markup` is UTF-8 that hides nothing (see ReadableUtf8): its tags are
// stripped, its character references decoded, its ends trimmed and the
// characters that names do not take removed.
PageTitle CleanTitle(std::string_view markup);

// "&amp;", "&lt;", "&gt;", "&quot;", "&#39;" and numeric references
// ("&#1046;", "&#x416;") as the characters they stand for; anything else,
// "&#0;" included, stays as written.
std::string DecodeCharacterReferences(std::string_view utf8);

// Page text (UTF-8 as the site sends it) in which a NUL reads as a space
// and each byte that is not UTF-8 as U+FFFD: neither hides what follows.
std::string ReadableUtf8(std::string_view bytes);

// At most the first `count` characters of UTF-8 text.
std::string_view FirstCharacters(std::string_view utf8, size_t count);

}  // namespace ah
