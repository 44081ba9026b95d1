#pragma once
// An I/O handler that plays receives from a list and records sends, for
// cases that need exact control over how bytes are cut into receives.

#include <deque>
#include <string>
#include <vector>

#include "transport/io_handler.h"
#include "transport/tcp_connection.h"

namespace ah::test {

class ScriptedHandler : public TIdIOHandler {
 public:
  explicit ScriptedHandler(TComponent* owner = nullptr) : TIdIOHandler(owner) {}

  // Each entry is what one receive returns; an empty entry is the peer's
  // close. When the list runs out the handler is silent (not readable).
  std::deque<std::string> receives;
  std::vector<std::string> sends;
  std::vector<int> asked;  // length asked by each receive
  bool open = true;

  bool IsOpen() override { return open; }
  void CloseHandler() override { open = false; }
  bool WaitReadable(int) override { return !receives.empty(); }
  int ReceiveRaw(void* buffer, int length) override {
    asked.push_back(length);
    std::string& next = receives.front();
    int n = std::min<int>(length, int(next.size()));
    next.copy(static_cast<char*>(buffer), size_t(n));
    if (next.empty() || n == int(next.size()))
      receives.pop_front();
    else
      next.erase(0, size_t(n));
    return n;
  }
  int SendRaw(const void* buffer, int length) override {
    sends.emplace_back(static_cast<const char*>(buffer), size_t(length));
    return length;
  }
};

// A connection over a scripted handler: receives arrive exactly as listed.
struct Scripted {
  TIdTCPConnection conn{nullptr};
  ScriptedHandler* handler = new ScriptedHandler(&conn);
  explicit Scripted(std::vector<std::string> receives) {
    handler->receives.assign(receives.begin(), receives.end());
    conn.SetIOHandler(handler);
  }
};

}  // namespace ah::test
