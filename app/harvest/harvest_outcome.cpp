#include "app/harvest/harvest_outcome.h"

#include <algorithm>

#include "framework/sysutils.h"
#include "platform/code_page.h"
#include "platform/files.h"

namespace ah {
namespace {

// The program's texts, written here in UTF-8 and kept in Windows-1251.
struct LogTexts {
  std::string error = Utf8ToAnsi(" — ОШИБКА: ");
  std::string already_there = Utf8ToAnsi(" (уже есть)");
  std::string page = Utf8ToAnsi("Страница № ");
  std::string sign_in_not_confirmed = Utf8ToAnsi("Авторизация не подтверждена: ");
  std::string unconfirmed_reason = Utf8ToAnsi("ответ без перенаправления и без cookie");
  std::string saved = Utf8ToAnsi("Сохранено: ");
  std::string of = Utf8ToAnsi(" из ");
  std::string errors = Utf8ToAnsi(", ошибок: ");
  std::string folder = Utf8ToAnsi("Папка: ");
};

const LogTexts& Texts() {
  static const LogTexts texts;
  return texts;
}

}  // namespace

int HarvestReport::Saved() const {
  return int(std::count_if(photos.begin(), photos.end(), [](const PhotoOutcome& p) { return p.Saved(); }));
}

int HarvestReport::Found() const { return int(photos.size()); }

int HarvestReport::Failed() const {
  return Found() - Saved() +
         int(std::count_if(pages.begin(), pages.end(), [](const PageOutcome& p) { return !p.read; }));
}

bool HarvestReport::Complete() const { return !interrupted && Failed() == 0 && Saved() > 0; }

std::string PhotoLogLine(const PhotoOutcome& photo) {
  const ManifestPhoto& record = photo.record;
  if (photo.PageFailed()) return "  " + DisplayName(record.page_url) + Texts().error + record.error;
  std::string line = "  " + record.title;
  if (!photo.Saved()) line += Texts().error + record.error;
  if (photo.already_there) line += Texts().already_there;
  return line;
}

std::string PageFailureLogLine(const PageOutcome& page) {
  return Texts().page + IntToStr(page.number) + Texts().error + page.error;
}

std::string SignInNotConfirmedLogLine(std::string_view reason) {
  return Texts().sign_in_not_confirmed + std::string(reason);
}

std::string SummaryLogLine(const HarvestReport& report) {
  return Texts().saved + IntToStr(report.Saved()) + Texts().of + IntToStr(report.Found()) +
         Texts().errors + IntToStr(report.Failed());
}

std::string FolderLogCaption() { return Texts().folder; }

std::string UnconfirmedSignInReason() { return Texts().unconfirmed_reason; }

}  // namespace ah
