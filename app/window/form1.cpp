#include "app/window/form1.h"

#include <algorithm>
#include <string_view>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "app/site/default_fields.h"
#include "app/window/window_folder.h"
#include "app/window/window_text.h"
#include "framework/exception.h"
#include "http/http_client_interface.h"
#include "http/uri_resolution.h"
#include "platform/code_page.h"
#include "platform/files.h"

namespace ah {
namespace {

constexpr const char* kAlbumCaption = "Альбом";
constexpr const char* kLoginCaption = "Логин";
constexpr const char* kPasswordCaption = "Пароль";
constexpr const char* kDomainCaption = "Домен";
constexpr const char* kProgressCaption = "Ход работы";
constexpr const char* kStartCaption = "Старт!";

constexpr int kClientWidth = 688;
constexpr int kClientHeight = 411;

// The host of a site root.
std::string SiteHostName(std::string_view root) {
  const std::optional<WebOrigin> origin = WebOriginOf(root);
  return origin ? origin->host : std::string(root);
}

// The original face does not exist here. A condensed sans face at the same
// pixel height keeps every caption inside its stored size; any other sans
// face will do, the labels then grow to fit.
QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Sans Serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

QLabel* MakeLabel(QWidget* parent, const char* caption, QRect place) {
  auto* label = new QLabel(ToDisplay(caption), parent);
  QFont bold = parent->font();
  bold.setBold(true);
  label->setFont(bold);
  // Labels size themselves to their caption, as they did in the original;
  // the stored size is what that came to there.
  place.setWidth(std::max(place.width(), label->sizeHint().width()));
  label->setGeometry(place);
  return label;
}

void PaintWhite(QWidget* w) {
  QPalette p = w->palette();
  p.setColor(QPalette::Base, Qt::white);
  p.setColor(QPalette::Text, Qt::black);
  w->setPalette(p);
}

QLineEdit* MakeEdit(QWidget* parent, const std::string& text, QRect place) {
  auto* edit = new QLineEdit(ToDisplay(text), parent);
  edit->setGeometry(place);
  PaintWhite(edit);
  return edit;
}

QPlainTextEdit* MakeMemo(QWidget* parent, QRect place) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setGeometry(place);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // A memo hands Tab on to the next control instead of typing it.
  memo->setTabChangesFocus(true);
  PaintWhite(memo);
  return memo;
}

}  // namespace

TForm1::TForm1(WindowSetup setup, QWidget* parent) : QWidget(parent), setup_(std::move(setup)) {
  // A fixed tool window: small caption, close button only.
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // Qt takes tool windows for helpers that never end the program; this
  // one is the program.
  setAttribute(Qt::WA_QuitOnClose, true);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(WindowFont());
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  setWindowTitle(ToDisplay(SiteHostName(setup_.settings.profile.SiteRoot)));
  BuildControls();
  CentreOnScreen();
  if (setup_.settings.output_dir.empty()) {
    const WindowFolder folder = ChooseWindowFolder(ExecutableDir(), PicturesDir());
    setup_.settings.output_dir = folder.dir;
    if (folder.fallback) log_.Add(WindowFolderNote(), folder.dir);
  }
  // The settings the window keeps for its own client; a renewed one gets
  // the same from the run.
  client_ = CreateIdHTTP();
  if (client_) ConfigureHarvestClient(*client_, setup_.settings.transfer);
}

TForm1::~TForm1() {
  delete client_;
  client_ = nullptr;
}

void TForm1::BuildControls() {
  Label1 = MakeLabel(this, kLoginCaption, {16, 44, 37, 13});
  Label2 = MakeLabel(this, kPasswordCaption, {16, 68, 45, 13});
  Label3 = MakeLabel(this, kDomainCaption, {16, 92, 41, 13});

  Button1 = new QPushButton(ToDisplay(kStartCaption), this);
  Button1->setGeometry(16, 120, 169, 273);
  QObject::connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

  Memo1 = MakeMemo(this, {456, 104, 169, 121});
  Memo1->setVisible(false);

  Label4 = MakeLabel(this, kAlbumCaption, {10, 12, 46, 13});
  Label5 = MakeLabel(this, kProgressCaption, {208, 48, 70, 13});

  const FieldTexts defaults = DefaultFieldTexts(setup_.settings.profile);
  Edit1 = MakeEdit(this, defaults.login, {64, 40, 121, 21});
  Edit2 = MakeEdit(this, defaults.password, {64, 64, 121, 21});
  Edit3 = MakeEdit(this, defaults.domain, {64, 88, 121, 21});
  Edit4 = MakeEdit(this, defaults.album, {64, 8, 601, 21});

  loga = MakeMemo(this, {200, 64, 465, 329});
  log_ = LogPane(loga);

  QWidget::setTabOrder(Button1, Memo1);
  QWidget::setTabOrder(Memo1, Edit1);
  QWidget::setTabOrder(Edit1, Edit2);
  QWidget::setTabOrder(Edit2, Edit3);
  QWidget::setTabOrder(Edit3, Edit4);
  QWidget::setTabOrder(Edit4, loga);
  Button1->setFocus();
}

void TForm1::CentreOnScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                  screen->availableGeometry()));
}

void TForm1::Button1Click() {
  const HarvestSurroundings around{*this, *this, *this, *this, memo1_lines_};
  // Like the original's framework, a failure that leaves the run is shown
  // and the window goes on; an exception must not cross Qt's event loop.
  try {
    RunHarvest(around, setup_.settings);
  } catch (const Exception& e) {
    ShowRunError(e.Message());
  } catch (const std::exception& e) {
    ShowRunError(e.what());
  }
}

void TForm1::ShowRunError(const std::string& message) {
  // Exceptions speak the code page, as the library's texts do.
  QMessageBox::critical(this, windowTitle(), ToDisplay(AnsiToUtf8(message)));
}

std::string TForm1::Edit1Text() { return FromTyped(Edit1->text()); }
std::string TForm1::Edit2Text() { return FromTyped(Edit2->text()); }
std::string TForm1::Edit3Text() { return FromTyped(Edit3->text()); }
std::string TForm1::Edit4Text() { return FromTyped(Edit4->text()); }

void TForm1::AddLogLine(const std::string& line) { log_.Add(line); }
void TForm1::AddPathLine(const std::string& line, const std::string& path) { log_.Add(line, path); }
int TForm1::LogLineCount() { return log_.Count(); }
void TForm1::ClearLog() { log_.Clear(); }

void TForm1::ProcessMessages() { QCoreApplication::processEvents(); }

IHTTPClient* TForm1::CreateIdHTTP() {
  return setup_.make_client ? setup_.make_client(components_) : nullptr;
}

}  // namespace ah
