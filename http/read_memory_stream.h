#pragma once
// A read-only stream over memory that the caller owns.

#include <cstdint>

#include "framework/streams.h"

namespace ah {

// The stream never copies or frees the block: the caller keeps it alive for
// as long as the stream reads from it. Writes are refused by storing nothing
// and reporting 0 bytes, so WriteBuffer into it raises "Stream write error".
class TIdReadMemoryStream : public TCustomMemoryStream {
 public:
  AH_CLASS_NAME(TIdReadMemoryStream)
  TIdReadMemoryStream() = default;
  TIdReadMemoryStream(const void* memory, int64_t size) { SetPointer(memory, size); }

  // Points the stream at a new block and rewinds it.
  void SetPointer(const void* memory, int64_t size) {
    // Reads only ever copy out of the block, so dropping const is safe here.
    TCustomMemoryStream::SetPointer(static_cast<char*>(const_cast<void*>(memory)), size);
    position_ = 0;
  }

  int64_t Write(const void*, int64_t) override { return 0; }
  // The size is the caller's block; it cannot be changed through the stream.
  void SetSize(int64_t) override {}
};

}  // namespace ah
