#include "transport/intercept.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/scripted_server.h"
#include "transport/tcp_client.h"

namespace ah {
namespace {

using test::Script;
using test::ScriptedServer;

std::string Content(TStream& stream) {
  std::string out(size_t(stream.Size()), '\0');
  stream.SetPosition(0);
  stream.Read(out.data(), int64_t(out.size()));
  stream.SetPosition(0);
  return out;
}

void Replace(TStream& stream, const std::string& bytes) {
  stream.SetSize(0);
  stream.Write(bytes.data(), int64_t(bytes.size()));
}

// Over a real socket: A is attached, B is A's next; A upper-cases what is
// sent and B frames it, so the peer sees B's frame of A's text. Received
// bytes pass B (which doubles them) before A (which tags them).
TEST(Intercept, ChainedFiltersRewriteWhatReachesThePeerAndTheReader) {
  ScriptedServer server({Script().ReadUntil("]").Send("ab\n").ReadAll()});
  TIdTCPClient client(nullptr);
  TIdConnectionIntercept a(nullptr), b(nullptr);
  a.SetNextIntercept(&b);
  std::vector<std::string> seen;
  a.SetOnSend([&](TComponent*, TStream& s) {
    std::string text = Content(s);
    seen.push_back("A sends " + text);
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    Replace(s, text);
  });
  b.SetOnSend([&](TComponent*, TStream& s) {
    std::string text = Content(s);
    seen.push_back("B sends " + text);
    Replace(s, "[" + text + "]");
  });
  b.SetOnReceive([&](TComponent*, TStream& s) {
    std::string text = Content(s);
    seen.push_back("B receives " + text);
    Replace(s, text.substr(0, 2) + text);  // grows the block
  });
  a.SetOnReceive([&](TComponent*, TStream& s) {
    std::string text = Content(s);
    seen.push_back("A receives " + text);
    Replace(s, "<" + text);
  });
  client.SetIntercept(&a);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.OpenConnection();
  EXPECT_EQ(b.AttachedConnection(), &client);
  client.SendBytes("hello", 5, true);
  EXPECT_EQ(client.ReceiveLine(), "<abab");
  client.CloseConnection();
  EXPECT_EQ(server.Received(0), "[HELLO]");
  EXPECT_EQ(seen, (std::vector<std::string>{"A sends hello", "B sends HELLO", "B receives ab\n",
                                            "A receives abab\n"}));
  EXPECT_EQ(b.AttachedConnection(), nullptr);
}

TEST(Intercept, RemovedNextInterceptLeavesTheChain) {
  TIdConnectionIntercept a(nullptr);
  std::string log;
  {
    TComponent owner(nullptr);
    auto* b = new TIdConnectionIntercept(&owner);
    b->SetOnSend([&](TComponent*, TStream&) { log += "B"; });
    a.SetNextIntercept(b);
    TStringStream s("x");
    a.FilterOutgoing(s);
  }
  EXPECT_EQ(a.NextIntercept(), nullptr);
  TStringStream s("x");
  a.FilterOutgoing(s);
  EXPECT_EQ(log, "B");
}

}  // namespace
}  // namespace ah
