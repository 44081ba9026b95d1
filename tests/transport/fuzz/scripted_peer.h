#pragma once
// The server side of a fuzzed exchange: an I/O handler that plays fixed
// byte streams, cut into receives of sizes the input chooses. The first
// stream is there at once; each later one only once the client has sent
// one more request head (a blank line), as a server answers request by
// request. Until then the peer is silent; when every stream is used up it
// closes. It reopens on every connect, so redirects and second requests
// read on where the last one stopped.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "transport/io_handler.h"

namespace ah::fuzz {

class ScriptedPeer : public TIdIOHandler {
 public:
  // cut_seed 0 hands out as much as asked; any other value cuts the streams
  // into pieces of 1 to 64 bytes.
  ScriptedPeer(std::vector<std::string_view> streams, uint8_t cut_seed)
      : TIdIOHandler(nullptr), streams_(std::move(streams)), state_(cut_seed) {}
  ScriptedPeer(std::string_view stream, uint8_t cut_seed)
      : ScriptedPeer(std::vector<std::string_view>{stream}, cut_seed) {}

  void ConnectToServer(const std::string&, int, int, int, int, int, const std::string&) override {
    open_ = true;
    ++connects_;
  }
  bool IsOpen() override { return open_; }
  void CloseHandler() override { open_ = false; }
  // Never blocks: bytes or the close are readable at once, silence is not.
  bool WaitReadable(int) override { return Closed() || Available() > 0; }
  int ReceiveRaw(void* buffer, int length) override {
    size_t n = std::min(size_t(std::max(length, 0)), Available());
    if (state_ != 0) {
      state_ = state_ * 1103515245u + 12345u;
      n = std::min<size_t>(n, 1 + (state_ >> 16) % 64);
    }
    if (n == 0) return 0;
    std::memcpy(buffer, streams_[current_].data() + offset_, n);
    offset_ += n;
    consumed_ += n;
    return int(n);
  }
  int SendRaw(const void* buffer, int length) override {
    const size_t from = sent_.size() >= 3 ? sent_.size() - 3 : 0;
    sent_.append(static_cast<const char*>(buffer), size_t(length));
    for (size_t at = sent_.find("\r\n\r\n", from); at != std::string::npos;
         at = sent_.find("\r\n\r\n", at + 4)) {
      ++heads_;
    }
    return length;
  }

  int Connects() const { return connects_; }
  // Bytes received so far, over all streams.
  size_t Position() const { return consumed_; }
  const std::string& Sent() const { return sent_; }

 private:
  // Moves on to the next stream when it may be sent; the bytes left in
  // the current one.
  size_t Available() {
    while (current_ < streams_.size() && offset_ == streams_[current_].size() &&
           current_ + 1 < streams_.size() && int(current_ + 1) < heads_) {
      ++current_;
      offset_ = 0;
    }
    return current_ < streams_.size() ? streams_[current_].size() - offset_ : 0;
  }
  bool Closed() {
    Available();
    return current_ + 1 >= streams_.size() &&
           (streams_.empty() || offset_ == streams_[current_].size());
  }

  std::vector<std::string_view> streams_;
  size_t current_ = 0;
  size_t offset_ = 0;
  size_t consumed_ = 0;
  int heads_ = 0;
  uint32_t state_;
  bool open_ = false;
  int connects_ = 0;
  std::string sent_;
};

}  // namespace ah::fuzz
