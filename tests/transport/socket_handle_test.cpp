#include "transport/socket_handle.h"

#include <gtest/gtest.h>

#include <string>

#include "transport/component.h"
#include "transport/exceptions.h"

namespace ah {
namespace {

class SocketHandleTest : public ::testing::Test {
 protected:
  // Keeps the stack alive.
  TIdComponent user_{nullptr};

  // A free port p such that p - 1 and p - 2 are free too (checked by binding).
  static int FreeRangeTop() {
    for (int attempt = 0; attempt < 50; ++attempt) {
      TIdSocketHandle probe;
      probe.AllocateHandle(Id_SOCK_STREAM, 0);
      probe.SetIP("127.0.0.1");
      probe.BindLocal();
      int top = probe.Port();
      probe.ReleaseHandle();
      bool all_free = top > 3;
      for (int p = top; all_free && p > top - 3; --p) {
        TIdSocketHandle h;
        h.AllocateHandle(Id_SOCK_STREAM, 0);
        h.SetIP("127.0.0.1");
        h.SetPort(p);
        all_free = h.TryBindLocal();
      }
      if (all_free) return top;
    }
    return 0;
  }
};

TEST_F(SocketHandleTest, PortRangeIsTriedFromTheTopDown) {
  int top = FreeRangeTop();
  ASSERT_NE(top, 0);
  TIdSocketHandle taken;
  taken.AllocateHandle(Id_SOCK_STREAM, 0);
  taken.SetIP("127.0.0.1");
  taken.SetPort(top);
  taken.BindLocal();

  TIdSocketHandle h;
  h.AllocateHandle(Id_SOCK_STREAM, 0);
  h.SetIP("127.0.0.1");
  h.SetClientPortMin(top - 2);
  h.SetClientPortMax(top);
  h.BindLocal();
  EXPECT_EQ(h.Port(), top - 1);

  TIdSocketHandle third;
  third.AllocateHandle(Id_SOCK_STREAM, 0);
  third.SetIP("127.0.0.1");
  third.SetClientPortMin(top - 2);
  third.SetClientPortMax(top);
  third.BindLocal();
  EXPECT_EQ(third.Port(), top - 2);

  TIdSocketHandle none;
  none.AllocateHandle(Id_SOCK_STREAM, 0);
  none.SetIP("127.0.0.1");
  none.SetClientPortMin(top - 2);
  none.SetClientPortMax(top);
  try {
    none.BindLocal();
    FAIL() << "bound";
  } catch (const EIdCanNotBindPortInRange& e) {
    EXPECT_EQ(e.Message(),
              "Can not bind in port range (" + std::to_string(top - 2) + " - " +
                  std::to_string(top) + ")");
  }
  EXPECT_EQ(none.Port(), top - 2);
}

TEST_F(SocketHandleTest, InvertedRangeIsRejected) {
  TIdSocketHandle h;
  h.AllocateHandle(Id_SOCK_STREAM, 0);
  h.SetClientPortMin(6000);
  h.SetClientPortMax(5000);
  try {
    h.BindLocal();
    FAIL() << "bound";
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_EQ(e.Message(), "Invalid Port Range (6000 - 5000)");
  }
}

TEST_F(SocketHandleTest, FixedPortInUseCannotBind) {
  TIdSocketHandle a;
  a.AllocateHandle(Id_SOCK_STREAM, 0);
  a.SetIP("127.0.0.1");
  a.BindLocal();
  TIdSocketHandle b;
  b.AllocateHandle(Id_SOCK_STREAM, 0);
  b.SetIP("127.0.0.1");
  b.SetPort(a.Port());
  try {
    b.BindLocal();
    FAIL() << "bound";
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  }
  // A fixed port wins over a range.
  TIdSocketHandle c;
  c.AllocateHandle(Id_SOCK_STREAM, 0);
  c.SetIP("127.0.0.1");
  c.SetPort(a.Port());
  c.SetClientPortMin(1);
  c.SetClientPortMax(2);
  EXPECT_THROW(c.BindLocal(), EIdCouldNotBindSocket);
}

TEST_F(SocketHandleTest, ResetAndAssignCopyTheAddresses) {
  TIdSocketHandle a;
  a.SetIP("10.0.0.1");
  a.SetPort(5);
  a.SetPeerAddress("10.0.0.2", 6);
  TIdSocketHandle b;
  b.Assign(a);
  EXPECT_EQ(b.IP(), "10.0.0.1");
  EXPECT_EQ(b.Port(), 5);
  EXPECT_EQ(b.RemoteIP(), "10.0.0.2");
  EXPECT_EQ(b.RemotePort(), 6);
  b.ResetHandle(false);
  EXPECT_EQ(b.IP(), "10.0.0.1");
  EXPECT_EQ(b.RemoteIP(), "");
  EXPECT_EQ(b.SocketHandle(), -1);
  b.ResetHandle(true);
  EXPECT_EQ(b.IP(), "");
  EXPECT_EQ(b.Port(), 0);
}

}  // namespace
}  // namespace ah
