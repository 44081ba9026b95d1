#pragma once
// The main window: the four harvest fields, the start button, the log pane
// and the hidden scratch memo, wired to the harvest run. Nothing but
// widgets and wiring lives here; the run itself is toolkit-free.
//
// Ownership: every control is a Qt child of the window and dies with it.

#include <string>

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ah {

class TForm1 : public QWidget {
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The start button's handler: one whole harvest run, on this thread.
  void Button1Click();

  // Controls, in the window's declaration order; the window owns them.
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QPushButton* Button1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QLineEdit* Edit4 = nullptr;
  QPlainTextEdit* loga = nullptr;

 private:
  void BuildControls();
  void CentreOnScreen();
};

}  // namespace ah
