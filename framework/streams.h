#pragma once
// Byte streams with a position and a size: memory, string and file.

#include <cstdint>
#include <string>

#include "framework/persistent.h"

namespace ah {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;
  AH_CLASS_NAME(TStream)

  // Transfers up to count bytes; returns how many moved.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }

  // All-or-nothing transfers: EReadError "Stream read error" /
  // EWriteError "Stream write error".
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position (0: source's whole content,
  // from its start); returns the count copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over a block of memory that the derived class manages.
class TCustomMemoryStream : public TStream {
 public:
  AH_CLASS_NAME(TCustomMemoryStream)
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  virtual const char* Memory() const { return memory_; }
  void SaveToStream(TStream& stream);
  void SaveToFile(const std::string& file_name);

 protected:
  void SetPointer(char* memory, int64_t size) {
    memory_ = memory;
    size_ = size;
  }
  char* memory_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// A growable memory block owned by the stream.
class TMemoryStream : public TCustomMemoryStream {
 public:
  AH_CLASS_NAME(TMemoryStream)
  TMemoryStream() = default;
  ~TMemoryStream() override;
  int64_t Write(const void* buffer, int64_t count) override;
  void SetSize(int64_t size) override;
  void Clear();
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& file_name);
  char* MutableMemory() { return memory_; }
  int64_t Capacity() const { return capacity_; }
  // Grows or shrinks the block; never below the size.
  virtual void SetCapacity(int64_t capacity);

 private:
  int64_t capacity_ = 0;
};

// A stream whose content is a std::string.
class TStringStream : public TStream {
 public:
  AH_CLASS_NAME(TStringStream)
  explicit TStringStream(std::string data = {}) : data_(std::move(data)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return int64_t(data_.size()); }
  void SetSize(int64_t size) override;
  const std::string& DataString() const { return data_; }
  std::string TakeDataString();

 private:
  std::string data_;
  int64_t position_ = 0;
};

// A file opened for the stream's lifetime.
class TFileStream : public TStream {
 public:
  AH_CLASS_NAME(TFileStream)
  // Access modes; the sharing flags are accepted and have no effect here.
  enum Mode : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareDenyWrite = 0x0020,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFFFF,
  };
  // Failures raise EFCreateError / EFOpenError with the full path and the
  // system's error text.
  TFileStream(const std::string& file_name, unsigned mode);
  ~TFileStream() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  int Handle() const { return fd_; }
  const std::string& FileName() const { return file_name_; }

 private:
  std::string file_name_;
  int fd_ = -1;
};

// The absolute form of a path name, as error messages print it.
std::string ExpandFileName(const std::string& file_name);

}  // namespace ah
