#include "framework/text_tokens.h"

#include <cstring>

#include "framework/sysutils.h"

namespace ah {

size_t TextPos(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  size_t p = text.find(sub);
  return p == std::string_view::npos ? 0 : p + 1;
}

namespace {
std::string SplitAt(std::string& input, size_t pos, size_t delimiter_length, bool remove) {
  if (pos == 0) {
    std::string all = input;
    if (remove) input.clear();
    return all;
  }
  std::string head = input.substr(0, pos - 1);
  if (remove) input.erase(0, pos - 1 + delimiter_length);
  return head;
}
}  // namespace

std::string TakeToken(std::string& input, std::string_view delimiter, bool remove,
                      bool case_sensitive) {
  if (!case_sensitive) return TakeTokenNoCase(input, delimiter, remove);
  return SplitAt(input, TextPos(delimiter, input), delimiter.size(), remove);
}

std::string TakeTokenNoCase(std::string& input, std::string_view delimiter, bool remove) {
  size_t pos = (delimiter.size() == 1 && delimiter[0] == '\0')
                   ? TextPos(delimiter, input)
                   : TextPos(UpperCase(delimiter), UpperCase(input));
  return SplitAt(input, pos, delimiter.size(), remove);
}

bool SameTextAscii(std::string_view a, std::string_view b) { return SameText(a, b); }

size_t LastPos(std::string_view sub, std::string_view text, long start) {
  long len = long(text.size()), sub_len = long(sub.size());
  if (start == -1) start = len;
  long highest = len - sub_len + 1;
  if (start > highest) start = highest;
  for (long i = start; i >= 1; --i)
    if (SameText(text.substr(size_t(i - 1), size_t(sub_len)), sub)) return size_t(i);
  return 0;
}

size_t PositionInMemory(std::string_view sub, const void* block, size_t size) {
  if (sub.empty() || size < sub.size() || !block) return 0;
  const void* hit = memmem(block, size, sub.data(), sub.size());
  return hit ? size_t(static_cast<const char*>(hit) - static_cast<const char*>(block)) + 1 : 0;
}

}  // namespace ah
