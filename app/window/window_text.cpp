#include "app/window/window_text.h"

namespace ah {

QString ToDisplay(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

std::string FromTyped(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace ah
