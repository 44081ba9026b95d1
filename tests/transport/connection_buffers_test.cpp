#include "transport/connection_buffers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/exceptions.h"
#include "transport/rfc_reply.h"

namespace ah {
namespace {

std::string Content(TIdSimpleBuffer& b) { return std::string(b.Memory(), size_t(b.Size())); }

TEST(ManagedBuffer, ConsumesFromTheFrontAndPacksAtTheThreshold) {
  TIdManagedBuffer b;
  std::vector<int32_t> removed;
  b.SetBytesRemovedHandler([&](TIdSimpleBuffer&, int32_t n) { removed.push_back(n); });
  b.SetPackThreshold(8);
  b.AppendBytes("0123456789ab", 12);
  EXPECT_EQ(b.TakeBytes(3), "012");
  EXPECT_EQ(b.ConsumedBytes(), 3);
  EXPECT_EQ(Content(b), "3456789ab");
  b.SetPosition(0);
  char c = 0;
  b.Read(&c, 1);
  EXPECT_EQ(c, '3');  // positions count from the end of the consumed prefix
  b.DropBytes(5);
  EXPECT_EQ(b.ConsumedBytes(), 8);  // packed only when more comes
  EXPECT_EQ(Content(b), "89ab");
  b.AppendBytes("cd", 2);
  EXPECT_EQ(b.ConsumedBytes(), 0);  // 8 consumed: packed
  EXPECT_EQ(Content(b), "89abcd");
  b.DropBytes(6);
  EXPECT_EQ(b.Size(), 0);
  EXPECT_EQ(removed, (std::vector<int32_t>{3, 5, 6}));
  b.AppendBytes("zz", 2);
  b.Empty();  // direct emptying tells nobody
  EXPECT_EQ(removed.size(), 3u);
  EXPECT_EQ(b.Size(), 0);
}

TEST(ManagedBuffer, RefusesToRemoveMoreThanItHolds) {
  TIdManagedBuffer managed;
  TIdSimpleBuffer simple;
  for (TIdSimpleBuffer* b : {static_cast<TIdSimpleBuffer*>(&managed), &simple}) {
    b->AppendBytes("abc", 3);
    try {
      b->TakeBytes(4);
      FAIL() << b->ClassName();
    } catch (const EIdNotEnoughDataInBuffer& e) {
      EXPECT_EQ(e.Message(), "Not enough data in buffer.");
    }
    EXPECT_THROW(b->DropBytes(4), EIdNotEnoughDataInBuffer);
    EXPECT_EQ(Content(*b), "abc");
    b->DropBytes(1);
    EXPECT_EQ(Content(*b), "bc");
  }
}

TEST(RFCReply, CodesFollowEachOther) {
  TIdRFCReply r;
  EXPECT_EQ(r.NumericCode(), 0);
  r.SetNumericCode(250);
  EXPECT_EQ(r.TextCode(), "250");
  r.SetTextCode("55x");
  EXPECT_EQ(r.NumericCode(), 0);
  r.SetTextCode("421");
  EXPECT_EQ(r.NumericCode(), 421);
  r.Text().Add("closing");
  TIdRFCReply copy;
  copy.Text().Add("old");
  copy.Assign(r);
  EXPECT_EQ(copy.NumericCode(), 421);
  EXPECT_EQ(copy.TextCode(), "421");
  EXPECT_EQ(copy.Text().Text(), "closing\r\n");
}

}  // namespace
}  // namespace ah
