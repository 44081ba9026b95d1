#include "tools/http-get/output_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  if (regular_) ::lseek(fd_, 0, SEEK_END);
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
  if (!regular_) position_ += done;
  return done;
}

void TOutputFdStream::KernelWritten(int64_t count) {
  // A regular file's offset moved on with the bytes already.
  if (!regular_) position_ += count;
}

int64_t TOutputFdStream::Seek(int64_t offset, TSeekOrigin origin) {
  // Nothing written yet: the body has not begun.
  if (fd_ < 0) return 0;
  if (regular_) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                 : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                    : SEEK_END;
    off_t r = ::lseek(fd_, off_t(offset), whence);
    return r < 0 ? -1 : int64_t(r);
  }
  // What went out is gone; only asking where we are makes sense here.
  if (origin == TSeekOrigin::soCurrent && offset == 0) return position_;
  return position_;
}

int64_t TOutputFdStream::Size() {
  if (fd_ < 0 || !regular_) return position_;
  struct stat st {};
  return ::fstat(fd_, &st) == 0 ? int64_t(st.st_size) : 0;
}

void TOutputFdStream::SetSize(int64_t size) {
  // A reservation ahead of the first byte waits for that byte.
  if (fd_ < 0 || !regular_) return;
  if (::ftruncate(fd_, off_t(size)) != 0) {
    throw EWriteError(std::string("Stream write error: ") + std::strerror(errno));
  }
  if (Seek(0, TSeekOrigin::soCurrent) > size) Seek(size, TSeekOrigin::soBeginning);
}

}  // namespace ah
