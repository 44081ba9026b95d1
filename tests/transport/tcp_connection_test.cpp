#include "transport/tcp_connection.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/scripted_server.h"
#include "tests/transport/wire_client.h"
#include "tests/transport/scripted_handler.h"
#include "transport/exceptions.h"
#include "transport/tcp_client.h"

namespace ah {
namespace {

using test::Script;
using test::Scripted;
using test::ScriptedHandler;
using test::ScriptedServer;
using test::Wire;

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char('a' + i % 26);
  return s;
}

TEST(ReceiveLine, TerminatorsAndCarriageReturns) {
  struct Row {
    std::string input;
    std::string terminator;
    std::string line;
    std::string left;
  } rows[] = {
      {"xyz\r\n", "\n", "xyz", ""},
      {"xyz\r\n", "\r\n", "xyz", ""},
      {"xyz\r\r\n", "\n", "xyz\r", ""},
      {"a\rb\nrest", "\n", "a\rb", "rest"},
      {"xyz\n", "z", "xy", "\n"},
      {"xy\r\n", "y", "x", "\r\n"},
      {"xyz\n", "", "xyz", ""},
      {"\n", "\n", "", ""},
      {"\r\n", "\n", "", ""},
  };
  for (const auto& row : rows) {
    Scripted s({row.input});
    EXPECT_EQ(s.conn.ReceiveLine(row.terminator), row.line) << row.input;
    EXPECT_EQ(std::string(s.conn.InputBuffer().Memory(), size_t(s.conn.InputBuffer().Size())),
              row.left)
        << row.input;
  }
}

TEST(ReceiveLine, ALineSplitAcrossManyReceives) {
  Scripted s({"he", "l", "lo wo", "rld\r", "\nnext", " line\n"});
  EXPECT_EQ(s.conn.ReceiveLine(), "hello world");
  EXPECT_EQ(s.conn.ReceiveLine(), "next line");
}

TEST(ReceiveLine, AMultiByteTerminatorCutBetweenReceivesIsFound) {
  Scripted s({"abc\r", "\ndef\r\n"});
  EXPECT_EQ(s.conn.ReceiveLine("\r\n"), "abc");
  EXPECT_EQ(s.conn.ReceiveLine("\r\n"), "def");
}

TEST(ReceiveLine, LengthLimitCountsTheCarriageReturn) {
  {
    Scripted s({std::string(16383, 'x') + "\r\n"});
    EXPECT_EQ(s.conn.ReceiveLine(), std::string(16383, 'x'));
  }
  {
    Scripted s({std::string(16384, 'x') + "\r\n"});
    try {
      s.conn.ReceiveLine();
      FAIL() << "no exception";
    } catch (const EIdReadLnMaxLineLengthExceeded& e) {
      EXPECT_EQ(e.Message(), "Max line length exceeded.");
    }
    EXPECT_EQ(s.conn.InputBuffer().Size(), 16386);  // the bytes stay
  }
  {
    // Without an LF yet the buffered length decides, across receives.
    Scripted s({std::string(10000, 'x'), std::string(10000, 'x')});
    EXPECT_THROW(s.conn.ReceiveLine(), EIdReadLnMaxLineLengthExceeded);
  }
  {
    Scripted s({std::string(20000, 'x') + "\n"});
    EXPECT_EQ(s.conn.ReceiveLine("\n", UseReadTimeout, 0).size(), 20000u);
  }
}

TEST(ReceiveLine, SplitActionReturnsTheLimitAndContinues) {
  Scripted s({Pattern(25), "\n"});
  s.conn.SetMaxLineAction(maSplit);
  EXPECT_EQ(s.conn.ReceiveLine("\n", UseReadTimeout, 10), Pattern(25).substr(0, 10));
  EXPECT_TRUE(s.conn.LineWasSplit());
  EXPECT_EQ(s.conn.ReceiveLine("\n", UseReadTimeout, 10), Pattern(25).substr(10, 10));
  EXPECT_TRUE(s.conn.LineWasSplit());
  EXPECT_EQ(s.conn.ReceiveLine("\n", UseReadTimeout, 10), Pattern(25).substr(20));
  EXPECT_FALSE(s.conn.LineWasSplit());
}

TEST(ReceiveLine, LastBytesWithoutTerminatorThenClose) {
  Scripted s({"x", ""});
  EXPECT_EQ(s.conn.ReceiveLine(), "");
  EXPECT_TRUE(s.conn.LineTimedOut());
  EXPECT_EQ(s.conn.InputBuffer().Size(), 1);
  EXPECT_THROW(s.conn.ReceiveLine(), EIdConnClosedGracefully);
}

TEST(ReceiveLine, NonEmptyLineSkipsBlankLines) {
  Scripted s({"\r\n  \r\n\t x y \r\n"});
  EXPECT_EQ(s.conn.ReceiveNonEmptyLine(), "x y");
  Scripted t({"\n\n\n"});
  EXPECT_EQ(t.conn.ReceiveNonEmptyLine(2), "");
}

TEST(ReceiveLine, AsciiFilterClearsTheTopBit) {
  Scripted s({"\xC1\xE2\n"});
  s.conn.SetASCIIFilter(true);
  EXPECT_EQ(s.conn.ReceiveLine(), "\x41\x62");
}

TEST(ReceiveToStream, StreamReadsUseWholeBlocks) {
  // 50000 bytes announced as 100000: one full block reaches the stream.
  Scripted s({Pattern(20000), Pattern(30000).substr(0, 30000), ""});
  TMemoryStream stream;
  EXPECT_THROW(s.conn.ReceiveToStream(stream, 100000), EIdConnClosedGracefully);
  EXPECT_EQ(stream.Size(), 32768);
  EXPECT_EQ(s.conn.InputBuffer().Size(), 50000 - 32768);
  for (int asked : s.handler->asked) EXPECT_LE(asked, 32768);
}

TEST(ReceiveToStream, AReceiveBufferSizeBelowOneIsTheDefault) {
  for (int32_t size : {0, -5}) {
    Scripted s({Pattern(40000), ""});
    s.conn.SetRecvBufferSize(size);
    TStringStream stream;
    s.conn.ReceiveToStream(stream, 40000);
    EXPECT_EQ(stream.DataString(), Pattern(40000)) << size;
    EXPECT_EQ(s.conn.RecvBufferSize(), size);
    for (int asked : s.handler->asked) EXPECT_EQ(asked, 32768) << size;
  }
}

TEST(ReceiveToStream, BufferedBytesGoFirstAndTheRestStays) {
  Scripted s({"line\nabcdefgh"});
  EXPECT_EQ(s.conn.ReceiveLine(), "line");
  TStringStream stream;
  s.conn.ReceiveToStream(stream, 3);
  EXPECT_EQ(stream.DataString(), "abc");
  EXPECT_EQ(s.conn.InputBuffer().Size(), 5);
  s.conn.ReceiveToStream(stream, 0);
  EXPECT_EQ(stream.DataString(), "abc");
  EXPECT_EQ(s.conn.InputBuffer().Size(), 5);
}

TEST(ReceiveToStream, AHugeAnnouncementReservesLittle) {
  // 0x7FFFFFFF bytes announced, 10 sent.
  Scripted s({std::string("\x7F\xFF\xFF\xFF", 4) + "0123456789", ""});
  TMemoryStream stream;
  EXPECT_THROW(s.conn.ReceiveToStream(stream), EIdConnClosedGracefully);
  EXPECT_LE(stream.Capacity(), 4 << 20);
  // The bytes buffered with the length prefix reach the stream.
  EXPECT_EQ(std::string(stream.Memory(), size_t(stream.Size())), "0123456789");
}

TEST(ReceiveToStream, CutsTheStreamBackToItsPosition) {
  Scripted s({"abcd", ""});
  TStringStream stream(std::string(20, '#'));
  stream.SetPosition(2);
  EXPECT_THROW(s.conn.ReceiveToStream(stream, 10), EIdConnClosedGracefully);
  EXPECT_EQ(stream.DataString(), "##");
  EXPECT_EQ(s.conn.InputBuffer().Size(), 4);
}

TEST(WorkEvents, StreamReadReportsOnePhase) {
  Scripted s({Pattern(300)});
  std::vector<std::string> events;
  s.conn.SetOnWorkBegin([&](TComponent*, TWorkMode m, int32_t max) {
    events.push_back("begin " + std::to_string(m) + " " + std::to_string(max));
  });
  s.conn.SetOnWork([&](TComponent*, TWorkMode, int32_t n) {
    events.push_back("work " + std::to_string(n));
  });
  s.conn.SetOnWorkEnd([&](TComponent*, TWorkMode) { events.push_back("end"); });
  TStringStream stream;
  s.conn.ReceiveToStream(stream, 300);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 0 300", "work 300", "end"}));

  // Inside an open read phase nothing begins or ends again.
  events.clear();
  s.handler->receives = {"ab\ncd"};
  s.conn.StartWork(wmRead, 7);
  EXPECT_EQ(s.conn.ReceiveLine(), "ab");
  s.conn.ReceiveToStream(stream, 2);
  s.conn.FinishWork(wmRead);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 0 7", "work 3", "work 5", "end"}));
}

TEST(SendBuffering, CollectsLinesIntoOneSend) {
  Scripted s({});
  s.conn.BeginSendBuffering();
  s.conn.SendLine("GET / HTTP/1.0");
  s.conn.SendLine("Host: x");
  s.conn.SendLine();
  EXPECT_TRUE(s.handler->sends.empty());
  s.conn.EndSendBuffering();
  EXPECT_EQ(s.handler->sends, (std::vector<std::string>{"GET / HTTP/1.0\r\nHost: x\r\n\r\n"}));
  s.conn.SendLine("after");
  EXPECT_EQ(s.handler->sends.back(), "after\r\n");
}

TEST(SendBuffering, ThresholdFlushesThatMany) {
  Scripted s({});
  s.conn.BeginSendBuffering(4);
  s.conn.SendText("ab");
  EXPECT_TRUE(s.handler->sends.empty());
  s.conn.SendText("cdef");
  EXPECT_EQ(s.handler->sends, (std::vector<std::string>{"abcd"}));
  s.conn.ClearSendBuffer();
  s.conn.EndSendBuffering();
  EXPECT_EQ(s.handler->sends.size(), 1u);
}

TEST(SendStream, PrefixSizeAndWriteWork) {
  Scripted s({});
  s.conn.SetSendBufferSize(4);
  std::vector<int32_t> work;
  s.conn.SetOnWork([&](TComponent*, TWorkMode m, int32_t n) {
    EXPECT_EQ(m, wmWrite);
    work.push_back(n);
  });
  TStringStream stream("0123456789");
  stream.SetPosition(2);
  s.conn.SendStream(stream, false, true, 6);
  EXPECT_EQ(s.handler->sends,
            (std::vector<std::string>{std::string("\0\0\0\x06", 4), "2345", "67"}));
  EXPECT_EQ(work, (std::vector<int32_t>{4, 6}));
}

TEST(SendBytes, NotConnectedWithoutAnOpenHandler) {
  TIdTCPConnection conn(nullptr);
  try {
    conn.SendLine("x");
    FAIL() << "no exception";
  } catch (const EIdNotConnected& e) {
    EXPECT_EQ(e.Message(), "Not Connected");
  }
  EXPECT_THROW(conn.ReceiveLine(), EIdNotConnected);
  EXPECT_FALSE(conn.IsConnected());
}

TEST(Intercept, ChainNestsLikeLayers) {
  Scripted s({"abc\n"});
  std::vector<std::string> order;
  TIdConnectionIntercept a(nullptr), b(nullptr);
  a.SetNextIntercept(&b);
  a.SetOnSend([&](TComponent*, TStream& st) {
    order.push_back("A send");
    st.SetPosition(st.Size());
    st.Write("!", 1);
  });
  b.SetOnSend([&](TComponent*, TStream&) { order.push_back("B send"); });
  a.SetOnReceive([&](TComponent*, TStream&) { order.push_back("A receive"); });
  b.SetOnReceive([&](TComponent*, TStream& st) {
    order.push_back("B receive");
    st.SetSize(0);
    st.Write("xyz\n", 4);
  });
  s.conn.SetIntercept(&a);
  s.conn.SendText("hi");
  EXPECT_EQ(s.handler->sends, (std::vector<std::string>{"hi!"}));
  EXPECT_EQ(s.conn.ReceiveLine(), "xyz");
  EXPECT_EQ(order, (std::vector<std::string>{"A send", "B send", "B receive", "A receive"}));
}

// Wire cases: a real socket to a scripted server on 127.0.0.1.

TEST(ConnectionWire, ExactByteCountsAndIntegers) {
  Wire w(Script().Send(std::string("\x00\x00\x01\x02", 4) + "0123456789rest").StaySilent());
  EXPECT_EQ(w.client.ReceiveInt32(), 0x102);
  char buffer[10];
  w.client.ReceiveBytes(buffer, 10);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_EQ(w.client.ReceiveLine("t"), "res");
}

TEST(ConnectionWire, LengthPrefixedStream) {
  std::string body = Pattern(256);
  Wire w(Script().Send(std::string("\x00\x00\x01\x00", 4) + body + "tail").StaySilent());
  TStringStream stream;
  w.client.ReceiveToStream(stream);
  EXPECT_EQ(stream.DataString(), body);
  EXPECT_EQ(w.client.ReceiveLine("l"), "tai");
}

TEST(ConnectionWire, UntilCloseReadsEverything) {
  std::string body = Pattern(300000);
  Wire w(Script().Send(body).Close());
  TMemoryStream stream;
  w.client.ReceiveToStream(stream, -1, true);
  ASSERT_EQ(stream.Size(), int64_t(body.size()));
  EXPECT_EQ(std::string(stream.Memory(), body.size()), body);
  EXPECT_FALSE(w.client.IsConnected());
}

TEST(ConnectionWire, UntilCloseDeliversAByteWithoutTerminator) {
  Wire w(Script().Send("x").Close());
  TStringStream stream;
  w.client.ReceiveToStream(stream, -1, true);
  EXPECT_EQ(stream.DataString(), "x");
}

TEST(ConnectionWire, ShortBodyKeepsBytesAndEndsThePhase) {
  Wire w(Script().Send("abcd").Close());
  int ends = 0;
  w.client.SetOnWorkEnd([&](TComponent*, TWorkMode) { ++ends; });
  TStringStream stream;
  EXPECT_THROW(w.client.ReceiveToStream(stream, 10), EIdConnClosedGracefully);
  EXPECT_EQ(stream.DataString(), "");
  EXPECT_EQ(w.client.InputBuffer().Size(), 4);
  EXPECT_EQ(ends, 1);
}

TEST(ConnectionWire, AnnouncedLengthLongerThanTheBody) {
  Wire w(Script().SendPattern(50000).Close());
  TMemoryStream stream;
  EXPECT_THROW(w.client.ReceiveToStream(stream, 100000), EIdConnClosedGracefully);
  EXPECT_EQ(stream.Size(), 32768);
  EXPECT_EQ(w.client.InputBuffer().Size(), 17232);
}

TEST(ConnectionWire, PeerCloseSeenAfterBufferedLines) {
  Wire w(Script().Send("a\nb\n").Close());
  int disconnected = 0;
  std::vector<TIdStatus> statuses;
  w.client.SetOnDisconnected([&](TComponent*) { ++disconnected; });
  w.client.SetOnStatus([&](TComponent*, TIdStatus st, const std::string&) {
    statuses.push_back(st);
  });
  EXPECT_EQ(w.client.ReceiveLine(), "a");
  // Make sure the close has arrived before the buffered line is taken.
  ASSERT_EQ(w.server.Received(0), "");
  w.client.PollPeerClose(false);
  w.client.PollPeerClose(false);
  EXPECT_EQ(w.client.ReceiveLine(), "b");
  EXPECT_THROW(w.client.ReceiveLine(), EIdConnClosedGracefully);
  EXPECT_FALSE(w.client.IsConnected());
  EXPECT_FALSE(w.client.IsConnected());
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(statuses, (std::vector<TIdStatus>{hsDisconnected}));
}

TEST(ConnectionWire, PeerCloseWithNothingBufferedRaisesAtOnce) {
  Wire w(Script().Close());
  try {
    w.client.ReceiveLine();
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
  }
}

TEST(ConnectionWire, ReadTimeoutLeavesTheConnectionOpen) {
  Wire w(Script().SendPattern(40000).StaySilent());
  w.client.SetReadTimeout(300);
  TMemoryStream stream;
  try {
    w.client.ReceiveToStream(stream, -1, true);
    FAIL() << "no exception";
  } catch (const EIdReadTimeout& e) {
    EXPECT_EQ(e.Message(), "Read Timeout");
  }
  EXPECT_EQ(stream.Size(), 32768);
  EXPECT_EQ(w.client.InputBuffer().Size(), 40000 - 32768);
  EXPECT_TRUE(w.client.IsConnected());
  EXPECT_THROW(w.client.ReceiveLine(), EIdReadTimeout);
}

TEST(ConnectionWire, ExplicitLineTimeOutEndsTheCall) {
  Wire w(Script().Send("partial").StaySilent());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(w.client.ReceiveLine("\n", 300), "");
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(w.client.LineTimedOut());
  EXPECT_GE(elapsed, std::chrono::milliseconds(250));
  EXPECT_LT(elapsed, std::chrono::milliseconds(3000));
  EXPECT_EQ(w.client.InputBuffer().Size(), 7);
  EXPECT_EQ(w.client.ReceiveLine("\n", 0), "");
  EXPECT_TRUE(w.client.LineTimedOut());
}

TEST(ConnectionWire, SendLineOfNothingIsCrLf) {
  Wire w(Script().ReadAll());
  w.client.SendLine("");
  w.client.SendLine("x");
  w.client.CloseConnection();
  EXPECT_EQ(w.server.Received(0), "\r\nx\r\n");
}

TEST(ConnectionWire, SendingToAGonePeerRaisesInsteadOfSigpipe) {
  for (bool reset : {false, true}) {
    // The server waits for a first byte, so the close cannot race the connect.
    Wire w(reset ? Script().ReadBytes(1).Reset() : Script().ReadBytes(1).Close());
    w.client.SendText("x");
    ASSERT_EQ(w.server.Received(0), "x");
    // After a read has taken the reset, a send meets a plain broken pipe.
    if (reset) {
      EXPECT_THROW(w.client.ReceiveLine(), EIdSocketError);
    }
    std::string block(65536, 'x');
    try {
      for (int i = 0; i < 200; ++i) w.client.SendText(block);
      FAIL() << "every send succeeded";
    } catch (const EIdSocketError& e) {
      EXPECT_TRUE(e.SocketErrorCode() == 10054 || e.SocketErrorCode() == 10058 ||
                  e.SocketErrorCode() == 10053)
          << e.Message();
    }
    EXPECT_FALSE(w.client.IsConnected());
  }
}

TEST(ConnectionWire, ResetWhileReadingIsASocketError) {
  Wire w(Script().ReadBytes(1).Reset());
  w.client.SendText("x");
  ASSERT_EQ(w.server.Received(0), "x");
  try {
    w.client.ReceiveLine();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), 10054);
    EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
  }
}

