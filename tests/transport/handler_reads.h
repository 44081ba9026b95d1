#pragma once
// Raw reads straight from an I/O handler, below the connection's buffers.

#include <algorithm>
#include <string>

#include "transport/io_handler.h"

namespace ah::test {

// Reads until count bytes arrived or the peer closed.
inline std::string Receive(TIdIOHandler& handler, size_t count) {
  std::string result;
  char buffer[4096];
  while (result.size() < count) {
    int n = handler.ReceiveRaw(buffer, int(std::min(sizeof buffer, count - result.size())));
    if (n <= 0) break;
    result.append(buffer, size_t(n));
  }
  return result;
}

}  // namespace ah::test
