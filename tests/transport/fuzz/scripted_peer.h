#pragma once
// The server side of a fuzzed exchange: an I/O handler that plays a fixed
// byte stream, cut into receives of sizes the input chooses, and reports
// the peer's close once the stream is used up. It reopens on every
// connect, so redirects and second requests read on where the last one
// stopped.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "transport/io_handler.h"

namespace ah::fuzz {

class ScriptedPeer : public TIdIOHandler {
 public:
  // cut_seed 0 hands out as much as asked; any other value cuts the stream
  // into pieces of 1 to 64 bytes.
  ScriptedPeer(std::string_view stream, uint8_t cut_seed)
      : TIdIOHandler(nullptr), stream_(stream), state_(cut_seed) {}

  void ConnectToServer(const std::string&, int, int, int, int, int, const std::string&) override {
    open_ = true;
    ++connects_;
  }
  bool IsOpen() override { return open_; }
  void CloseHandler() override { open_ = false; }
  // Bytes and the close are both readable, so no wait ever blocks.
  bool WaitReadable(int) override { return true; }
  int ReceiveRaw(void* buffer, int length) override {
    size_t n = std::min(size_t(std::max(length, 0)), stream_.size() - position_);
    if (state_ != 0) {
      state_ = state_ * 1103515245u + 12345u;
      n = std::min<size_t>(n, 1 + (state_ >> 16) % 64);
    }
    std::memcpy(buffer, stream_.data() + position_, n);
    position_ += n;
    return int(n);
  }
  int SendRaw(const void* buffer, int length) override {
    sent_.append(static_cast<const char*>(buffer), size_t(length));
    return length;
  }

  int Connects() const { return connects_; }
  size_t Position() const { return position_; }
  const std::string& Sent() const { return sent_; }

 private:
  std::string_view stream_;
  size_t position_ = 0;
  uint32_t state_;
  bool open_ = false;
  int connects_ = 0;
  std::string sent_;
};

}  // namespace ah::fuzz
