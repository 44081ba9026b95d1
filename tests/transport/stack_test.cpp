#include "transport/stack.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <barrier>
#include <thread>

#include <string>
#include <vector>

#include "framework/exception.h"
#include "transport/component.h"
#include "transport/exceptions.h"

namespace ah {
namespace {

TEST(SocketErrorText, ReadsCodeAndTextOnTwoLines) {
  struct Row {
    int code;
    const char* message;
  } rows[] = {
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {11001, "Socket Error # 11001\r\nHost not found."},
      {12345, "Socket Error # 12345\r\n"},
      {10035, "Socket Error # 10035\r\nOperation would block. "},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      {10058, "Socket Error # 10058\r\nCannot send or receive after socket is closed."},
      {10004, "Socket Error # 10004\r\nInterrupted system call."},
      {10065, "Socket Error # 10065\r\nNo route to host."},
  };
  for (const auto& row : rows) EXPECT_EQ(SocketErrorMessage(row.code), row.message) << row.code;
}

TEST(SocketErrorText, ErrnoMapsToTheWindowsNumbers) {
  EXPECT_EQ(WSACodeFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(WSACodeFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(WSACodeFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WSACodeFromErrno(EPIPE), 10058);
  EXPECT_EQ(WSACodeFromErrno(EBADF), 10009);
  EXPECT_EQ(WSACodeFromErrno(ENOTSOCK), 10038);
  EXPECT_EQ(WSACodeFromErrno(ETIMEDOUT), 10060);
}

TEST(DottedIPv4, AcceptsFourPartsOfByteValues) {
  struct Row {
    const char* text;
    bool dotted;
  } rows[] = {{"10.0.0.1", true},    {"0.0.0.0", true},     {"255.255.255.255", true},
              {"127.0.0.1", true},   {"256.1.1.1", false},  {"1.2.3", false},
              {"", false},           {"a.b.c.d", false},    {"10.0.0.1.5", false},
              {"10..0.1", false},    {"-1.0.0.0", false},   {"localhost", false},
              {"1.2.3.4.", false},   {"example.org", false}};
  for (const auto& row : rows) EXPECT_EQ(IsDottedIPv4(row.text), row.dotted) << row.text;
}

TEST(DottedIPv4, ParseAndFormatRoundTrip) {
  auto bytes = ParseIPv4("192.168.0.1");
  EXPECT_EQ(bytes, (std::array<uint8_t, 4>{192, 168, 0, 1}));
  EXPECT_EQ(FormatIPv4(bytes), "192.168.0.1");
  EXPECT_EQ(FormatIPv4({0, 0, 0, 0}), "0.0.0.0");
  EXPECT_THROW(ParseIPv4("1.x.3.4"), EConvertError);
}

class StackTest : public ::testing::Test {
 protected:
  TIdComponent user_{nullptr};
  TIdStack& stack_ = *TheStack();
};

TEST_F(StackTest, ResolveNeverLooksUpLocalhostOrDottedAddresses) {
  EXPECT_EQ(stack_.ResolveHostAddress("localhost"), "127.0.0.1");
  EXPECT_EQ(stack_.ResolveHostAddress("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack_.ResolveHostAddress("192.168.0.1"), "192.168.0.1");
  EXPECT_EQ(stack_.ResolveHostAddresses("LOCALHOST", 0), std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(stack_.ResolveHostAddresses("::1", 0), std::vector<std::string>{"::1"});
  EXPECT_EQ(stack_.ResolveHostAddresses("10.0.0.1", 0), std::vector<std::string>{"10.0.0.1"});
  EXPECT_EQ(stack_.IPv4ToAddress("127.0.0.1"), 0x7F000001u);
}

TEST_F(StackTest, UnknownHostRaisesHostNotFound) {
  // Unbounded, and bounded on a worker of its own.
  for (int timeout : {-2, 30000}) {
    try {
      timeout == -2 ? stack_.ResolveHostAddress("no-such-host.invalid")
                    : stack_.ResolveHostAddresses("no-such-host.invalid", timeout).front();
      ADD_FAILURE() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.SocketErrorCode(), 11001);
      EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
  }
}

TEST_F(StackTest, CheckSocketResultToleratesListedCodes) {
  EXPECT_FALSE(stack_.CheckSocketResult(0));
  EXPECT_FALSE(stack_.CheckSocketResult(5, {10061}));
  // A bind to a port in use, then check the code against the lists.
  int a = stack_.NewSocketHandle(Id_SOCK_STREAM, 0);
  int b = stack_.NewSocketHandle(Id_SOCK_STREAM, 0);
  ASSERT_EQ(stack_.StackBind(a, Id_PF_INET, 0, "127.0.0.1"), 0);
  int family = 0, port = 0;
  std::string ip;
  stack_.StackSocketName(a, family, ip, port);
  EXPECT_EQ(ip, "127.0.0.1");
  ASSERT_EQ(stack_.StackListen(a, 1), 0);
  EXPECT_TRUE(stack_.CheckSocketResult(stack_.StackBind(b, Id_PF_INET, port, "127.0.0.1"),
                                       {Id_WSAEADDRINUSE}));
  EXPECT_EQ(stack_.LastErrorCode(), 10048);
  try {
    stack_.CheckSocketResult(stack_.StackBind(b, Id_PF_INET, port, "127.0.0.1"));
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), 10048);
    EXPECT_EQ(e.Message(), "Socket Error # 10048\r\nAddress already in use.");
  }
  stack_.StackCloseSocket(a);
  stack_.StackCloseSocket(b);
}

// With --jobs N the clients' threads share the stack: a failure checked on
// one must never be read back as the other's.
TEST_F(StackTest, EachThreadReadsBackItsOwnLastErrorCode) {
  std::barrier step(2);
  std::thread other([&] {
    EXPECT_TRUE(stack_.CheckSocketResult(stack_.StackCloseSocket(-1), {Id_WSAEBADF}));
    step.arrive_and_wait();
    step.arrive_and_wait();
    EXPECT_EQ(stack_.LastErrorCode(), Id_WSAEBADF);
  });
  step.arrive_and_wait();
  const int unconnected = stack_.NewSocketHandle(Id_SOCK_STREAM, 0);
  EXPECT_TRUE(stack_.CheckSocketResult(stack_.StackShutdown(unconnected, 1), {10057}));
  step.arrive_and_wait();
  other.join();
  EXPECT_EQ(stack_.LastErrorCode(), 10057);
  stack_.StackCloseSocket(unconnected);
}

TEST_F(StackTest, ServicePortByNameOrNumber) {
  EXPECT_EQ(stack_.StackServicePort("8080"), 8080);
  try {
    stack_.StackServicePort("no-such-service");
    FAIL() << "no exception";
  } catch (const EIdInvalidServiceName& e) {
    EXPECT_EQ(e.Message(), "no-such-service is not a valid service.");
  }
  // /etc/services is not on every machine; when it is, "http" is 80.
  if (access("/etc/services", R_OK) == 0) {
    EXPECT_EQ(stack_.StackServicePort("http"), 80);
    auto names = stack_.StackServiceNames(80);
    ASSERT_GE(names->Count(), 1);
    EXPECT_EQ(names->Get(0), "http");
  }
}

TEST_F(StackTest, ByteOrderHelpers) {
  EXPECT_EQ(stack_.StackHostToNet16(0x1234), htons(0x1234));
  EXPECT_EQ(stack_.StackNetToHost32(stack_.StackHostToNet32(0x01020304)), 0x01020304u);
}

TEST(SocketList, HoldsAtMost64Handles) {
  TIdSocketListPosix list;
  for (int i = 0; i < 64; ++i) list.AddSocket(100 + i);
  EXPECT_THROW(list.AddSocket(1), EIdStackSetSizeExceeded);
  list.RemoveSocket(100);
  EXPECT_EQ(list.SocketCount(), 63);
  EXPECT_EQ(list.SocketAt(0), 163);  // the last one fills the gap
  list.RemoveSocket(999);
  EXPECT_EQ(list.SocketCount(), 63);
  try {
    list.SocketAt(63);
    FAIL() << "no exception";
  } catch (const EIdStackSetSizeExceeded& e) {
    EXPECT_EQ(e.Message(), "Set Size Exceeded.");
  }
  EXPECT_THROW(list.SocketAt(-1), EIdStackSetSizeExceeded);
}

TEST_F(StackTest, SelectReportsReadableAndTimesOut) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  TIdSocketListPosix read;
  read.AddSocket(pair[0]);
  EXPECT_EQ(stack_.StackSelect(&read, nullptr, nullptr, 0), 0);
  EXPECT_EQ(read.SocketCount(), 0);
  ASSERT_EQ(write(pair[1], "x", 1), 1);
  read.AddSocket(pair[0]);
  TIdSocketListPosix write_list;
  write_list.AddSocket(pair[0]);
  EXPECT_EQ(stack_.StackSelect(&read, &write_list, nullptr, 1500), 2);
  EXPECT_EQ(read.SocketCount(), 1);
  EXPECT_EQ(write_list.SocketCount(), 1);
  close(pair[0]);
  close(pair[1]);
}

TEST_F(StackTest, SelectWorksForDescriptorsBeyondFdSetSize) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < 1100) {
    rlimit raised = limit;
    raised.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1100);
    setrlimit(RLIMIT_NOFILE, &raised);
  }
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  int high = fcntl(pair[0], F_DUPFD_CLOEXEC, 1050);
  if (high < 0) GTEST_SKIP() << "cannot open descriptor 1050 here";
  ASSERT_GE(high, 1024);
  ASSERT_EQ(write(pair[1], "x", 1), 1);
  TIdSocketListPosix read;
  read.AddSocket(high);
  EXPECT_EQ(stack_.StackSelect(&read, nullptr, nullptr, 1000), 1);
  ASSERT_EQ(read.SocketCount(), 1);
  EXPECT_EQ(read.SocketAt(0), high);
  close(high);
  close(pair[0]);
  close(pair[1]);
}

}  // namespace
}  // namespace ah
