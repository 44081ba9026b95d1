#pragma once
// Text between the window's controls and the run: UTF-8 both ways.

#include <string>
#include <string_view>

#include <QString>

namespace ah {

// UTF-8 -> text shown in a control.
QString ToDisplay(std::string_view utf8);
// Text typed into a control -> UTF-8.
std::string FromTyped(const QString& text);

}  // namespace ah
