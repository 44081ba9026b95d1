#include "platform/code_page.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace ah {
namespace {

// The system's own converter, as an independent reference.
std::string Iconv(const char* to, const char* from, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, iconv_t(-1));
  std::string out(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  if (r == size_t(-1)) return "<iconv failed>";
  out.resize(out.size() - dst_left);
  return out;
}

TEST(CodePage, EveryByteMatchesTheSystemConverterBothWays) {
  for (int b = 1; b < 256; ++b) {
    if (b == 0x98) continue;  // unassigned in Windows-1251
    std::string ansi(1, char(b));
    std::string utf8 = Iconv("UTF-8", "WINDOWS-1251", ansi);
    EXPECT_EQ(AnsiToUtf8(ansi), utf8) << "byte " << b;
    EXPECT_EQ(Utf8ToAnsi(utf8), ansi) << "byte " << b;
  }
}

TEST(CodePage, UnassignedByteRoundTrips) {
  EXPECT_EQ(AnsiToUtf8("\x98"), "\xC2\x98");
  EXPECT_EQ(Utf8ToAnsi("\xC2\x98"), "\x98");
}

TEST(CodePage, CyrillicTextConverts) {
  EXPECT_EQ(Utf8ToAnsi("Фото №1 ёЁ"), "\xD4\xEE\xF2\xEE \xB9" "1 \xB8\xA8");
  EXPECT_EQ(AnsiToUtf8("\xD4\xEE\xF2\xEE \xB9" "1 \xB8\xA8"), "Фото №1 ёЁ");
  EXPECT_EQ(Utf8ToAnsi(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(Utf8ToAnsi(""), "");
}

TEST(CodePage, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  struct Case {
    std::string utf8, ansi;
  } cases[] = {
      {"caf\xC3\xA9", "caf?"},                 // é
      {"\xE4\xB8\xAD\xE6\x96\x87", "??"},      // two CJK characters
      {"x\xF0\x9F\x98\x80y", "x?y"},           // an emoji: one character, one "?"
      {"\xEF\xBB\xBF" "A", "?A"},                // byte order mark
      {"\xF4\x8F\xBF\xBF", "?"},               // U+10FFFF
  };
  for (auto& c : cases) EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi) << testing::PrintToString(c.utf8);
}

TEST(CodePage, MalformedUtf8GivesEmptyText) {
  const std::string cases[] = {
      "ok\x80",              // stray continuation byte
      "\xD0",                // truncated at the end
      "\xD0" "A",            // missing continuation
      "\xE2\x82",            // truncated three-byte form
      "\xC0\xAF",            // overlong "/"
      "\xE0\x80\xAF",        // overlong three-byte form
      "\xED\xA0\x80",        // surrogate
      "\xF4\x90\x80\x80",    // past U+10FFFF
      "\xF8\x88\x80\x80\x80",  // five-byte form
      "\xFF",
      "Альбом\xD0",
  };
  for (auto& c : cases) EXPECT_EQ(Utf8ToAnsi(c), "") << testing::PrintToString(c);
}

TEST(CodePage, LossyConversionMarksEachBadByteAndKeepsTheRest) {
  struct Case {
    std::string utf8, ansi;
  } cases[] = {
      {"Альбом", "\xC0\xEB\xFC\xE1\xEE\xEC"},
      {"ok\x80", "ok?"},
      {"\xD0" "A", "?A"},
      {"\xC0\xAF/", "?\?/"},
      {"\xED\xA0\x80x", "???x"},
      {"日本", "??"},
      {"\xE2\x80\x94", "\x97"},  // em dash
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToAnsiLossy(c.utf8), c.ansi) << testing::PrintToString(c.utf8);
}

}  // namespace
}  // namespace ah
