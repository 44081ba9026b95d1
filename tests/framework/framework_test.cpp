#include <gtest/gtest.h>

#include "framework/collection.h"
#include "framework/component.h"
#include "framework/exception.h"
#include "framework/streams.h"
#include "framework/sysutils.h"
#include "framework/text_tokens.h"

namespace ah {
namespace {

TEST(SysUtils, TrimRemovesControlCharactersAndBlanks) {
  EXPECT_EQ(Trim(" \t\r\n a b \x01"), "a b");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(TrimRight("a  "), "a");
  EXPECT_EQ(TrimLeft("  a "), "a ");
}

TEST(SysUtils, IntegerReadingFollowsThePlatformRules) {
  EXPECT_EQ(TryStrToInt("42"), 42);
  EXPECT_EQ(TryStrToInt("  -7"), -7);
  EXPECT_EQ(TryStrToInt("$1a"), 26);
  EXPECT_EQ(TryStrToInt("0x1A"), 26);
  EXPECT_EQ(TryStrToInt("-2147483648"), INT32_MIN);
  EXPECT_FALSE(TryStrToInt("2147483648"));
  EXPECT_FALSE(TryStrToInt("12 "));
  EXPECT_FALSE(TryStrToInt(""));
  EXPECT_FALSE(TryStrToInt("-"));
  EXPECT_FALSE(TryStrToInt("$"));
  EXPECT_EQ(StrToIntDef("x", -1), -1);
  EXPECT_EQ(TryStrToInt64("-9223372036854775808"), INT64_MIN);
  try {
    StrToInt("*/1234");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'*/1234' is not a valid integer value");
  }
}

TEST(SysUtils, ReadDecimalTakesPlainDigitsWithinTheRange) {
  EXPECT_EQ(ReadDecimal("8", 1, 64), 8);
  EXPECT_EQ(ReadDecimal("-3", -5, 5), -3);
  for (const char* refused : {"", "0", "65", " 8", "8 ", "+8", "$8", "0x8", "8.0", "99999999999"})
    EXPECT_FALSE(ReadDecimal(refused, 1, 64)) << refused;
}

TEST(SysUtils, AMessageBecomesOneLine) {
  struct Case {
    const char* message;
    const char* line;
  } cases[] = {
      {"Socket Error # 10061\r\nConnection refused.", "Socket Error # 10061 Connection refused."},
      {"  a\n\n\tb  ", "a b"},
      {"a \r\n b", "a b"},
      {"", ""},
      {"\r\n", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(OneLine(c.message), c.line) << c.message;
}

TEST(TextTokens, TakeTokenSplitsAtTheFirstDelimiter) {
  std::string s = "x y z";
  EXPECT_EQ(TakeToken(s), "x");
  EXPECT_EQ(s, "y z");
  s = "xyz";
  EXPECT_EQ(TakeToken(s, " ", false), "xyz");
  EXPECT_EQ(s, "xyz");
  EXPECT_EQ(TakeToken(s), "xyz");
  EXPECT_EQ(s, "");
  s = "a, b, c";
  EXPECT_EQ(TakeToken(s, ", "), "a");
  EXPECT_EQ(s, "b, c");
}

TEST(TextTokens, TakeTokenNoCaseKeepsTheCaseOfThePieces) {
  std::string s = "Left NAME Right";
  EXPECT_EQ(TakeToken(s, "name", true, false), "Left ");
  EXPECT_EQ(s, " Right");
  std::string n = std::string("a\0b", 3);
  EXPECT_EQ(TakeTokenNoCase(n, std::string_view("\0", 1)), "a");
  EXPECT_EQ(n, "b");
}

TEST(TextTokens, LastPosSearchesBackwardsFromStart) {
  EXPECT_EQ(LastPos("/", "/a/b?x=/y", 5), 3u);
  EXPECT_EQ(LastPos("/", "/a/b?x=/y"), 8u);
  EXPECT_EQ(LastPos("B", "abcb"), 4u);
  EXPECT_EQ(LastPos("zz", "abc"), 0u);
  EXPECT_EQ(LastPos("abcd", "abc"), 0u);
}

TEST(TextTokens, PositionInMemoryFindsBytes) {
  std::string block = "ab\r\ncd\n";
  EXPECT_EQ(PositionInMemory("\n", block.data(), block.size()), 4u);
  EXPECT_EQ(PositionInMemory("\n", block.data(), 3), 0u);
  EXPECT_EQ(PositionInMemory("", block.data(), block.size()), 0u);
  EXPECT_EQ(PositionInMemory("cd\n", block.data(), 2), 0u);
  EXPECT_EQ(TextPos("", "abc"), 0u);
  EXPECT_EQ(TextPos("c", "abc"), 3u);
  std::vector<std::string> names = {"Sun", "Mon"};
  EXPECT_EQ(IndexInStringArray("MON", names, false), 1);
  EXPECT_EQ(IndexInStringArray("MON", names, true), -1);
}

TEST(Streams, MemoryStreamGrowsAndReadsBack) {
  TMemoryStream m;
  m.WriteBuffer("hello", 5);
  m.SetPosition(1);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, 8), 4);
  EXPECT_STREQ(buf, "ello");
  m.SetSize(2);
  EXPECT_EQ(m.Size(), 2);
  EXPECT_EQ(m.Position(), 2);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
}

TEST(Streams, StringStreamWritesInPlace) {
  TStringStream s("abcdef");
  s.SetPosition(2);
  s.WriteBuffer("XY", 2);
  EXPECT_EQ(s.DataString(), "abXYef");
  s.SetSize(3);
  EXPECT_EQ(s.DataString(), "abX");
  TStringStream copy;
  copy.CopyFrom(s, 0);
  EXPECT_EQ(copy.DataString(), "abX");
}

class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::vector<std::string>* log, std::string name)
      : TComponent(owner), log_(log) {
    SetName(std::move(name));
  }
  ~Probe() override { log_->push_back("~" + Name()); }
  TComponent* ref = nullptr;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove && c == ref) {
      log_->push_back(Name() + " cleared");
      ref = nullptr;
    }
  }

 private:
  std::vector<std::string>* log_;
};

