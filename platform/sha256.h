#pragma once
// SHA-256 digests as 64 lower-case hexadecimal digits.

#include <filesystem>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ah {

std::string Sha256Hex(std::string_view bytes);

// The digest and size of a regular file's content, read in blocks; nothing
// when it cannot be opened or read.
struct FileDigest {
  std::string sha256;
  std::uint64_t bytes = 0;
};
std::optional<FileDigest> DigestFile(const std::filesystem::path& file);

// Whether a regular file has exactly this size and digest; the size is
// looked at first, so a truncated or grown file costs no read.
bool FileMatchesDigest(const std::filesystem::path& file, std::uint64_t bytes,
                       std::string_view sha256);

}  // namespace ah
