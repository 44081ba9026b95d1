#include "app/site/text_helpers.h"

namespace ah {

std::string ReplaceAll(std::string_view source, std::string_view pattern, std::string_view replacement) {
  size_t at = pattern.empty() ? std::string_view::npos : source.find(pattern);
  if (at == std::string_view::npos) return std::string(source);
  std::string out;
  out.reserve(source.size() + (replacement.size() > pattern.size() ? source.size() / 4 : 0));
  size_t from = 0;
  do {
    out.append(source, from, at - from);
    out.append(replacement);
    from = at + pattern.size();
    at = source.find(pattern, from);
  } while (at != std::string_view::npos);
  out.append(source, from);
  return out;
}

std::string StripTags(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool in_tag = false;
  for (char c : text) {
    if (c == '>') {
      in_tag = false;
    } else if (c == '<' || in_tag) {
      in_tag = true;
    } else if (c != '\0' && c != '\r') {
      out.push_back(c);
    }
  }
  return out;
}

std::string CleanFileTitle(std::string_view text) {
  // Deleting single characters one kind after another gives the same text
  // as deleting them all in one pass.
  constexpr std::string_view kUnwanted = "*/\\|<>?.!#$";
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (kUnwanted.find(c) == std::string_view::npos) out.push_back(c);
  return out;
}

}  // namespace ah
