#include "app/window/log_pane.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "app/window/window_text.h"

namespace ah {

void LogPane::Add(const std::string& line) {
  QString text = ToDisplay(line);
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
