#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scripted_server.h"
#include "tests/transport/scripted_handler.h"
#include "transport/exceptions.h"
#include "transport/rfc_reply.h"
#include "transport/tcp_client.h"
#include "transport/tcp_connection.h"

namespace ah {
namespace {

using test::Script;
using test::Scripted;
using test::ScriptedHandler;
using test::ScriptedServer;

std::vector<std::string> Lines(const TStrings& s) {
  std::vector<std::string> out;
  for (int i = 0; i < s.Count(); ++i) out.push_back(s.Get(i));
  return out;
}

TEST(RFCReply, ParseReplyLinesTakesTheCodeFromTheFirstLine) {
  struct Row {
    std::vector<std::string> lines;
    int code;
    std::string text_code;
    std::vector<std::string> text;
  } rows[] = {
      {{"220 ready"}, 220, "220", {"ready"}},
      {{"250-first", "250-second", "250 last"}, 250, "250", {"first", "second", "last"}},
      {{"220"}, 220, "220", {""}},
      {{" 42 x"}, 42, "42", {"x"}},
      {{"hello world"}, 0, "hell", {"o world"}},
      {{"550-a", "b"}, 550, "550", {"a", ""}},
      {{}, 0, "", {}},
  };
  for (const auto& r : rows) {
    TStringList lines;
    for (const auto& l : r.lines) lines.Add(l);
    SCOPED_TRACE(lines.Text());
    TIdRFCReply reply;
    reply.Text().Add("stale");
    reply.ParseReplyLines(lines);
    EXPECT_EQ(reply.NumericCode(), r.code);
    EXPECT_EQ(reply.TextCode(), r.text_code);
    EXPECT_EQ(Lines(reply.Text()), r.text);
  }
}

TEST(ReadReply, MultiLineReplyEndsAtTheCodeAndABlank) {
  struct Row {
    std::vector<std::string> receives;
    int code;
    std::vector<std::string> text;
    std::string left;  // the next line after the reply
  } rows[] = {
      {{"250-one\r\n250-two\r\n250 three\r\nnext\r\n"}, 250, {"one", "two", "three"}, "next"},
      {{"220 single\r\nnext\n"}, 220, {"single"}, "next"},
      // Blank lines between reply lines are skipped; cut receives join.
      {{"\r\n\r\n214-he", "lp\r\n\r\n214", " end\r\nnext\n"}, 214, {"help", "end"}, "next"},
      // The end marker compares ignoring case; other codes do not end it.
      {{"ab1-x\r\n251 not yet\r\nAB1 done\r\nnext\n"}, 0, {"x", "not yet", "done"}, "next"},
      // A line shorter than four characters ends the reply too.
      {{"250-x\r\nok\r\nnext\n"}, 250, {"x", ""}, "next"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.receives[0]);
    Scripted s(r.receives);
    EXPECT_EQ(s.conn.ReadReply(), r.code);
    EXPECT_EQ(s.conn.LastReply().NumericCode(), r.code);
    EXPECT_EQ(Lines(s.conn.LastReply().Text()), r.text);
    EXPECT_EQ(s.conn.ReceiveLine(), r.left);
  }
}

TEST(ReadReply, CodeOutsideTheAllowedOnesRaisesWithTheReplyText) {
  Scripted s({"550-no such\r\n550 mailbox\r\n"});
  try {
    s.conn.ReadReply({250, 251});
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 550);
    EXPECT_EQ(e.Message(), "no such\r\nmailbox\r\n");
  }
  EXPECT_EQ(s.conn.CheckReplyCode(550, {}), 550);
  EXPECT_EQ(s.conn.CheckReplyCode(251, {250, 251}), 251);
}

TEST(ReadReply, RaiseReplyErrorAsAnotherClass) {
  Scripted s({"421 going away\r\n"});
  s.conn.ReadReply();
  try {
    s.conn.RaiseReplyError(RaiseAs<EIdConnClosedGracefully>);
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_EQ(e.Message(), "going away\r\n");
  }
  EXPECT_THROW(s.conn.RaiseReplyError(nullptr), EIdProtocolReplyError);
}

TEST(ReadReply, PeerCloseInsideAMultiLineReplyRaises) {
  Scripted s({"250-one\r\n250-two\r\n", ""});
  EXPECT_THROW(s.conn.ReadReply(), EIdConnClosedGracefully);
}

TEST(SendCommand, SendsTheLineAndReadsTheReplyOverTheWire) {
  ScriptedServer server({Script()
                             .Send("220 hello\r\n")
                             .ReadUntil("\r\n")
                             .Send("250-pleased\r\n250-SIZE 100\r\n250 HELP\r\n")
                             .ReadUntil("\r\n")
                             .Send("502 unknown\r\n")
                             .ReadAll()});
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.OpenConnection();
  EXPECT_EQ(client.ReadReply({220}), 220);
  EXPECT_EQ(client.SendCommand("EHLO me", {250}), 250);
  EXPECT_EQ(Lines(client.LastReply().Text()),
            (std::vector<std::string>{"pleased", "SIZE 100", "HELP"}));
  try {
    client.SendCommand("XYZZY", {250});
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 502);
  }
  client.CloseConnection();
  EXPECT_EQ(server.Received(0), "EHLO me\r\nXYZZY\r\n");
}

}  // namespace
}  // namespace ah
