#include "app/site/text_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace ah {
namespace {

// The routine exactly as the site's original steps give it (rebuilding the
// whole text at each occurrence), kept here only to compare results.
std::string ReplaceAllByRebuilding(const std::string& source, const std::string& pattern,
                                   const std::string& replacement) {
  std::string output = source, rest = source;
  if (pattern.empty()) return output;
  for (size_t p = rest.find(pattern); p != std::string::npos; p = rest.find(pattern)) {
    rest = rest.substr(p);
    std::string head = output.substr(0, output.size() - rest.size());
    rest = rest.substr(pattern.size());
    output = head + replacement + rest;
  }
  return output;
}

TEST(ReplaceAll, GivesTheDocumentedResults) {
  struct Case {
    std::string source, pattern, replacement, expected;
  } cases[] = {
      {"aaa", "aa", "b", "ba"},
      {"\\\\\\", "\\\\", "\\", "\\\\"},
      {"x", "x", "xx", "xx"},
      {"abc", "", "z", "abc"},
      {"", "a", "b", ""},
      {"", "", "", ""},
      {"a\"b\"\"c", "\"", "\r\n", "a\r\nb\r\n\r\nc"},
      {"*a*b*", "*", "", "ab"},
      {"abab", "ab", "", ""},
      {"no match", "zz", "y", "no match"},
      {"x/a//b///c", "//", "/", "x/a/b//c"},
      {std::string("a\0b\0", 4), std::string("\0", 1), "-", "a-b-"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.source) + " / " + testing::PrintToString(c.pattern));
    EXPECT_EQ(ReplaceAll(c.source, c.pattern, c.replacement), c.expected);
    EXPECT_EQ(ReplaceAllByRebuilding(c.source, c.pattern, c.replacement), c.expected);
  }
}

TEST(ReplaceAll, AgreesWithTheRebuildingStepsOnGeneratedTexts) {
  const std::string alphabet = "ab\"\r\n";
  const std::string patterns[] = {"a", "ab", "aa", "\"", "\r\n", "ba", "aba"};
  const std::string replacements[] = {"", "a", "aa", "\r\n", "b"};
  unsigned seed = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string source;
    int len = round % 23;
    for (int i = 0; i < len; ++i) {
      seed = seed * 1103515245 + 12345;
      source += alphabet[(seed >> 16) % alphabet.size()];
    }
    for (auto& p : patterns)
      for (auto& r : replacements)
        ASSERT_EQ(ReplaceAll(source, p, r), ReplaceAllByRebuilding(source, p, r))
            << testing::PrintToString(source) << " " << testing::PrintToString(p) << " -> "
            << testing::PrintToString(r);
  }
}

TEST(StripTags, DropsTagsStrayClosersCrAndNul) {
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"<b>word</b> second", "word second"},
      {"a > b", "a  b"},
      {"x<y", "x"},
      {"line\r", "line"},
      {"", ""},
      {std::string("a\0b", 3), "ab"},
      {"tab\there\nlf", "tab\there\nlf"},
      {"<a href=x>in</a>", "in"},
      {"<<a>b", "b"},
      {">>a", "a"},
      {"a<b>c<d", "ac"},
  };
  for (auto& c : cases) EXPECT_EQ(StripTags(c.text), c.expected) << testing::PrintToString(c.text);
}

TEST(CleanFileTitle, DeletesOnlyTheElevenCharacters) {
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"Who? Me!", "Who Me"},
      {"Rome 2.0 #1", "Rome 20 1"},
      {"a:b c", "a:b c"},
      {"A*B", "AB"},
      {"A.B/C?", "ABC"},
      {"*/\\|<>?.!#$", ""},
      {" .x. ", " x "},
      {"\xD4\xEE\xF2\xEE $100", "\xD4\xEE\xF2\xEE 100"},
      {"", ""},
  };
  for (auto& c : cases) EXPECT_EQ(CleanFileTitle(c.text), c.expected) << testing::PrintToString(c.text);
}

}  // namespace
}  // namespace ah
