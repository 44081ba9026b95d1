#pragma once
// The small files the command line reads its settings from, and the rule
// for those that hold a password: only their owner may reach them, as ssh
// asks of its key files.

#include <cstddef>
#include <optional>
#include <string>

namespace ah {

struct FileText {
  std::string bytes;
  // The file has group or world permission bits.
  bool open_to_others = false;
};

// The whole file, when it has at most `limit` bytes; else none, with the
// reason in `error` ("cannot read FILE: ...") and `missing` (may be null)
// set when there is no such file.
std::optional<FileText> ReadFileText(const std::string& path, size_t limit, std::string& error,
                                     bool* missing = nullptr);

// The line that refuses FILE, which holds a password that others can read.
std::string OpenToOthersError(const std::string& path);

}  // namespace ah
