#pragma once
// Wire bytes written as numbers: Bytes({5, 0}) for a SOCKS answer.

#include <initializer_list>
#include <string>

namespace ah::test {

inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += char(v);
  return out;
}

}  // namespace ah::test