TEST(Component, OwnerFreesItsComponentsInReverseOrder) {
  std::vector<std::string> log;
  auto* owner = new Probe(nullptr, &log, "owner");
  new Probe(owner, &log, "a");
  new Probe(owner, &log, "b");
  EXPECT_EQ(owner->ComponentCount(), 2);
  delete owner;
  EXPECT_EQ(log, (std::vector<std::string>{"~owner", "~b", "~a"}));
}

TEST(Component, FreeNotificationClearsReferences) {
  std::vector<std::string> log;
  Probe holder(nullptr, &log, "holder");
  auto* target = new Probe(nullptr, &log, "target");
  holder.ref = target;
  target->FreeNotification(&holder);
  delete target;
  EXPECT_EQ(holder.ref, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"~target", "holder cleared"}));
}

TEST(Component, ListenerThatDiesFirstIsNotCalledLater) {
  std::vector<std::string> log;
  auto* holder = new Probe(nullptr, &log, "holder");
  Probe target(nullptr, &log, "target");
  holder->ref = &target;
  target.FreeNotification(holder);
  delete holder;  // target must forget holder, or its destructor would touch freed memory
}

TEST(Component, DeletedChildLeavesItsOwner) {
  std::vector<std::string> log;
  Probe owner(nullptr, &log, "owner");
  auto* child = new Probe(&owner, &log, "child");
  auto* sibling = new Probe(&owner, &log, "sibling");
  sibling->ref = child;  // siblings hear of each other's removal through the owner
  delete child;
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(sibling->ref, nullptr);
}

TEST(Collection, ItemsLeaveTheirCollectionWhenDeleted) {
  TCollection c;
  auto* a = new TCollectionItem(&c);
  auto* b = new TCollectionItem(&c);
  EXPECT_EQ(b->Index(), 1);
  delete a;
  EXPECT_EQ(c.Count(), 1);
  EXPECT_EQ(b->Index(), 0);
  b->SetCollection(nullptr);
  EXPECT_EQ(c.Count(), 0);
  delete b;
}

class Thing : public TPersistent {
 public:
  AH_CLASS_NAME(TThing)
};

TEST(Persistent, UnrelatedAssignmentRaisesWithBothClassNames) {
  Thing a;
  TStringStream unused;
  TCollection c;
  try {
    a.Assign(c);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TCollection to a TThing");
  }
}

}  // namespace
}  // namespace ah
