#include "framework/strings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "framework/exception.h"

namespace ah {
namespace {

using Lines = std::vector<std::string>;

TEST(StringList, SplitsTextAtEveryKindOfLineBreak) {
  struct Case {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb\nc", {"a", "b", "c"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\r\n", {"a", ""}},
      {"\r\n\r\n", {"", ""}},
      {std::string("ab\0cd\r\nef", 9), {"ab"}},
  };
  for (auto& c : cases) {
    TStringList list;
    list.SetText(c.text);
    EXPECT_EQ(list.Lines(), c.lines) << "input: " << testing::PrintToString(c.text);
  }
}

TEST(StringList, TextEndsEveryLineWithCrLf) {
  TStringList list({"a", "", "b"});
  EXPECT_EQ(list.Text(), "a\r\n\r\nb\r\n");
  EXPECT_EQ(TStringList().Text(), "");
}

TEST(StringList, OneEntryRoundTripsThroughTextLikeAFile) {
  TStringList list;
  list.Add("x\"y\r\nz\rw");
  TStringList back;
  back.SetText(list.Text());
  EXPECT_EQ(back.Lines(), (Lines{"x\"y", "z", "w"}));
}

TEST(StringList, NameValueAccessIgnoresCaseOfNames) {
  TStringList list({"Login=bob", "noequals", "pass=a=b"});
  EXPECT_EQ(list.Names(0), "Login");
  EXPECT_EQ(list.Names(1), "");
  EXPECT_EQ(list.ValueFromIndex(2), "a=b");
  EXPECT_EQ(list.Values("LOGIN"), "bob");
  EXPECT_EQ(list.IndexOfName("PASS"), 2);
  EXPECT_EQ(list.Values("missing"), "");
  list.SetValues("login", "eve");
  EXPECT_EQ(list.Get(0), "login=eve");
  list.SetValues("new", "1");
  EXPECT_EQ(list.Get(3), "new=1");
  list.SetValues("new", "");
  EXPECT_EQ(list.Count(), 3);
}

TEST(StringList, IndexOutsideTheListRaises) {
  TStringList list({"a"});
  EXPECT_THROW(list.Get(1), EStringListError);
  EXPECT_THROW(list.Delete(-1), EStringListError);
  try {
    list.Get(5);
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
}

TEST(StringList, SavesAndLoadsAFile) {
  char dir[] = "/tmp/ah-strings-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/f.txt";
  TStringList list({"one", "two"});
  list.SaveToFile(path);
  TStringList back;
  back.LoadFromFile(path);
  EXPECT_EQ(back.Lines(), list.Lines());
  unlink(path.c_str());
  rmdir(dir);
}

TEST(StringList, MissingFileRaisesWithFullPath) {
  TStringList list;
  try {
    list.LoadFromFile("/nonexistent-dir/x");
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot open file \"/nonexistent-dir/x\". ", 0), 0u)
        << e.Message();
  }
  EXPECT_THROW(list.SaveToFile("/nonexistent-dir/x"), EFCreateError);
}

}  // namespace
}  // namespace ah
