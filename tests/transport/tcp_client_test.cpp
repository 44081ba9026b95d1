#include "transport/tcp_client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scripted_server.h"
#include "transport/exceptions.h"
#include "transport/io_handler_socket.h"
#include "transport/stack.h"

namespace ah {
namespace {

using test::Script;
using test::ScriptedServer;

// Status events and OnConnected/OnDisconnected in the order they fired.
struct EventLog {
  std::vector<std::string> lines;
  void Attach(TIdTCPClient& c) {
    c.SetOnStatus([this](TComponent* sender, TIdStatus, const std::string& text) {
      lines.push_back(std::string(dynamic_cast<TIdIOHandler*>(sender) ? "handler " : "client ") +
                      text);
    });
    c.SetOnConnected([this](TComponent*) { lines.push_back("OnConnected"); });
    c.SetOnDisconnected([this](TComponent*) { lines.push_back("OnDisconnected"); });
  }
};

TEST(TCPClient, ConnectAndDisconnectReportTheirSteps) {
  ScriptedServer server({Script().StaySilent()});
  TIdTCPClient client(nullptr);
  EventLog log;
  log.Attach(client);
  client.SetHost("localhost");
  client.SetPort(server.Port());
  client.OpenConnection();
  EXPECT_TRUE(client.IsConnected());
  EXPECT_TRUE(client.OwnsIOHandler());
  client.CloseConnection();
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "handler Resolving hostname localhost.",
                           "handler Connecting to 127.0.0.1.", "client Connected.", "OnConnected",
                           "client Disconnecting.", "OnDisconnected", "client Disconnected."}));
}

// A bare IPv6 address as the Host connects over IPv6, without a look-up.
TEST(TCPClient, AnIPv6AddressConnectsOverIPv6) {
  const int listener = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener >= 0) close(listener);
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  for (int timeout : {0, 2000}) {
    TIdTCPClient client(nullptr);
    EventLog log;
    log.Attach(client);
    client.SetHost("::1");
    client.SetPort(ntohs(address.sin6_port));
    client.OpenConnection(timeout);
    const TIdSocketHandle* binding =
        dynamic_cast<TIdIOHandlerSocket*>(client.IOHandler())->SocketBinding();
    EXPECT_EQ(binding->Family(), Id_PF_INET6);
    EXPECT_EQ(binding->RemoteIP(), "::1");
    EXPECT_EQ(binding->IP(), "::1");
    EXPECT_EQ(log.lines.front(), "handler Connecting to ::1.");
  }
  close(listener);
}

TEST(TCPClient, NoticedDisconnectDropsThenNotifies) {
  ScriptedServer server({Script().Close()});
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.OpenConnection();
  EventLog log;
  log.Attach(client);
  EXPECT_THROW(client.ReceiveLine(), EIdConnClosedGracefully);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"client Disconnected.", "OnDisconnected"}));
}

TEST(TCPClient, RefusedConnectRaisesAndLeavesNoSocket) {
  test::RefusingPort refusing;
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(refusing.Port());
  try {
    client.OpenConnection();
    FAIL() << "connected";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_FALSE(client.IsConnected());
}

TEST(TCPClient, PortsOutsideTheirRangeAreRefusedBeforeConnecting) {
  // 70000 would otherwise reach the socket call as 70000 - 65536 = 4464.
  ScriptedServer server({Script().StaySilent()});
  for (int port : {0, -1, 65536, 65536 + server.Port()}) {
    TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    try {
      client.OpenConnection();
      ADD_FAILURE() << "connected to " << port;
    } catch (const EIdInvalidPort& e) {
      EXPECT_EQ(e.Message(),
                "Port " + std::to_string(port) + " is not a port: ports are 1 to 65535");
    }
    EXPECT_EQ(client.IOHandler(), nullptr) << port;
  }
  EXPECT_EQ(server.AcceptedCount(), 0);

  // The same for the port of a SOCKS proxy.
  TIdTCPClient client(nullptr);
  auto* handler = new TIdIOHandlerSocket(&client);
  client.SetIOHandler(handler);
  handler->SocksInfo()->SetVersion(svSocks5);
  handler->SocksInfo()->SetHost("127.0.0.1");
  handler->SocksInfo()->SetPort(65536 + server.Port());
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  EXPECT_THROW(client.OpenConnection(), EIdInvalidPort);
  EXPECT_EQ(server.AcceptedCount(), 0);
}

TEST(TCPClient, ConnectTimeOut) {
  test::StalledListener stalled;
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(stalled.Port());
  EXPECT_THROW(client.OpenConnection(1000), EIdConnectTimeout);
  EXPECT_FALSE(client.IsConnected());
}

// Every wait of the process gives way once InterruptWaits is called, also
// one already under way in another thread, until the interrupt is cleared;
// looks that do not wait are left alone.
TEST(TCPClient, InterruptedWaitsEndReadsAndConnectsUntilCleared) {
  EnableWaitInterrupts();
  auto expect_interrupted = [](const std::function<void()>& wait) {
    try {
      wait();
      ADD_FAILURE() << "the wait was not interrupted";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.SocketErrorCode(), 10004) << e.Message();
    }
  };
  auto interrupt_soon = [] {
    return std::thread([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      InterruptWaits();
    });
  };
  ScriptedServer server({Script().StaySilent()});
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.OpenConnection();

  std::thread interrupter = interrupt_soon();
  expect_interrupted([&] { client.ReceiveLine(); });
  interrupter.join();
  expect_interrupted([&] { client.ReceiveLine(); });
  // The look-up of a name under a connect time-out is one of those waits.
  expect_interrupted([] { TheStack()->ResolveHostAddresses("no-such-host.invalid", 60000); });
  EXPECT_TRUE(client.IsConnected());
  client.CloseConnection();

  ClearWaitInterrupt();
  test::StalledListener stalled;
  TIdTCPClient connecting(nullptr);
  connecting.SetHost("127.0.0.1");
  connecting.SetPort(stalled.Port());
  interrupter = interrupt_soon();
  expect_interrupted([&] { connecting.OpenConnection(60000); });
  interrupter.join();
  EXPECT_FALSE(connecting.IsConnected());

  ClearWaitInterrupt();
  client.OpenConnection();
  client.SetReadTimeout(50);
  EXPECT_THROW(client.ReceiveLine(), EIdReadTimeout);
}

