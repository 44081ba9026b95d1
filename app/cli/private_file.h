#pragma once
// The small files the command line reads its settings from.

#include <cstddef>
#include <optional>
#include <string>

namespace ah {

struct FileText {
  std::string bytes;
};

// The whole file, when it has at most `limit` bytes; else none, with the
// reason in `error` ("cannot read FILE: ...") and `missing` (may be null)
// set when there is no such file.
std::optional<FileText> ReadFileText(const std::string& path, size_t limit, std::string& error,
                                     bool* missing = nullptr);

}  // namespace ah
