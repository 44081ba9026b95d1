#include "tools/http-get/output_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "framework/exception.h"

namespace ah {

TOutputFdStream::TOutputFdStream(int fd, bool owns_fd) : fd_(fd), owns_fd_(owns_fd) {
  TakeDescriptor();
}

TOutputFdStream::TOutputFdStream(std::string file_name)
    : fd_(-1), owns_fd_(true), file_name_(std::move(file_name)) {}

void TOutputFdStream::TakeDescriptor() {
  struct stat st {};
  // Writes to a descriptor opened for appending (a shell's ">>") always land
  // at the end, after any space reserved ahead of them, so such a file is
  // written like a pipe.
  int flags = ::fcntl(fd_, F_GETFL);
  regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 && !(flags & O_APPEND);
  if (!regular_) return;
  const off_t end = ::lseek(fd_, 0, SEEK_END);
  position_ = size_ = end < 0 ? 0 : int64_t(end);
}

TOutputFdStream::~TOutputFdStream() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

void TOutputFdStream::Open() {
  if (fd_ >= 0) return;
  fd_ = ::open(file_name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    throw EFOpenError("Cannot open file \"" + ExpandFileName(file_name_) + "\". " +
                      std::strerror(errno));
  }
  TakeDescriptor();
}

int64_t TOutputFdStream::Write(const void* buffer, int64_t count) {
  if (count > 0) Open();
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, size_t(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EWriteError(std::string("Stream write error: ") + std::strerror(errno));
    done += n;
  }
  Advance(done);
  return done;
}

void TOutputFdStream::KernelWritten(int64_t count) {
  // A regular file's offset moved on with the bytes already.
  Advance(count);
}

void TOutputFdStream::Advance(int64_t count) {
  position_ += count;
  size_ = std::max(size_, position_);
}

int64_t TOutputFdStream::Seek(int64_t offset, TSeekOrigin origin) {
  // Nothing written yet: the body has not begun. What went out to a pipe is
  // gone; only asking where we are makes sense there.
  if (fd_ < 0 || !regular_) return position_;
  const int64_t target = origin == TSeekOrigin::soBeginning ? offset
                         : origin == TSeekOrigin::soCurrent ? position_ + offset
                                                            : size_ + offset;
  // The stream moves the offset only by its own writes and seeks, so asking
  // where it is costs no call.
  if (target == position_) return position_;
  const off_t r = ::lseek(fd_, off_t(target), SEEK_SET);
  if (r < 0) return -1;
  position_ = int64_t(r);
  return position_;
}

int64_t TOutputFdStream::Size() { return size_; }

void TOutputFdStream::SetSize(int64_t size) {
  // A reservation ahead of the data would only be a hole that the data fills
  // anyway, and before the first byte there is no file yet: only a cut
  // changes the file.
  if (fd_ < 0 || !regular_ || size >= size_) return;
  if (::ftruncate(fd_, off_t(std::max<int64_t>(size, 0))) != 0) {
    throw EWriteError(std::string("Stream write error: ") + std::strerror(errno));
  }
  size_ = std::max<int64_t>(size, 0);
  if (position_ > size_) Seek(size_, TSeekOrigin::soBeginning);
}

}  // namespace ah
