// The loopback servers the wire tests stand on, checked with plain sockets.
#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace ah::test {
namespace {

int Dial(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return fd;
}

std::string ReadToEnd(int fd, int& last_errno) {
  std::string out;
  char buffer[4096];
  for (;;) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      last_errno = n < 0 ? errno : 0;
      return out;
    }
    out.append(buffer, size_t(n));
  }
}

TEST(ScriptedServer, PlaysItsScriptAndRecordsTheClient) {
  ScriptedServer server({Script().ReadUntil("\n").Send(std::string("ok\0!", 4)).ReadBytes(3).Close(),
                         Script().Send("second").Close()});
  int fd = Dial(server.Port());
  ASSERT_EQ(send(fd, "hello\nabc", 9, 0), 9);
  int err = -1;
  EXPECT_EQ(ReadToEnd(fd, err), std::string("ok\0!", 4));
  EXPECT_EQ(err, 0);
  close(fd);
  EXPECT_EQ(server.Received(0), "hello\nabc");

  for (int i = 0; i < 2; ++i) {
    fd = Dial(server.Port());
    EXPECT_EQ(ReadToEnd(fd, err), "second");
    close(fd);
  }
  EXPECT_TRUE(server.WaitForAccepted(3));
  EXPECT_EQ(server.AcceptedCount(), 3);
}

TEST(ScriptedServer, ResetIsSeenAsConnectionReset) {
  ScriptedServer server({Script().ReadBytes(1).Reset()});
  int fd = Dial(server.Port());
  ASSERT_EQ(send(fd, "x", 1, 0), 1);
  int err = 0;
  ReadToEnd(fd, err);
  EXPECT_EQ(err, ECONNRESET);
  close(fd);
}

TEST(ScriptedServer, SilentServerRecordsUntilTheClientCloses) {
  ScriptedServer server({Script().StaySilent()});
  int fd = Dial(server.Port());
  ASSERT_EQ(send(fd, "abc", 3, 0), 3);
  shutdown(fd, SHUT_WR);
  EXPECT_EQ(server.Received(0), "abc");
  close(fd);
}

TEST(ScriptedServer, RefusingPortRefuses) {
  RefusingPort refusing;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(refusing.Port()));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), -1);
  EXPECT_EQ(errno, ECONNREFUSED);
  close(fd);
}

}  // namespace
}  // namespace ah::test
