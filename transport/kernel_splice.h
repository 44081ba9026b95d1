#pragma once
// Bodies that skip user memory: a stream that ends in a file descriptor (a
// file or a pipe) may let the kernel move received bytes from the socket to
// it directly, through a pipe (splice). The buffered connection uses this
// for stream reads when nothing has to see the bytes on their way (no
// intercept, no ASCII filter, no TLS).

#include <cstdint>

#include "transport/stack.h"

namespace ah {

// Implemented by a stream that writes to a descriptor.
class TIdKernelSink {
 public:
  virtual ~TIdKernelSink() = default;
  // The descriptor that the stream's bytes go to at its position, or -1
  // when they must go through the stream's Write.
  virtual int KernelSinkDescriptor() = 0;
  // Told after the kernel wrote count bytes to the descriptor at the
  // stream's position (a file's own offset has moved on with them).
  virtual void KernelWritten(int64_t count) = 0;
};

// A pipe of its own between a socket and a sink descriptor. Owns the pipe.
class TIdKernelSplice {
 public:
  // What Move gives besides a count.
  static constexpr int64_t kSocketFailed = -1;  // errno holds the socket's error
  static constexpr int64_t kSinkFailed = -2;    // errno holds the sink's error
  static constexpr int64_t kUnsupported = -3;   // the socket cannot be spliced

  TIdKernelSplice();
  ~TIdKernelSplice();
  TIdKernelSplice(const TIdKernelSplice&) = delete;
  TIdKernelSplice& operator=(const TIdKernelSplice&) = delete;

  // False when the system gave no pipe.
  bool Usable() const { return pipe_[0] >= 0; }
  // The most one Move takes.
  int64_t BlockSize() const { return block_; }

  // Whether the kernel takes spliced bytes for sink (a file opened for
  // appending, for one, refuses them). Asked before any byte is moved.
  bool CanWriteTo(int sink);

  // Moves up to count bytes that can be received from socket now (it must
  // be readable: this blocks like a receive) to sink, all of them written
  // before it returns. The count moved; 0 when the peer has closed.
  int64_t Move(TIdStackSocketHandle socket, int sink, int64_t count);

 private:
  int pipe_[2] = {-1, -1};
  int64_t block_ = 0;
};

}  // namespace ah
