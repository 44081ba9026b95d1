#include "app/site/page_title.h"

#include <algorithm>
#include <charconv>

#include "app/site/text_helpers.h"
#include "framework/sysutils.h"
#include "platform/code_page.h"

namespace ah {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The characters a name keeps: control characters (C0, DEL and C1) become
// spaces, and U+FFFD, which stands for bytes that were not text, goes.
std::string NameOnDisk(std::string_view utf8) {
  std::string name;
  name.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x20 || b == 0x7F) {
      name += ' ';
    } else if (b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
      name += ' ';  // U+0080..U+009F
      ++i;
    } else if (utf8.substr(i).starts_with(kReplacement)) {
      i += kReplacement.size() - 1;
    } else {
      name += utf8[i];
    }
  }
  return name;
}

// The code point of a numeric reference's digits; 0 when there is none.
char32_t NumericReference(std::string_view digits, int base) {
  unsigned long value = 0;
  if (digits.empty() || digits.size() > 8) return 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (ec != std::errc() || end != digits.data() + digits.size()) return 0;
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return char32_t(value);
}

}  // namespace

std::string DecodeCharacterReferences(std::string_view utf8) {
  static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
      {"amp;", "&"}, {"lt;", "<"}, {"gt;", ">"}, {"quot;", "\""}, {"#39;", "'"}};
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] != '&') {
      out += utf8[i];
      continue;
    }
    const std::string_view rest = utf8.substr(i + 1);
    const auto named = std::find_if(std::begin(kNamed), std::end(kNamed),
                                    [rest](const auto& n) { return rest.starts_with(n.first); });
    if (named != std::end(kNamed)) {
      out += named->second;
      i += named->first.size();
      continue;
    }
    const size_t semicolon = rest.find(';');
    char32_t cp = 0;
    if (rest.starts_with('#') && semicolon != std::string_view::npos) {
      const bool hex = rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X');
      cp = NumericReference(rest.substr(hex ? 2 : 1, semicolon - (hex ? 2 : 1)), hex ? 16 : 10);
    }
    if (cp == 0) {
      out += '&';
      continue;
    }
    AppendUtf8(out, cp);
    i += semicolon + 1;
  }
  return out;
}

PageTitle CleanTitle(std::string_view markup) {
  const std::string cleaned = CleanFileTitle(Trim(DecodeCharacterReferences(StripTags(markup))));
  // A character the code page lacks becomes "?", which cleaning removes, as
  // it always did in the text.
  return {AnsiToUtf8(CleanFileTitle(Utf8ToAnsi(cleaned))), NameOnDisk(cleaned)};
}

std::string ReadableUtf8(std::string_view bytes) {
  std::string text = RepairUtf8(bytes);
  std::replace(text.begin(), text.end(), '\0', ' ');
  return text;
}

std::string_view FirstCharacters(std::string_view utf8, size_t count) {
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
    if (count-- == 0) return utf8.substr(0, i);
  }
  return utf8;
}

}  // namespace ah
