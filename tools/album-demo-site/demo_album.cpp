#include "tools/album-demo-site/demo_album.h"

#include <array>
#include <utility>
#include <string_view>

namespace ah {

namespace {

constexpr std::array<std::string_view, 14> kTitles = {
    "Рассвет над морем",
    "Чайки * у причала",
    "Маяк. Вид с горы",
    "Кто здесь?",
    "Ура, каникулы!",
    "Улица №5 / вечер",
    "Кофе за 3$",
    "Рыбаки | утро",
    "Тропа \\ вниз",
    "Скалы #2",
    "Вечер: закат",
    "Дом <b>у</b> моря",
    "Волны > ветер",
    "Старый порт",
};

// Slug and title of albums 2, 3, ...; the titles, too, hold characters the
// name cleaning removes.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kMoreAlbums = {{
    {"karelia-2023", "Карелия. Осень 2023: озёра"},
    {"baikal-2022", "Байкал. Зима 2022: лёд!"},
    {"altai-2021", "Алтай 2021: горы/реки"},
    {"kazan-2020", "Казань. Весна 2020"},
}};

std::string AlbumFilePath(const DemoAlbum& a, std::string_view kind, int id) {
  return "/" + std::string(kind) + "/" + a.user + "/" + a.slug + "/" + std::to_string(id) + ".jpg";
}

}  // namespace

std::string DemoAlbum::PhotoPagePath(int id) const {
  return AlbumPath() + "photo/" + std::to_string(id) + "/";
}

std::string DemoAlbum::ImagePath(int id) const { return AlbumFilePath(*this, "photo", id); }

std::string DemoAlbum::ThumbPath(int id) const { return AlbumFilePath(*this, "thumb", id); }

std::string DemoAlbum::PhotoTitle(int id) const { return DemoPhotoTitle(id + title_shift); }

std::string DemoPhotoTitle(int id) {
  if (id == 3) return "";
  return std::string(kTitles[static_cast<size_t>(id - 1) % kTitles.size()]);
}

DemoAlbum NthDemoAlbum(const DemoAlbum& first, int n) {
  DemoAlbum album = first;
  if (size_t(n - 2) < kMoreAlbums.size()) {
    album.slug = kMoreAlbums[size_t(n - 2)].first;
    album.title = kMoreAlbums[size_t(n - 2)].second;
  } else {
    album.slug = "album-" + std::to_string(n);
    album.title = "Альбом № " + std::to_string(n);
  }
  album.title_shift = (n - 1) * 5;
  return album;
}

}  // namespace ah
