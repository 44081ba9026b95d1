#include "http/header_list.h"

#include <gtest/gtest.h>

namespace ah {
namespace {

using Lines = std::vector<std::string>;

std::string Words(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += (i ? " w" : "w") + std::to_string(i % 10) + "xyz";
  return s;
}

TEST(HeaderList, LongValueFoldsIntoContinuationLinesAndReadsBackJoined) {
  TIdHeaderList list;
  const std::string value = Words(33);  // 33 * 6 - 1 = 197 characters
  list.SetHeaderValue("X-Long", value);
  ASSERT_GT(list.Count(), 2);
  EXPECT_EQ(list[0].rfind("X-Long: w0xyz", 0), 0u);
  for (int i = 0; i < list.Count(); ++i) {
    EXPECT_LE(list[i].size(), 78u) << list[i];
    EXPECT_EQ(list[i].back() != ' ', true) << "trailing blank kept: " << list[i];
    if (i > 0) {
      EXPECT_EQ(list[i][0], ' ') << list[i];
    }
  }
  EXPECT_EQ(list.HeaderValue("x-long"), value);
}

TEST(HeaderList, FoldTextBreaksAfterTheLastBreakCharacterBeforeTheWidth) {
  struct Case {
    std::string line;
    int width;
    std::string expected;
  } cases[] = {
      {"aaa bbb ccc", 100, "aaa bbb ccc"},
      {"aaa bbb ccc", 8, "aaa bbb \r\n ccc"},
      {"aaa bbb ccc", 5, "aaa \r\n bbb \r\n ccc"},
      {"aaa,bbb", 5, "aaa,\r\n bbb"},
      {"aaa, bbb", 5, "aaa, \r\n bbb"},
      // A word longer than the width is never cut.
      {"abcdefghijkl", 4, "abcdefghijkl"},
      {"abcdefghijkl mn", 4, "abcdefghijkl \r\n mn"},
      // Quoted strings are never broken; no break is added before the last
      // character.
      {"a \"b c d e f g\" h", 5, "a \r\n \"b c d e f g\" h"},
      {"a \"b c d e f g\" hi", 5, "a \r\n \"b c d e f g\" \r\n hi"},
      // An existing break is kept and no second one is added.
      {"aa\r\n bb", 100, "aa\r\n bb"},
      {"", 10, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TIdHeaderList::FoldText(c.line, "\r\n ", "\t ,", c.width), c.expected)
        << "input: " << testing::PrintToString(c.line) << " width " << c.width;
}

TEST(HeaderList, QuotedStringLongerThanTheFoldWidthStaysOnOneLine) {
  TIdHeaderList list;
  const std::string quoted = "\"" + Words(20) + "\"";
  list.SetHeaderValue("WWW-Authenticate", "Basic realm=" + quoted);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], "WWW-Authenticate: Basic realm=" + quoted);
}

TEST(HeaderList, FoldHeaderLineCutsAtLineBreaksAndTrimsPieces) {
  TIdHeaderList list;
  list.SetFoldWidth(10);
  auto pieces = list.FoldHeaderLine("Name: aaaa bbbb cccc");
  EXPECT_EQ(pieces->Lines(), (Lines{"Name:", " aaaa bbbb", " cccc"}));
}

TEST(HeaderList, BlankPiecesOfAFoldedValueLeaveNoEmptyLines) {
  TIdHeaderList list;
  list.SetFoldWidth(1);
  list.SetText("A: 1");
  list.SetHeaderValue("X", std::string("x \x01", 3));
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "X:", " x"}));
  list.SetHeaderValue("X", "");
  EXPECT_EQ(list.Lines(), (Lines{"A: 1"}));
}

TEST(HeaderList, NameOfLineUpperCasesUnlessMatchCase) {
  TIdHeaderList list;
  list.Add("Content-Type: text/plain");
  list.Add("no separator here");
  list.Add("X:y");
  EXPECT_EQ(list.NameOfLine(0), "CONTENT-TYPE");
  EXPECT_EQ(list.NameOfLine(1), "");
  EXPECT_EQ(list.NameOfLine(2), "X");
  EXPECT_EQ(list.NameOfLine(7), "");
  EXPECT_EQ(list.IndexOfHeader("content-type"), 0);
  list.SetMatchCase(true);
  EXPECT_EQ(list.NameOfLine(0), "Content-Type");
  EXPECT_EQ(list.IndexOfHeader("content-type"), 0);
  EXPECT_EQ(list.IndexOfHeader("missing"), -1);
}

