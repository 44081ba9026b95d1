#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "app/window/form1.h"

namespace ah {
namespace {

std::string Utf8(const QString& s) { return s.toStdString(); }

// Types text as keyboard input; QTest::keyClicks knows ASCII only.
void TypeText(QWidget* target, const QString& text) {
  for (QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
  }
}

// Shows the window and makes it the active one, so keys reach it.
void ShowActive(TForm1& form) {
  form.show();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
}

TEST(Form1, IsAFixedToolWindowCentredOnTheScreen) {
  TForm1 form;
  form.show();
  EXPECT_EQ(form.size(), QSize(688, 411));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  Qt::WindowFlags flags = form.windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(form.testAttribute(Qt::WA_QuitOnClose));
  QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  QPoint offset = form.geometry().center() - area.center();
  EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
}

TEST(Form1, CaptionIsTheSiteHostName) {
  const struct {
    const char* root;
    const char* caption;
  } rows[] = {
      {nullptr, "fotopolka.example"},
      {"http://127.0.0.1:8080", "127.0.0.1"},
      {"http://photos.test", "photos.test"},
  };
  for (const auto& row : rows) {
    WindowSetup setup;
    if (row.root) setup.settings.profile.SiteRoot = row.root;
    TForm1 form(std::move(setup));
    EXPECT_EQ(Utf8(form.windowTitle()), row.caption) << (row.root ? row.root : "built-in");
  }
}

TEST(Form1, FieldsOpenWithTheirDefaults) {
  TForm1 form;
  const std::string login = Utf8(form.Edit1->text());
  const std::string password = Utf8(form.Edit2->text());
  ASSERT_FALSE(login.empty());
  EXPECT_EQ(login.find_first_not_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << login;
  ASSERT_EQ(password.size(), 11u) << password;
  EXPECT_EQ(password.back(), '!');
  EXPECT_EQ(std::count_if(password.begin(), password.end(), ::isdigit), 1) << password;
  EXPECT_EQ(password.substr(0, 10).find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"),
            std::string::npos) << password;
  EXPECT_EQ(Utf8(form.Edit3->text()).substr(0, 1), "@");
  EXPECT_EQ(Utf8(form.Edit4->text()), "http://fotopolka.example/users/" + login + "/1044/");
  EXPECT_TRUE(form.loga->toPlainText().isEmpty());
}

TEST(Form1, AnotherSiteRootMovesTheAlbumAddressWithIt) {
  WindowSetup setup;
  setup.settings.profile.SiteRoot = "http://127.0.0.1:8080";
  TForm1 form(std::move(setup));
  EXPECT_EQ(Utf8(form.Edit4->text()), "http://127.0.0.1:8080/users/lisichka/1044/");
}

TEST(Form1, UsesAnElevenPixelSansFont) {
  TForm1 form;
  EXPECT_EQ(form.font().pixelSize(), 11);
  EXPECT_EQ(form.font().styleHint(), QFont::SansSerif);
  EXPECT_FALSE(form.font().bold());
}

TEST(Form1, ControlsSitWhereTheLayoutPutsThem) {
  TForm1 form;
  form.show();
  struct Row {
    const char* name;
    QWidget* widget;
    QRect place;
    const char* text;
  };
  const Row rows[] = {
      {"Label4", form.Label4, {10, 12, 46, 13}, "Альбом"},
      {"Edit4", form.Edit4, {64, 8, 601, 21}, nullptr},
      {"Label1", form.Label1, {16, 44, 37, 13}, "Логин"},
      {"Edit1", form.Edit1, {64, 40, 121, 21}, nullptr},
      {"Label2", form.Label2, {16, 68, 45, 13}, "Пароль"},
      {"Edit2", form.Edit2, {64, 64, 121, 21}, nullptr},
      {"Label3", form.Label3, {16, 92, 41, 13}, "Домен"},
      {"Edit3", form.Edit3, {64, 88, 121, 21}, nullptr},
      {"Label5", form.Label5, {208, 48, 70, 13}, "Ход работы"},
      {"loga", form.loga, {200, 64, 465, 329}, ""},
      {"Button1", form.Button1, {16, 120, 169, 273}, "Старт!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_NE(row.widget, nullptr);
    EXPECT_EQ(row.widget->parentWidget(), &form);
    EXPECT_TRUE(row.widget->isVisible());
    EXPECT_EQ(row.widget->pos(), row.place.topLeft());
    EXPECT_EQ(row.widget->height(), row.place.height());
    if (auto* label = qobject_cast<QLabel*>(row.widget)) {
      // A label may grow with a wider face, never shrink or clip.
      EXPECT_GE(label->width(), row.place.width());
      EXPECT_GE(label->width(), label->sizeHint().width());
      EXPECT_TRUE(label->font().bold());
      EXPECT_EQ(Utf8(label->text()), row.text);
    } else {
      EXPECT_EQ(row.widget->width(), row.place.width());
      EXPECT_FALSE(row.widget->font().bold());
    }
    if (auto* button = qobject_cast<QPushButton*>(row.widget)) {
      EXPECT_EQ(Utf8(button->text()), row.text);
      EXPECT_TRUE(button->isEnabled());
    }
    if (auto* memo = qobject_cast<QPlainTextEdit*>(row.widget)) {
      EXPECT_EQ(Utf8(memo->toPlainText()), row.text);
    }
  }
}

TEST(Form1, EditsAreWhiteWithBlackTextAndThePasswordShowsInTheClear) {
  TForm1 form;
  for (QWidget* w : {static_cast<QWidget*>(form.Edit1), static_cast<QWidget*>(form.Edit2),
                     static_cast<QWidget*>(form.Edit3), static_cast<QWidget*>(form.Edit4),
                     static_cast<QWidget*>(form.loga)}) {
    EXPECT_EQ(w->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(w->palette().color(QPalette::Text), QColor(Qt::black));
  }
  EXPECT_EQ(form.Edit2->echoMode(), QLineEdit::Normal);
}

TEST(Form1, LogPaneHasNoWrapNoScrollBarsAndTakesTyping) {
  TForm1 form;
  EXPECT_EQ(form.loga->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(form.loga->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(form.loga->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_FALSE(form.loga->isReadOnly());
  ShowActive(form);
  form.loga->setFocus();
  TypeText(form.loga, QString::fromUtf8("заметка 1"));
  QTest::keyClick(form.loga, Qt::Key_Return);
  QTest::keyClicks(form.loga, "x");
  EXPECT_EQ(Utf8(form.loga->toPlainText()), "заметка 1\nx");
}

TEST(Form1, ScratchMemoIsHiddenUnwrappedAndEmpty) {
  TForm1 form;
  form.show();
  ASSERT_NE(form.Memo1, nullptr);
  EXPECT_FALSE(form.Memo1->isVisible());
  EXPECT_EQ(form.Memo1->geometry(), QRect(456, 104, 169, 121));
  EXPECT_EQ(form.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());
}

TEST(Form1, TabGoesFromTheButtonThroughTheFieldsToTheLogPane) {
  TForm1 form;
  ShowActive(form);
  EXPECT_EQ(QApplication::focusWidget(), form.Button1);
  const std::pair<const char*, QWidget*> order[] = {
      {"Edit1", form.Edit1}, {"Edit2", form.Edit2}, {"Edit3", form.Edit3},
      {"Edit4", form.Edit4}, {"loga", form.loga},   {"Button1", form.Button1},
  };
  for (const auto& [name, widget] : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), widget) << "expected " << name;
  }
}

}  // namespace
}  // namespace ah
