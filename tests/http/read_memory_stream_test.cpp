#include "http/read_memory_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/exception.h"

namespace ah {
namespace {

TEST(ReadMemoryStream, ReadsTheCallersBlockWithoutCopyingIt) {
  std::string block = "hello world";
  TIdReadMemoryStream stream(block.data(), int64_t(block.size()));
  EXPECT_EQ(stream.Size(), 11);
  EXPECT_EQ(stream.Memory(), block.data());
  char buf[16];
  EXPECT_EQ(stream.Read(buf, 5), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(stream.Position(), 5);
  EXPECT_EQ(stream.Read(buf, 100), 6);
  EXPECT_EQ(stream.Read(buf, 1), 0);
}

TEST(ReadMemoryStream, SettingTheBlockRewinds) {
  std::string a = "abc", b = "xy";
  TIdReadMemoryStream stream(a.data(), 3);
  stream.SetPosition(2);
  stream.SetPointer(b.data(), 2);
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(stream.Size(), 2);
}

TEST(ReadMemoryStream, WritesStoreNothingAndReportZero) {
  std::string block = "abc";
  TIdReadMemoryStream stream(block.data(), 3);
  EXPECT_EQ(stream.Write("zz", 2), 0);
  stream.SetSize(100);
  EXPECT_EQ(block, "abc");
  EXPECT_EQ(stream.Size(), 3);
  EXPECT_THROW(stream.WriteBuffer("z", 1), EWriteError);
}

}  // namespace
}  // namespace ah
