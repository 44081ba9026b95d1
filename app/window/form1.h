#pragma once
// The main window: the four harvest fields, the start button, the log pane
// and the hidden scratch memo, wired to the harvest run. Nothing but
// widgets and wiring lives here; the run itself is toolkit-free.
//
// Ownership: every control is a Qt child of the window and dies with it.
// The client in IdHTTP1 has the window as its owner and is deleted by the
// window, or earlier by a run that renews it.

#include <string>

#include <QWidget>

#include "app/harvest/harvest_run.h"
#include "app/site/scratch_lines.h"
#include "app/window/log_pane.h"
#include "app/window/window_client.h"
#include "framework/component.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ah {

struct WindowSetup {
  // The site profile and where album folders go (empty: beside the
  // executable when it is writable, else in the user's pictures folder).
  HarvestSettings settings;
  WindowClientFactory make_client = CreateWindowClient;
};

class TForm1 : public QWidget,
               private HarvestFields,
               private HarvestLog,
               private MessagePump,
               private HTTPClientSlot {
 public:
  explicit TForm1(WindowSetup setup = {}, QWidget* parent = nullptr);
  ~TForm1() override;

  // The start button's handler: one whole harvest run, on this thread. A
  // click handled at the run's message pump pass starts a nested run.
  void Button1Click();

  // The client the next request goes through (null when the window has
  // none); a run may replace it.
  IHTTPClient* IdHTTP1() override { return client_; }

  // Controls, in the window's declaration order; the window owns them.
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QPushButton* Button1 = nullptr;
  // Never shown and never filled: its lines live in Memo1Lines(), so a
  // whole photo page does not go through text layout.
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QLineEdit* Edit4 = nullptr;
  QPlainTextEdit* loga = nullptr;

  ScratchLines& Memo1Lines() { return memo1_lines_; }

 private:
  void BuildControls();
  void CentreOnScreen();
  void ShowRunError(const std::string& message);

  std::string Edit1Text() override;
  std::string Edit2Text() override;
  std::string Edit3Text() override;
  std::string Edit4Text() override;

  void AddLogLine(const std::string& line) override;
  void AddPathLine(const std::string& line, const std::string& path) override;
  int LogLineCount() override;
  void ClearLog() override;

  void ProcessMessages() override;

  void SetIdHTTP1(IHTTPClient* client) override { client_ = client; }
  IHTTPClient* CreateIdHTTP() override;

  WindowSetup setup_;
  // Stands for the window as the owner of its components.
  TComponent components_{nullptr};
  IHTTPClient* client_ = nullptr;
  ScratchLines memo1_lines_;
  LogPane log_{nullptr};
};

}  // namespace ah
