// Random and truncated inputs for the parsers: none may crash, hang or
// raise. Fixed seeds and bounded counts keep the runs repeatable.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "framework/date_time.h"
#include "http/protocol_utils.h"

namespace ah {
namespace {

constexpr int kRounds = 4000;

// Builds texts from the tokens the parsers split at, mixed with raw bytes.
class TextSource {
 public:
  TextSource(unsigned seed, std::vector<std::string> tokens)
      : random_(seed), tokens_(std::move(tokens)) {}

  std::string Next() {
    std::string text;
    const int parts = Pick(12);
    for (int i = 0; i < parts; ++i) {
      if (Pick(4) == 0) text += char(Pick(256));
      else text += tokens_[size_t(Pick(int(tokens_.size())))];
    }
    return text;
  }
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

 private:
  std::mt19937 random_;
  std::vector<std::string> tokens_;
};

// Every prefix of every sample, then random texts.
template <typename Check>
void Feed(unsigned seed, const std::vector<std::string>& samples, std::vector<std::string> tokens,
          Check check) {
  for (const std::string& sample : samples)
    for (size_t n = 0; n <= sample.size(); ++n) check(sample.substr(0, n));
  TextSource source(seed, std::move(tokens));
  for (int i = 0; i < kRounds; ++i) check(source.Next());
}

const std::vector<std::string> kDateTokens = {
    "Sun", "Sunday", "Mon", ",", " ", "  ", "-", ":", "Nov", "nov", "Feb", "GMT", "+", "0200",
    "06", "6", "94", "1994", "70", "08:49:37", "25", "99", "0", "00", "9999999999", "$ff", "0x",
};

TEST(ParserFuzz, InternetDatesNeverRaise) {
  const TDateTime lowest = EncodeDate(1, 1, 1), highest = EncodeDate(9999, 12, 31) + 1;
  Feed(1, {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
           "Sun Nov  6 08:49:37 1994", "Thu, 01-Jan-70 00:00:01 +0200"},
       kDateTokens, [&](const std::string& input) {
         std::string text = input;
         TDateTime value = 0;
         ASSERT_NO_THROW(value = ParseInternetDate(text)) << input;
         EXPECT_TRUE(value == 0 || (value >= lowest && value < highest)) << input;
         EXPECT_LE(text.size(), input.size()) << input;
         ASSERT_NO_THROW(InternetDateToLocal(input)) << input;
       });
}

TEST(ParserFuzz, ZoneOffsetsStayWithinADay) {
  Feed(2, {"+0200", "-0530", " -2359 "}, {"+", "-", "0", "5", "9", "23", "59", "60", " ", "x"},
       [](const std::string& input) {
         TDateTime offset = 0;
         ASSERT_NO_THROW(offset = ParseZoneOffset(input)) << input;
         EXPECT_LT(std::abs(offset), 1.0) << input;
       });
}

TEST(ParserFuzz, MergedPathsHaveNoEmptySegments) {
  TextSource bases(3, {"/", "a", "b", ".", "..", "//"});
  Feed(4, {"../e/", "a/./../b//c", "../../.."}, {"/", "a", "b", ".", "..", "//", "x.html"},
       [&](const std::string& path) {
         const std::string base = bases.Next();
         std::string merged;
         ASSERT_NO_THROW(merged = MergeRelativePath(base, path, "/")) << base << " + " << path;
         if (path.empty() || path[0] != '/')
           EXPECT_EQ(merged.find("//"), std::string::npos) << base << " + " << path;
         else
           EXPECT_EQ(merged, path);
       });
}

}  // namespace
}  // namespace ah
