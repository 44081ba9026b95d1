#include "framework/streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/exception.h"

namespace ah {

int64_t TStream::Size() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const int64_t total = count;
  std::vector<char> buffer(size_t(std::min<int64_t>(count, 1 << 16)));
  while (count > 0) {
    int64_t n = std::min<int64_t>(count, int64_t(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return total;
}

int64_t TCustomMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, memory_ + position_, size_t(n));
  position_ += n;
  return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning: position_ = offset; break;
    case TSeekOrigin::soCurrent: position_ += offset; break;
    case TSeekOrigin::soEnd: position_ = size_ + offset; break;
  }
  if (position_ < 0) position_ = 0;
  return position_;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
  if (size_ > 0) stream.WriteBuffer(memory_, size_);
}

void TCustomMemoryStream::SaveToFile(const std::string& file_name) {
  TFileStream file(file_name, TFileStream::fmCreate);
  SaveToStream(file);
}

TMemoryStream::~TMemoryStream() { std::free(memory_); }

void TMemoryStream::SetCapacity(int64_t capacity) {
  capacity = std::max(capacity, size_);
  if (capacity == capacity_) return;
  if (capacity == 0) {
    std::free(memory_);
    memory_ = nullptr;
  } else {
    char* grown = static_cast<char*>(std::realloc(memory_, size_t(capacity)));
    if (!grown) throw EStreamError("Out of memory while expanding memory stream");
    memory_ = grown;
  }
  capacity_ = capacity;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  if (size > capacity_) {
    // Grow geometrically so that appends stay amortised linear.
    SetCapacity(std::max<int64_t>(size, capacity_ + capacity_ / 2));
  }
  size_ = size;
  if (position_ > size_) position_ = size_;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t end = position_ + count;
  if (end > size_) {
    int64_t keep = position_;
    SetSize(end);
    position_ = keep;
  }
  std::memcpy(memory_ + position_, buffer, size_t(count));
  position_ = end;
  return count;
}

void TMemoryStream::Clear() {
  std::free(memory_);
  memory_ = nullptr;
  size_ = capacity_ = position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  int64_t n = stream.Size();
  SetSize(n);
  if (n > 0) stream.ReadBuffer(memory_, n);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, TFileStream::fmOpenRead);
  LoadFromStream(file);
}

int64_t TStringStream::Read(void* buffer, int64_t count) {
  int64_t size = Size();
  if (count <= 0 || position_ >= size) return 0;
  int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, size_t(n));
  position_ += n;
  return n;
}

int64_t TStringStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t end = size_t(position_ + count);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, size_t(count));
  position_ = int64_t(end);
  return count;
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning: position_ = offset; break;
    case TSeekOrigin::soCurrent: position_ += offset; break;
    case TSeekOrigin::soEnd: position_ = Size() + offset; break;
  }
  position_ = std::clamp<int64_t>(position_, 0, Size());
  return position_;
}

void TStringStream::SetSize(int64_t size) {
  data_.resize(size_t(std::max<int64_t>(size, 0)));
  if (position_ > Size()) position_ = Size();
}

std::string TStringStream::TakeDataString() {
  position_ = 0;
  return std::move(data_);
}

std::string ExpandFileName(const std::string& file_name) {
  if (!file_name.empty() && file_name[0] == '/') return file_name;
  std::vector<char> cwd(4096);
  if (!getcwd(cwd.data(), cwd.size())) return file_name;
  std::string dir(cwd.data());
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir + file_name;
}

TFileStream::TFileStream(const std::string& file_name, unsigned mode) : file_name_(file_name) {
  if (mode == fmCreate) {
    fd_ = ::open(file_name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
      throw EFCreateError("Cannot create file \"" + ExpandFileName(file_name) + "\". " +
                          std::strerror(errno));
    return;
  }
  int flags = O_CLOEXEC;
  switch (mode & 3) {
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
  }
  fd_ = ::open(file_name.c_str(), flags);
  if (fd_ < 0)
    throw EFOpenError("Cannot open file \"" + ExpandFileName(file_name) + "\". " +
                      std::strerror(errno));
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, size_t(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, size_t(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
               : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                  : SEEK_END;
  off_t r = ::lseek(fd_, off_t(offset), whence);
  return r < 0 ? -1 : int64_t(r);
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(fd_, off_t(size)) != 0) throw EStreamError(std::strerror(errno));
  if (Position() > size) SetPosition(size);
}

}  // namespace ah
