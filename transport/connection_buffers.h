#pragma once
// Growable byte buffers of the connection. A simple buffer moves its
// remaining bytes to the front on every removal; a managed buffer only
// advances over a consumed prefix and compacts when bytes are added and
// that prefix is large, so reading many short lines or blocks does not move
// the rest each time.

#include <cstdint>
#include <functional>
#include <string>

#include "framework/streams.h"

namespace ah {

class TIdSimpleBuffer : public TMemoryStream {
 public:
  AH_CLASS_NAME(TIdSimpleBuffer)
  // Told after bytes were taken or dropped, with their count.
  using TBytesRemovedHandler = std::function<void(TIdSimpleBuffer& buffer, int32_t count)>;

  // Both raise EIdNotEnoughDataInBuffer "Not enough data in buffer." when
  // asked for more than the buffer holds.
  virtual std::string TakeBytes(int32_t count);
  virtual void DropBytes(int32_t count);
  // Empties the buffer without telling the handler.
  virtual void Empty();

  // Appends at the end, whatever the position.
  void AppendBytes(const void* data, int64_t count);
  // Grows the end by count bytes for the caller to fill; ShrinkEnd then
  // gives back what was not filled.
  virtual char* GrowEnd(int64_t count);
  void ShrinkEnd(int64_t count);

  void SetBytesRemovedHandler(TBytesRemovedHandler handler) { removed_ = std::move(handler); }

 protected:
  void NotifyRemoved(int32_t count) {
    if (removed_) removed_(*this, count);
  }

 private:
  TBytesRemovedHandler removed_;
};

// The logical content is the memory after ConsumedBytes: Size, Memory and
// positions all count from there.
class TIdManagedBuffer : public TIdSimpleBuffer {
 public:
  AH_CLASS_NAME(TIdManagedBuffer)
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_ - consumed_; }
  const char* Memory() const override { return memory_ + consumed_; }
  std::string TakeBytes(int32_t count) override;
  void DropBytes(int32_t count) override;
  void Empty() override;
  // Moves the content to the front first when ConsumedBytes has reached
  // PackThreshold.
  char* GrowEnd(int64_t count) override;

  int32_t ConsumedBytes() const { return consumed_; }
  int32_t PackThreshold() const { return pack_threshold_; }
  void SetPackThreshold(int32_t value) { pack_threshold_ = value; }

 private:
  int32_t consumed_ = 0;
  int32_t pack_threshold_ = 32768;
};

}  // namespace ah