TEST(TCPClient, InvalidPortRangeIsReported) {
  ScriptedServer server({Script().StaySilent()});
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.SetBoundPortLow(6000);
  client.SetBoundPortHigh(5000);
  try {
    client.OpenConnection();
    FAIL() << "connected";
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_EQ(e.Message(), "Invalid Port Range (6000 - 5000)");
  }
  EXPECT_FALSE(client.IsConnected());
}

TEST(TCPClient, FailingOnConnectedLeavesTheConnectionDropped) {
  ScriptedServer server({Script().StaySilent()});
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.SetOnConnected([](TComponent*) { throw EIdException("refused by handler"); });
  EXPECT_THROW(client.OpenConnection(), EIdException);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_TRUE(client.PeerClosed());
}

TEST(TCPClient, SecondConnectWhileConnectedIsRefused) {
  ScriptedServer server({Script().StaySilent()});
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.OpenConnection();
  try {
    client.OpenConnection();
    FAIL() << "connected twice";
  } catch (const EIdAlreadyConnected& e) {
    EXPECT_EQ(e.Message(), "Already connected.");
  }
  EXPECT_TRUE(client.IsConnected());
}

TEST(TCPClient, OwnHandlerIsRenewedAndAUsersHandlerReused) {
  ScriptedServer server({Script().Send("hello\n").StaySilent()});
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.OpenConnection();
  EXPECT_EQ(client.ReceiveLine(), "hello");
  client.CloseConnection();
  client.OpenConnection();
  EXPECT_EQ(client.ReceiveLine(), "hello");
  client.CloseConnection();

  TIdIOHandlerSocket mine(nullptr);
  client.SetIOHandler(&mine);
  client.OpenConnection();
  TIdSocketHandle* binding = mine.SocketBinding();
  EXPECT_EQ(client.ReceiveLine(), "hello");
  client.CloseConnection();
  EXPECT_EQ(client.IOHandler(), &mine);
  client.OpenConnection();
  EXPECT_EQ(mine.SocketBinding(), binding);
  EXPECT_EQ(client.ReceiveLine(), "hello");
  client.CloseConnection();
  EXPECT_TRUE(server.WaitForAccepted(4));
}

TEST(TCPClient, RemovedHandlerIsForgotten) {
  TIdTCPClient client(nullptr);
  {
    TIdIOHandlerSocket handler(nullptr);
    client.SetIOHandler(&handler);
  }
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.IsConnected());
}

TEST(TCPClient, FetchAllReadsUntilTheServerCloses) {
  ScriptedServer server({Script().Send("first\nsecond").Close()});
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  EXPECT_EQ(client.FetchAll(), "first\nsecond");
  EXPECT_FALSE(client.IsConnected());
}

TEST(TCPClient, InterceptIsAttachedOnConnectAndDetachedOnDrop) {
  ScriptedServer server({Script().StaySilent()});
  TIdTCPClient client(nullptr);
  TIdConnectionIntercept intercept(nullptr);
  std::vector<std::string> log;
  intercept.SetOnConnect([&](TComponent*) { log.push_back("connect"); });
  intercept.SetOnDisconnect([&](TComponent*) { log.push_back("disconnect"); });
  client.SetOnStatus([&](TComponent*, TIdStatus, const std::string& t) { log.push_back(t); });
  client.SetIntercept(&intercept);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.OpenConnection();
  EXPECT_EQ(intercept.AttachedConnection(), &client);
  client.CloseConnection();
  EXPECT_EQ(intercept.AttachedConnection(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"Connecting to 127.0.0.1.", "connect", "Connected.",
                                           "Disconnecting.", "disconnect", "Disconnected."}));
}

}  // namespace
}  // namespace ah
