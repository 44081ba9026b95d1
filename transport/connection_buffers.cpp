#include "transport/connection_buffers.h"

#include <cstring>

#include "transport/exceptions.h"

namespace ah {

namespace {
[[noreturn]] void NotEnoughData() { throw EIdNotEnoughDataInBuffer("Not enough data in buffer."); }
}  // namespace

std::string TIdSimpleBuffer::TakeBytes(int32_t count) {
  if (count > Size()) NotEnoughData();
  std::string out(Memory(), size_t(count > 0 ? count : 0));
  DropBytes(count);
  return out;
}

void TIdSimpleBuffer::DropBytes(int32_t count) {
  if (count > Size()) NotEnoughData();
  if (count == Size()) {
    SetSize(0);
  } else if (count > 0) {
    std::memmove(memory_, memory_ + count, size_t(size_ - count));
    SetSize(size_ - count);
  }
  NotifyRemoved(count);
}

void TIdSimpleBuffer::Empty() {
  SetSize(0);
  position_ = 0;
}

void TIdSimpleBuffer::AppendBytes(const void* data, int64_t count) {
  if (count <= 0) return;
  std::memcpy(GrowEnd(count), data, size_t(count));
}

char* TIdSimpleBuffer::GrowEnd(int64_t count) {
  int64_t end = size_;
  int64_t keep = position_;
  SetSize(end + count);
  position_ = keep;
  return memory_ + end;
}

void TIdSimpleBuffer::ShrinkEnd(int64_t count) {
  if (count <= 0) return;
  size_ -= count;
  if (position_ > size_) position_ = size_;
}

int64_t TIdManagedBuffer::Seek(int64_t offset, TSeekOrigin origin) {
  if (origin == TSeekOrigin::soBeginning) offset += consumed_;
  int64_t physical = TIdSimpleBuffer::Seek(offset, origin);
  if (physical < consumed_) physical = position_ = consumed_;
  return physical - consumed_;
}

std::string TIdManagedBuffer::TakeBytes(int32_t count) {
  if (count > Size()) NotEnoughData();
  std::string out(Memory(), size_t(count > 0 ? count : 0));
  DropBytes(count);
  return out;
}

void TIdManagedBuffer::DropBytes(int32_t count) {
  if (count > Size()) NotEnoughData();
  if (count == Size()) {
    Empty();
  } else if (count > 0) {
    consumed_ += count;
  }
  NotifyRemoved(count);
}

char* TIdManagedBuffer::GrowEnd(int64_t count) {
  // The prefix goes when more bytes come in, not as it is consumed: by then
  // what is left is mostly the short start of a line or a block, while at
  // each removal it could be most of the buffer, moved again and again.
  if (consumed_ >= pack_threshold_) {
    const int64_t rest = size_ - consumed_;
    std::memmove(memory_, memory_ + consumed_, size_t(rest));
    consumed_ = 0;
    SetSize(rest);
  }
  return TIdSimpleBuffer::GrowEnd(count);
}

void TIdManagedBuffer::Empty() {
  consumed_ = 0;
  TIdSimpleBuffer::Empty();
}

}  // namespace ah
