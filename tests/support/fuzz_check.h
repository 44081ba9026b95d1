#pragma once
// Shared pieces of the fuzz targets: property checks that abort (libFuzzer
// then saves the input as a crash), and a cursor that cuts an input into
// the parts a target feeds to different readers.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define AH_FUZZ_CHECK(condition)                                         \
  do {                                                                   \
    if (!(condition)) ::ah::fuzz::Fail(#condition, __FILE__, __LINE__);  \
  } while (0)

namespace ah::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
  std::abort();
}

// Parts are separated by kSeparator, so seeds stay readable text files.
class InputParts {
 public:
  static constexpr std::string_view kSeparator = "\n--\n";

  InputParts(const uint8_t* data, size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  bool Empty() const { return rest_.empty() && !pending_; }
  // The next part; the last one runs to the end of the input.
  std::string_view Next() {
    const size_t at = rest_.find(kSeparator);
    std::string_view part = rest_.substr(0, at);
    pending_ = at != std::string_view::npos;
    rest_ = pending_ ? rest_.substr(at + kSeparator.size()) : std::string_view();
    return part;
  }
  // One byte steering the target (0 when the input is used up).
  uint8_t Byte() {
    if (rest_.empty()) return 0;
    const uint8_t b = uint8_t(rest_[0]);
    rest_.remove_prefix(1);
    return b;
  }
  std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
  bool pending_ = false;
};

}  // namespace ah::fuzz
