#include "transport/socket_handle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "transport/component.h"
#include "transport/exceptions.h"

namespace ah {
namespace {

class SocketHandleTest : public ::testing::Test {
 protected:
  // Keeps the stack alive.
  TIdComponent user_{nullptr};

  // Binds held[i] to top - i and returns top, or 0. The ports lie below those
  // the system hands out itself (to a bind without a port, or a connect), so
  // one the test lets go is still free for the bind that follows.
  static int HoldRange(TIdSocketHandle (&held)[3]) {
    int low = 0;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low;
    std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100 && low > 1100; ++attempt) {
      const int top = std::uniform_int_distribution<int>(1100, low - 1)(random);
      bool all = true;
      for (int i = 0; all && i < 3; ++i) {
        held[i].AllocateHandle(Id_SOCK_STREAM, 0);
        held[i].SetIP("127.0.0.1");
        held[i].SetPort(top - i);
        all = held[i].TryBindLocal();
      }
      if (all) return top;
      for (TIdSocketHandle& h : held) h.ReleaseHandle();
    }
    return 0;
  }
};

TEST_F(SocketHandleTest, PortRangeIsTriedFromTheTopDown) {
  TIdSocketHandle held[3];  // held[0] stays taken throughout
  const int top = HoldRange(held);
  ASSERT_NE(top, 0);

  TIdSocketHandle h;
  h.AllocateHandle(Id_SOCK_STREAM, 0);
  h.SetIP("127.0.0.1");
  h.SetClientPortMin(top - 2);
  h.SetClientPortMax(top);
  held[1].ReleaseHandle();
  h.BindLocal();
  EXPECT_EQ(h.Port(), top - 1);

  TIdSocketHandle third;
  third.AllocateHandle(Id_SOCK_STREAM, 0);
  third.SetIP("127.0.0.1");
  third.SetClientPortMin(top - 2);
  third.SetClientPortMax(top);
  held[2].ReleaseHandle();
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