TEST(ConnectionWire, ReceiveAllAndAvailable) {
  Wire w(Script().Send("one\n").Sleep(50).Send("two").Close());
  EXPECT_EQ(w.client.ReceiveLine(), "one");
  EXPECT_EQ(w.client.ReceiveAll(), "two");
  EXPECT_EQ(w.client.ReceiveAvailable(), "");
}

class TempFile {
 public:
  explicit TempFile(const std::string& content) {
    char name[] = "/tmp/ah_sendfile_XXXXXX";
    int fd = mkstemp(name);
    path_ = name;
    EXPECT_EQ(write(fd, content.data(), content.size()), ssize_t(content.size()));
    close(fd);
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(ConnectionWire, SendFileWithAndWithoutTheKernel) {
  std::string content = Pattern(100000);
  TempFile file(content);
  for (bool kernel : {true, false}) {
    Wire w(Script().ReadAll());
    w.client.BeginSendBuffering();
    w.client.SendLine("head");
    EXPECT_EQ(w.client.SendFile(file.Path(), kernel), 100000);
    w.client.EndSendBuffering();
    w.client.CloseConnection();
    EXPECT_EQ(w.server.Received(0), "head\r\n" + content) << kernel;
  }
  {
    // The kernel transfer has no MSG_NOSIGNAL; a gone peer must still only fail.
    TempFile big(Pattern(8 << 20));
    Wire w(Script().ReadBytes(1).Reset());
    w.client.SendText("x");
    ASSERT_EQ(w.server.Received(0), "x");
    // The read takes the reset, so the transfer meets a plain broken pipe.
    EXPECT_THROW(w.client.ReceiveLine(), EIdSocketError);
    EXPECT_EQ(w.client.SendFile(big.Path(), true), 0);
  }
  TIdTCPConnection idle(nullptr);
  try {
    idle.SendFile("/no/such/file");
    FAIL() << "no exception";
  } catch (const EIdFileNotFound& e) {
    EXPECT_EQ(e.Message(), "File \"/no/such/file\" not found");
  }
}

}  // namespace
}  // namespace ah
