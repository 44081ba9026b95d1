#pragma once
// The whole content of a file, as tests compare what a run wrote; empty
// when the file cannot be read.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace ah::test {

inline std::string FileBytes(const std::filesystem::path& path) {
  // In bulk: a character at a time is slow in a debug build, and tests
  // poll whole folders of images while a run writes them.
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

}  // namespace ah::test
