#include "app/harvest/harvest_outcome.h"

#include <algorithm>

#include "framework/sysutils.h"
#include "http/uri_resolution.h"
#include "platform/files.h"

namespace ah {
namespace {

constexpr std::string_view kError = " — ОШИБКА: ";
constexpr std::string_view kAlreadyThere = " (уже есть)";
constexpr std::string_view kPage = "Страница № ";
constexpr std::string_view kSignInNotConfirmed = "Авторизация не подтверждена: ";
constexpr std::string_view kUnconfirmedReason = "ответ без перенаправления и без cookie";
constexpr std::string_view kSaved = "Сохранено: ";
constexpr std::string_view kOf = " из ";
constexpr std::string_view kErrors = ", ошибок: ";
constexpr std::string_view kFolder = "Папка: ";
constexpr std::string_view kAlbum = "Альбом: ";
constexpr std::string_view kTotals = "Всего: альбомов ";
constexpr std::string_view kTotalSaved = ", сохранено ";
constexpr std::string_view kTotalErrors = ", ошибок ";

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
  std::string line = "  ";
  if (photo.PageFailed())
    return line.append(DisplayName(AddressForDisplay(record.page_url))).append(kError).append(record.error);
  line += record.title;
  if (!photo.Saved()) line.append(kError).append(record.error);
  if (photo.already_there) line += kAlreadyThere;
  return line;
}

std::string PageFailureLogLine(const PageOutcome& page) {
  return std::string(kPage).append(IntToStr(page.number)).append(kError).append(page.error);
}

std::string SignInNotConfirmedLogLine(std::string_view reason) {
  return std::string(kSignInNotConfirmed).append(reason);
}

std::string SummaryLogLine(const HarvestReport& report) {
  return std::string(kSaved)
      .append(IntToStr(report.Saved()))
      .append(kOf)
      .append(IntToStr(report.Found()))
      .append(kErrors)
      .append(IntToStr(report.Failed()));
}

std::string AlbumLogLine(std::string_view address) { return std::string(kAlbum).append(address); }

std::string TotalsLogLine(const std::vector<HarvestReport>& albums) {
  int saved = 0, found = 0, failed = 0;
  for (const HarvestReport& album : albums) {
    saved += album.Saved();
    found += album.Found();
    failed += album.Failed();
  }
  return std::string(kTotals)
      .append(IntToStr(int(albums.size())))
      .append(kTotalSaved)
      .append(IntToStr(saved))
      .append(kOf)
      .append(IntToStr(found))
      .append(kTotalErrors)
      .append(IntToStr(failed));
}

std::string FolderLogCaption() { return std::string(kFolder); }

std::string UnconfirmedSignInReason() { return std::string(kUnconfirmedReason); }

}  // namespace ah
