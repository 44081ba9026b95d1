#pragma once
// Searching and splitting byte strings, the way the protocol code reads
// text. Positions are 1-based; 0 means "not found". The system code page is
// single-byte, so every search is a plain byte search.

#include <cstddef>
#include <string>
#include <string_view>

namespace ah {

// Position of the first occurrence of sub in text; 0 when absent or when
// sub is empty.
size_t TextPos(std::string_view sub, std::string_view text);

// Returns the text before the first delimiter (all of input when absent).
// With remove, input becomes the text after that delimiter (empty when
// absent). caseSensitive false hands over to TakeTokenNoCase.
std::string TakeToken(std::string& input, std::string_view delimiter = " ", bool remove = true,
                      bool case_sensitive = true);
// As TakeToken, finding the delimiter ignoring ASCII case; both pieces keep
// the case they had in input.
std::string TakeTokenNoCase(std::string& input, std::string_view delimiter = " ",
                            bool remove = true);

// Last position at or before start (-1: the end) where sub occurs, ignoring
// ASCII case; 0 when none.
size_t LastPos(std::string_view sub, std::string_view text, long start = -1);

// 1-based offset of sub inside the first size bytes of block; 0 when sub
// is empty, longer than size, or absent.
size_t PositionInMemory(std::string_view sub, const void* block, size_t size);

// 0-based index of the first entry equal to text; -1 when none.
template <typename Container>
int IndexInStringArray(std::string_view text, const Container& entries, bool case_sensitive);

bool SameTextAscii(std::string_view a, std::string_view b);

template <typename Container>
int IndexInStringArray(std::string_view text, const Container& entries, bool case_sensitive) {
  int i = 0;
  for (const auto& entry : entries) {
    std::string_view e(entry);
    if (case_sensitive ? e == text : SameTextAscii(e, text)) return i;
    ++i;
  }
  return -1;
}

}  // namespace ah
