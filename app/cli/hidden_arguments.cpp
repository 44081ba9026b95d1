#include "app/cli/hidden_arguments.h"

#include <cstring>
#include <string_view>

namespace ah {

namespace {

constexpr std::string_view kMask = "***";

// Whether the strings lie one after the other, as the system lays them
// out: only then may bytes move between them.
bool Adjacent(int argc, char** argv) {
  for (int i = 0; i + 1 < argc; ++i)
    if (argv[i] + std::strlen(argv[i]) + 1 != argv[i + 1]) return false;
  return true;
}

}  // namespace

void HideArgument(int argc, char** argv, int index, size_t offset) {
  if (index <= 0 || index >= argc) return;
  char* const value = argv[index] + offset;
  const size_t length = std::strlen(value);
  if (length < kMask.size() || !Adjacent(argc, argv)) {
    std::memset(value, '*', length);
    return;
  }
  std::memcpy(value, kMask.data(), kMask.size());
  const size_t gap = length - kMask.size();
  if (gap == 0) return;
  char* const end = argv[argc - 1] + std::strlen(argv[argc - 1]) + 1;
  char* const rest = value + length;  // the value's NUL and all that follows
  std::memmove(rest - gap, rest, size_t(end - rest));
  // The freed tail is zeroed, so nothing of the password stays behind it.
  std::memset(end - gap, 0, gap);
  for (int i = index + 1; i < argc; ++i) argv[i] -= gap;
}

}  // namespace ah
