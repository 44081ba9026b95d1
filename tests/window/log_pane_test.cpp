#include <gtest/gtest.h>

#include <QPlainTextEdit>

#include "app/window/log_pane.h"

namespace ah {
namespace {

TEST(LogPane, AddedLinesEachEndInALineBreakThatTheCountLeavesOut) {
  QPlainTextEdit memo;
  LogPane pane(&memo);
  EXPECT_EQ(pane.Count(), 0);
  pane.Add("Авторизация...");
  EXPECT_EQ(memo.toPlainText().toStdString(), "Авторизация...\n");
  EXPECT_EQ(pane.Count(), 1);
  pane.Add("  ");
  pane.Add("");
  pane.Add("x");
  EXPECT_EQ(memo.toPlainText().toStdString(), "Авторизация...\n  \n\nx\n");
  EXPECT_EQ(pane.Count(), 4);
  pane.Clear();
  EXPECT_EQ(pane.Count(), 0);
  EXPECT_TRUE(memo.toPlainText().isEmpty());
}

TEST(LogPane, TypedTextKeepsItsLinesAndAnAddGoesAfterIt) {
  const struct {
    const char* typed;
    const char* after_add;
    int count;
  } rows[] = {
      {"note", "note\nx\n", 2},
      {"note\n", "note\nx\n", 2},
      {"a\nb", "a\nb\nx\n", 3},
      {"a\n\n", "a\n\nx\n", 3},
  };
  for (const auto& row : rows) {
    QPlainTextEdit memo;
    memo.setPlainText(QString::fromUtf8(row.typed));
    LogPane pane(&memo);
    pane.Add("x");
    EXPECT_EQ(memo.toPlainText().toStdString(), row.after_add) << row.typed;
    EXPECT_EQ(pane.Count(), row.count) << row.typed;
  }
}

TEST(LogPane, ABreakInsideAnAddedLineDoesNotSplitIt) {
  QPlainTextEdit memo;
  LogPane pane(&memo);
  pane.Add("  a\nb\rc");
  EXPECT_EQ(memo.toPlainText().toStdString(), "  a b c\n");
  EXPECT_EQ(pane.Count(), 1);
}

TEST(LogPane, AFolderNameIsShownAsTheFileSystemHasIt) {
  QPlainTextEdit memo;
  LogPane pane(&memo);
  // A name the code page cannot hold.
  pane.Add("Папка: ", "/tmp/日本/Море");
  EXPECT_EQ(memo.toPlainText().toStdString(), "Папка: /tmp/日本/Море\n");
  EXPECT_EQ(pane.Count(), 1);
}

TEST(LogPane, TheCaretFollowsTheNewestLine) {
  QPlainTextEdit memo;
  memo.setPlainText("typed");
  QTextCursor start = memo.textCursor();
  start.setPosition(0);
  memo.setTextCursor(start);
  LogPane pane(&memo);
  pane.Add("x");
  EXPECT_EQ(memo.textCursor().position(), memo.document()->characterCount() - 1);
}

}  // namespace
}  // namespace ah
