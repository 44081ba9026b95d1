#pragma once
// The log pane's lines as the harvest run sees them, kept by the rules of
// the multi-line edit it once was: an added line goes on a line of its own
// after whatever is there (typed text included) and is followed by a line
// break; the count leaves out the empty line after the last break.

#include <string>

#include <QString>

class QPlainTextEdit;

namespace ah {

class LogPane {
 public:
  // `memo` is the window's; it must outlive this object.
  explicit LogPane(QPlainTextEdit* memo) : memo_(memo) {}

  // `line` is UTF-8. Line breaks inside it are shown as blanks: the
  // run adds one line at a time, and a lone CR or LF never split a line
  // of the original edit either.
  void Add(const std::string& line);
  // `line` (UTF-8) followed by a file-system name, shown as the
  // file system's bytes decode.
  void Add(const std::string& line, const std::string& file_system_name);
  int Count() const;
  void Clear();

 private:
  void AddShown(QString text);

  QPlainTextEdit* memo_;
};

}  // namespace ah
