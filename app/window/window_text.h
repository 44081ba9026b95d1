#pragma once
// The program keeps its texts as Windows-1251 bytes; Qt wants UTF-8.
// These two are the only crossing points between the window and the run.

#include <string>
#include <string_view>

#include <QString>

namespace ah {

// Windows-1251 bytes -> text shown in a control.
QString ToDisplay(std::string_view cp1251);
// Text typed into a control -> Windows-1251 bytes ("?" for what the code
// page cannot hold).
std::string FromTyped(const QString& text);

}  // namespace ah
