#pragma once
// The stream http-get writes bodies through: a file it creates or truncates
// when the first byte of a body arrives, or standard output. Pipes,
// terminals and devices cannot seek or be resized; there the stream counts
// its own position, so a body streams through without being held. A size
// reservation is a no-op everywhere; only a file can be cut.

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

  // The file, created (or emptied when it exists) by the first write or
  // kernel transfer, or by Open: a request that fails before its body leaves
  // the file as it was.
  explicit TOutputFdStream(std::string file_name);

  // Creates or empties the file unless that happened already. Raises
  // EFOpenError with the full path and the system's text.
  void Open();

  int64_t Read(void*, int64_t) override { return 0; }
  // A failed write raises EWriteError with the system's text.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;

  int KernelSinkDescriptor() override {
    Open();
    return fd_;
  }
  void KernelWritten(int64_t count) override;

 private:
  void TakeDescriptor();
  // count bytes went out at the position.
  void Advance(int64_t count);

  int fd_;
  bool owns_fd_;
  std::string file_name_;  // of a file not opened yet
  bool regular_ = false;   // a regular file: real seeks and cuts
  // Kept here, not asked of the system: a pipe has neither, and a file's
  // change only through this stream.
  int64_t position_ = 0;
  int64_t size_ = 0;
};

}  // namespace ah
