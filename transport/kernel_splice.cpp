#include "transport/kernel_splice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ah {

namespace {

// A pipe this large holds a megabyte of received pages per move; the system
// may give less.
constexpr int kPipeSize = 1 << 20;

}  // namespace

TIdKernelSplice::TIdKernelSplice() {
  if (::pipe2(pipe_, O_CLOEXEC) != 0) {
    pipe_[0] = pipe_[1] = -1;
    return;
  }
  ::fcntl(pipe_[1], F_SETPIPE_SZ, kPipeSize);
  int size = ::fcntl(pipe_[1], F_GETPIPE_SZ);
  block_ = size > 0 ? size : 65536;
}

TIdKernelSplice::~TIdKernelSplice() {
  if (pipe_[0] >= 0) ::close(pipe_[0]);
  if (pipe_[1] >= 0) ::close(pipe_[1]);
}

bool TIdKernelSplice::CanWriteTo(int sink) {
  // From the empty pipe: a sink the kernel can write says there is nothing
  // yet, one it cannot says so at once.
  ssize_t n = ::splice(pipe_[0], nullptr, sink, nullptr, 1, SPLICE_F_NONBLOCK);
  return n == 0 || (n < 0 && errno == EAGAIN);
}

int64_t TIdKernelSplice::Move(TIdStackSocketHandle socket, int sink, int64_t count) {
  const size_t want = size_t(std::min(count, block_));
  ssize_t in;
  do {
    in = ::splice(socket, nullptr, pipe_[1], nullptr, want, SPLICE_F_MOVE);
  } while (in < 0 && errno == EINTR);
  if (in < 0) return errno == EINVAL || errno == ENOSYS ? kUnsupported : kSocketFailed;
  for (ssize_t left = in; left > 0;) {
    ssize_t out = ::splice(pipe_[0], nullptr, sink, nullptr, size_t(left), SPLICE_F_MOVE);
    if (out < 0 && errno == EINTR) continue;
    if (out <= 0) {
      if (out == 0) errno = EIO;
      return kSinkFailed;
    }
    left -= out;
  }
  return in;
}

}  // namespace ah
