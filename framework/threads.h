#pragma once
// Threads as the components see them: which thread is the main one, and a
// millisecond sleep.

#include <cstdint>

namespace ah {

// The main thread is the one that started the process (it runs the static
// initialisers of this library) unless a host registers another one.
bool IsMainThread();
// Makes the calling thread the main thread; for hosts whose user interface
// runs elsewhere.
void RegisterMainThread();

// Blocks the calling thread for ms milliseconds; 0 or less only yields.
void SleepMs(int64_t ms);

}  // namespace ah