TEST(HeaderList, ValueOfLineSkipsOneSeparatorCharacterAndTrims) {
  struct Case {
    std::string line, value;
  } cases[] = {
      {"A: b", "b"}, {"A:b", "b"}, {"A:   b  ", "b"}, {"A:", ""}, {"A: b: c", "b: c"},
      {"A :b", "b"},  // the name is "A " here
  };
  for (const auto& c : cases) {
    TIdHeaderList list;
    list.Add(c.line);
    EXPECT_EQ(list.ValueOfLine(0), c.value) << "input: " << c.line;
  }
  TIdHeaderList list;
  EXPECT_EQ(list.ValueOfLine(0), "");
  EXPECT_EQ(list.ValueOfLine(-1), "");
  EXPECT_EQ(list.HeaderValue("absent"), "");
}

TEST(HeaderList, HandWrittenContinuationLinesUnfoldOnRead) {
  TIdHeaderList list;
  list.SetText("X-A: one  \r\n\ttwo\r\n   three \r\nX-B: b\r\n");
  EXPECT_EQ(list.HeaderValue("X-A"), "one two three");
  EXPECT_EQ(list.HeaderValue("X-B"), "b");
  list.SetUnfoldOnRead(false);
  EXPECT_EQ(list.HeaderValue("X-A"), "one");
}

TEST(HeaderList, EmptyLineEndsTheHeader) {
  TIdHeaderList list;
  list.SetText("X-A: one\r\n\r\n two\r\n");
  EXPECT_EQ(list.HeaderValue("X-A"), "one");
}

TEST(HeaderList, SetHeaderValueReplacesFirstHeaderAndItsContinuationLines) {
  TIdHeaderList list;
  list.SetText("A: 1\r\nX: old\r\n more\r\n\tmore\r\nB: 2\r\nX: second\r\n");
  list.SetHeaderValue("x", "new");
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "x: new", "B: 2", "X: second"}));
  list.SetHeaderValue("C", "3");
  EXPECT_EQ(list.Lines().back(), "C: 3");
}

TEST(HeaderList, EmptyValueRemovesHeaderWithContinuationLines) {
  TIdHeaderList list;
  list.SetText("A: 1\r\nX: old\r\n more\r\n\tmore\r\nB: 2\r\n");
  list.SetHeaderValue("X", "");
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "B: 2"}));
  list.SetHeaderValue("absent", "");
  EXPECT_EQ(list.Count(), 2);
}

TEST(HeaderList, WithoutFoldOnWriteLinesAreWrittenWholeAndContinuationsStay) {
  TIdHeaderList list;
  list.SetFoldOnWrite(false);
  list.SetText("X: old\r\n more\r\n");
  list.SetHeaderValue("X", Words(30));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], "X: " + Words(30));
  list.SetHeaderValue("X", "");
  EXPECT_EQ(list.Lines(), (Lines{" more"}));
}

TEST(HeaderList, CustomSeparatorIsWrittenAndReadWithoutTrailingBlanks) {
  TIdHeaderList list;
  list.SetValueSeparator("= ");
  list.SetHeaderValue("realm", "x");
  EXPECT_EQ(list[0], "realm= x");
  EXPECT_EQ(list.HeaderValue("REALM"), "x");
}

TEST(HeaderList, ExtractValuesCollectsEveryHeaderInOrder) {
  TIdHeaderList list;
  list.SetText("Set-cookie: a=1\r\nOther: x\r\nset-COOKIE: b=2\r\n  ; path=/\r\n");
  TStringList values;
  values.Add("kept");
  list.ExtractValues("Set-Cookie", &values);
  EXPECT_EQ(values.Lines(), (Lines{"kept", "a=1", "b=2 ; path=/"}));
  list.ExtractValues("Set-Cookie", nullptr);
}

TEST(HeaderList, IsUsableAsAPlainLineList) {
  TIdHeaderList list;
  list.SetHeaderValue("Host", "h");
  TStrings& lines = list;
  EXPECT_EQ(lines.Text(), "Host: h\r\n");
  TStringList copy;
  copy.Assign(list);
  EXPECT_EQ(copy.Get(0), "Host: h");
}

}  // namespace
}  // namespace ah
