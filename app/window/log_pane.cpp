#include "app/window/log_pane.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "app/window/window_text.h"

namespace ah {

void LogPane::Add(const std::string& line) { AddShown(ToDisplay(line)); }

void LogPane::Add(const std::string& line, const std::string& file_system_name) {
  AddShown(ToDisplay(line) + QFile::decodeName(QByteArray::fromStdString(file_system_name)));
}

void LogPane::AddShown(QString text) {
  text.replace(QChar('\r'), QChar(' '));
  text.replace(QChar('\n'), QChar(' '));
  QTextCursor cursor(memo_->document());
  cursor.movePosition(QTextCursor::End);
  if (!cursor.block().text().isEmpty()) cursor.insertBlock();
  cursor.insertText(text);
  cursor.insertBlock();
  // The caret follows the new line, so the pane shows the latest progress.
  memo_->setTextCursor(cursor);
}

int LogPane::Count() const {
  const QTextDocument* doc = memo_->document();
  int count = doc->blockCount();
  if (doc->lastBlock().text().isEmpty()) --count;
  return count;
}

void LogPane::Clear() { memo_->clear(); }

}  // namespace ah
