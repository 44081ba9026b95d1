#include "app/site/scratch_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/streams.h"
#include "framework/strings.h"
#include "app/site/page_scan.h"

namespace ah {
namespace {

using Lines = std::vector<std::string>;

Lines Read(const ScratchLines& s) {
  Lines out;
  for (int i = 0; i < s.Count(); ++i) out.push_back(s.Get(i));
  return out;
}

TEST(ScratchLines, AddSplitsAtCrLfOnly) {
  struct Case {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {""}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\n", {"a", ""}},
      {"a\rb\nc", {"a\rb\nc"}},
      {"a\r\r\nb", {"a\r", "b"}},
      {"\r\n\r\n", {"", "", ""}},
      {"x\n\r\ny", {"x\n", "y"}},
  };
  for (auto& c : cases) {
    ScratchLines s;
    s.Add(c.text);
    EXPECT_EQ(Read(s), c.lines) << testing::PrintToString(c.text);
  }
}

TEST(ScratchLines, AddAppendsAfterEarlierLines) {
  ScratchLines s;
  s.Add("a\r\nb");
  s.Add("c");
  s.Add("\nd\r\n");
  EXPECT_EQ(Read(s), (Lines{"a", "b", "c", "\nd", ""}));
  EXPECT_EQ(s.Text(), "a\r\nb\r\nc\r\n\nd\r\n\r\n");
  s.Clear();
  EXPECT_EQ(s.Count(), 0);
}

TEST(ScratchLines, LongLinesReadBackCutTo4096Characters) {
  ScratchLines s;
  std::string long_line(5000, 'x');
  long_line[4095] = 'E';
  long_line[4096] = 'F';
  s.Add(long_line + "\r\nshort");
  ASSERT_EQ(s.Count(), 2);
  EXPECT_EQ(s.Get(0).size(), 4096u);
  EXPECT_EQ(s.Get(0).back(), 'E');
  EXPECT_EQ(s.Get(1), "short");
  // The whole text keeps the line uncut.
  EXPECT_EQ(s.Text(), long_line + "\r\nshort\r\n");
}

TEST(ScratchLines, ReadsOutsideTheLinesAreEmpty) {
  ScratchLines s;
  EXPECT_EQ(s.Get(0), "");
  s.Add("one");
  EXPECT_EQ(s.Get(1), "");
  EXPECT_EQ(s.Get(100), "");
  EXPECT_EQ(s.Get(-1), "");
  EXPECT_EQ(s.Line(1), "");
}

TEST(ScratchLines, ServesAsFormLinesWithNameValueAccess) {
  ScratchLines s;
  s.Add("login=bob");
  s.Add("password=a b");
  EXPECT_EQ(s.Names(1), "password");
  EXPECT_EQ(s.Values("LOGIN"), "bob");
  s.SetValues("password", "a+b");
  EXPECT_EQ(Read(s), (Lines{"login=bob", "password=a+b"}));
  s.Insert(0, "x=1");
  s.Delete(2);
  EXPECT_EQ(Read(s), (Lines{"x=1", "login=bob"}));
}

// The run used to save an album page to a file named "tmp" in the current
// folder and load it back; the lines must be exactly the ones that round
// trip gave.
TEST(SplitPageText, GivesTheLinesOfAFileRoundTrip) {
  char dir[] = "/tmp/ah-split-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/tmp";
  const std::string cases[] = {
      "",
      "a",
      "a\r\nb",
      "a\r\n",
      "a\r",
      "a\n",
      "\r\n",
      "\r",
      "a\r\r",
      "a\n\r",
      "x\r\ny\rz\n\nw",
      std::string("a\0b\r\nc", 6),
      std::string("a\r\0", 3),
      std::string("\0", 1),
      "<title>T - S</title>\r\n/p/1/#mainImageLink\r\n",
  };
  for (auto& text : cases) {
    TStringList list;
    list.Add(text);
    list.SaveToFile(file);
    list.Clear();
    list.LoadFromFile(file);
    auto views = SplitPageText(text);
    EXPECT_EQ(Lines(views.begin(), views.end()), list.Lines()) << testing::PrintToString(text);
  }
  unlink(file.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace ah
