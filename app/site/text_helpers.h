#pragma once
// Text routines of the harvest run, over 8-bit text (any byte, NUL
// included); comparisons are exact bytes.

#include <string>
#include <string_view>

namespace ah {

// Replaces every occurrence of `pattern`, left to right and without
// overlap; inserted text is never searched again. An empty pattern is never
// found. Linear in the size of source and result.
std::string ReplaceAll(std::string_view source, std::string_view pattern, std::string_view replacement);

// Drops everything from "<" to the next ">" (an unclosed "<" drops the
// rest), a ">" outside a tag, and every CR and NUL.
std::string StripTags(std::string_view text);

// Deletes each of * / \ | < > ? . ! # $; nothing else changes (no trimming).
std::string CleanFileTitle(std::string_view text);

}  // namespace ah
