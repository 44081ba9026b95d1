#include "app/window/window_text.h"

#include "platform/code_page.h"

namespace ah {

QString ToDisplay(std::string_view cp1251) {
  std::string utf8 = AnsiToUtf8(cp1251);
  return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

std::string FromTyped(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  return Utf8ToAnsi(std::string_view(utf8.constData(), size_t(utf8.size())));
}

}  // namespace ah
