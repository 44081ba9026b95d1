#include "platform/code_page.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ah {
namespace {

// Code points of the bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F.
constexpr std::array<char16_t, 64> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr char32_t AnsiCodePoint(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return char32_t(0x0410 + (b - 0xC0));
  return kHighHalf[b - 0x80];
}

// Bytes of the code points below U+2200 (0: none), built at compile time.
constexpr auto kReverse = [] {
  std::array<unsigned char, 0x2200> byte{};
  for (int b = 0x80; b < 0x100; ++b) byte[AnsiCodePoint(static_cast<unsigned char>(b))] = static_cast<unsigned char>(b);
  return byte;
}();

char AnsiByte(char32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  if (cp < kReverse.size() && kReverse[cp] != 0) return static_cast<char>(kReverse[cp]);
  return '?';
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length of the well-formed sequence at src and its code point; 0 when
// none starts there.
ptrdiff_t DecodeOne(const char* src, const char* end, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(*src);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  ptrdiff_t len;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (end - src < len) return 0;
  for (ptrdiff_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(src[k]);
    if (!IsContinuation(b)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::string Utf8ToAnsi(std::string_view utf8) {
  // The result is never longer than the input: write in place, trim at the end.
  std::string out(utf8.size(), '\0');
  char* dst = out.data();
  const char* src = utf8.data();
  const char* const end = src + utf8.size();
  while (src < end) {
    // Runs of ASCII copy eight bytes at a time.
    while (end - src >= 8) {
      uint64_t word;
      std::memcpy(&word, src, 8);
      if (word & 0x8080808080808080ull) break;
      std::memcpy(dst, src, 8);
      src += 8, dst += 8;
    }
    if (src == end) break;
    char32_t cp;
    const ptrdiff_t len = DecodeOne(src, end, cp);
    if (len == 0) return {};
    *dst++ = AnsiByte(cp);
    src += len;
  }
  out.resize(size_t(dst - out.data()));
  return out;
}

// U+FFFD is "?" in the code page.
std::string Utf8ToAnsiLossy(std::string_view utf8) { return Utf8ToAnsi(RepairUtf8(utf8)); }

std::string RepairUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const char* src = bytes.data();
  const char* const end = src + bytes.size();
  while (src < end) {
    char32_t cp;
    const ptrdiff_t len = DecodeOne(src, end, cp);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      ++src;
      continue;
    }
    out.append(src, size_t(len));
    src += len;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() * 2);
  for (char c : ansi) AppendUtf8(out, AnsiCodePoint(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace ah
