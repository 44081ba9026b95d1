#pragma once
// The stream http-get writes bodies through: a file it created or
// truncated, or standard output. Pipes, terminals and devices cannot seek or be
// resized; there the stream counts its own position and takes a size
// reservation as a no-op, so a body streams through without being held.

#include <memory>
#include <string>

#include "framework/streams.h"
#include "transport/kernel_splice.h"

namespace ah {

// The kernel may write received bodies to the descriptor itself
// (TIdKernelSink), except into a file opened for appending.
class TOutputFdStream : public TStream, public TIdKernelSink {
 public:
  AH_CLASS_NAME(TOutputFdStream)
  // Writes to fd; closes it at the end only when owns_fd.
  TOutputFdStream(int fd, bool owns_fd);
  ~TOutputFdStream() override;

  // Creates the file, or empties it when it exists. Raises EFOpenError with
  // the full path and the system's text.
  static std::unique_ptr<TOutputFdStream> Create(const std::string& file_name);

  int64_t Read(void*, int64_t) override { return 0; }
  // A failed write raises EWriteError with the system's text.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;

  int KernelSinkDescriptor() override { return fd_; }
  void KernelWritten(int64_t count) override;

 private:
  int fd_;
  bool owns_fd_;
  bool regular_;         // a regular file: real seeks and sizes
  int64_t position_ = 0;  // otherwise, the bytes written so far
};

}  // namespace ah
