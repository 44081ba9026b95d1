// SOCKS settings that several socket handlers share: each handler runs the
// handshake over its own socket, and a handler that goes away leaves no
// owner behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "tests/support/scripted_server.h"
#include "tests/transport/byte_string.h"
#include "tests/transport/handler_reads.h"
#include "transport/io_handler_socket.h"
#include "transport/socks_info.h"

namespace ah {
namespace {

using test::Bytes;
using test::Script;
using test::ScriptedServer;

const std::string kHost = "origin.test";

// A SOCKS 5 proxy without authentication that grants the connection and
// then speaks for the server: it sends greeting.
Script GrantingProxy(const std::string& greeting) {
  return Script()
      .ReadBytes(3)
      .Send(Bytes({5, 0}))
      .ReadBytes(5 + int64_t(kHost.size()) + 2)
      .Send(Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0, 80}))
      .Send(greeting)
      .StaySilent();
}

using test::Receive;

void Connect(TIdIOHandlerSocket& handler) {
  handler.PrepareOpen();
  handler.ConnectToServer(kHost, 80, 0, 0, 0, 0, "");
}

class SharedSocks : public ::testing::Test {
 protected:
  void SetUp() override {
    // Settings with an owner component are referenced, not copied.
    settings_ = new TIdSocksInfo(&owner_);
    settings_->SetHost("127.0.0.1");
    settings_->SetPort(proxy_.Port());
    settings_->SetVersion(svSocks5);
  }

  ScriptedServer proxy_{{GrantingProxy("first"), GrantingProxy("second")}};
  TComponent owner_{nullptr};
  TIdSocksInfo* settings_ = nullptr;
};

TEST_F(SharedSocks, EachHandlerNegotiatesOverItsOwnSocket) {
  TIdIOHandlerSocket a(nullptr);
  TIdIOHandlerSocket b(nullptr);
  a.SetSocksInfo(settings_);
  b.SetSocksInfo(settings_);
  ASSERT_EQ(a.SocksInfo(), settings_);
  ASSERT_EQ(b.SocksInfo(), settings_);
  // a connects while the settings last went to b, which is not connected.
  Connect(a);
  EXPECT_EQ(Receive(a, 5), "first");
  Connect(b);
  EXPECT_EQ(Receive(b, 6), "second");
  // Each proxy connection saw one greeting and one request, nothing else.
  const std::string request = Bytes({5, 1, 0}) + Bytes({5, 1, 0, 3, int(kHost.size())}) + kHost +
                              Bytes({0, 80});
  a.CloseHandler();
  b.CloseHandler();
  EXPECT_EQ(proxy_.Received(0), request);
  EXPECT_EQ(proxy_.Received(1), request);
}

TEST_F(SharedSocks, AFreedHandlerLeavesNoOwnerBehind) {
  TIdIOHandlerSocket a(nullptr);
  a.SetSocksInfo(settings_);
  {
    TIdIOHandlerSocket b(nullptr);
    b.SetSocksInfo(settings_);
    EXPECT_EQ(settings_->OwnerHandler(), &b);
  }
  EXPECT_EQ(settings_->OwnerHandler(), nullptr);
  Connect(a);
  EXPECT_EQ(Receive(a, 5), "first");
  // Moving to other settings lets go of these too.
  a.SetSocksInfo(settings_);
  EXPECT_EQ(settings_->OwnerHandler(), &a);
  a.SetSocksInfo(nullptr);
  EXPECT_EQ(settings_->OwnerHandler(), nullptr);
  EXPECT_NE(a.SocksInfo(), settings_);
}

}  // namespace
}  // namespace ah
