#pragma once
// Small loopback servers for wire tests: each plays a fixed script on every
// connection it accepts and records the bytes the client sent.
//
//   ScriptedServer server({Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nhi").Close()});
//   client.SetPort(server.Port());            // 127.0.0.1, an ephemeral port
//   ... run the client ...
//   EXPECT_EQ(server.Received(0), "GET / HTTP/1.0\r\n...\r\n\r\n");
//   EXPECT_EQ(server.AcceptedCount(), 1);
//
// Connection i plays scripts[i], or the last script once they run out. Each
// connection runs on its own thread, so a client may hold several at once.
// Every wait of a script ends when the server is destroyed; the destructor
// closes all sockets and joins all threads.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ah::test {

class Script {
 public:
  // Sends exactly these bytes (NUL bytes included).
  Script& Send(std::string bytes);
  // Sends count bytes of a repeating pattern ('a'..'z') in one go.
  Script& SendPattern(int64_t count);
  // Sends these bytes again and again until the client stops taking them
  // (it closed) or the server is destroyed; the script ends then.
  Script& SendForever(std::string bytes);
  // Reads and records exactly count bytes; ends the script early if the
  // client closes first.
  Script& ReadBytes(int64_t count);
  // Reads and records up to and including the first occurrence of marker.
  Script& ReadUntil(std::string marker);
  // Reads and records until the client closes its side.
  Script& ReadAll();
  Script& Sleep(int milliseconds);
  // Orderly close (FIN); the script ends.
  Script& Close();
  // Abortive close (RST, via a zero linger time); the script ends.
  Script& Reset();
  // Stops sending (FIN) but keeps reading.
  Script& ShutdownWrite();
  // Sends nothing and keeps the socket open, recording what arrives, until
  // the client closes or the server is destroyed.
  Script& StaySilent();

  struct Step {
    enum Kind { kSend, kSendForever, kReadBytes, kReadUntil, kReadAll, kSleep, kClose, kReset, kShutdownWrite,
                kStaySilent };
    Kind kind;
    std::string bytes;
    int64_t count = 0;
  };
  const std::vector<Step>& Steps() const { return steps_; }

 private:
  std::vector<Step> steps_;
};

class ScriptedServer {
 public:
  // Listens on 127.0.0.1 at an ephemeral port at once.
  explicit ScriptedServer(std::vector<Script> scripts);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  int AcceptedCount() const;
  // What the client sent on connection index (0-based), once that
  // connection's script has ended (waits up to timeout; then what it has).
  std::string Received(int index,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // Waits until count connections have been accepted; false on time-out.
  bool WaitForAccepted(int count,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

 private:
  struct Connection;
  void AcceptLoop();
  void Play(Connection& connection, const Script& script);

  std::vector<Script> scripts_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::thread acceptor_;
};

// A port on 127.0.0.1 held by a socket that is bound and never listens, so a
// connect to it is refused. While the object lives no other socket can listen
// on the port, nor be handed it as its own port and so connect to itself.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A listener whose accept queue is full, so further connects to it on
// 127.0.0.1 neither complete nor fail: they stay pending until the caller
// gives up. Held open for the object's lifetime.
class StalledListener {
 public:
  StalledListener();
  ~StalledListener();
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;
  int Port() const { return port_; }

 private:
  int listen_fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace ah::test
