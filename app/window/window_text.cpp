#include "app/window/window_text.h"

#include <iconv.h>

namespace ah {
namespace {

// Temporary until the platform conversion lands.
std::string Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == iconv_t(-1)) return {};
  std::string out(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  while (src_left > 0) {
    if (iconv(cd, &src, &src_left, &dst, &dst_left) != size_t(-1)) break;
    if (dst_left == 0) break;
    *dst++ = '?';
    --dst_left;
    ++src;
    --src_left;
    while (src_left > 0 && (static_cast<unsigned char>(*src) & 0xC0) == 0x80) {
      ++src;
      --src_left;
    }
  }
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

}  // namespace

QString ToDisplay(std::string_view cp1251) {
  std::string utf8 = Convert("UTF-8", "CP1251", cp1251);
  return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

std::string FromTyped(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  return Convert("CP1251", "UTF-8", std::string_view(utf8.constData(), size_t(utf8.size())));
}

}  // namespace ah
