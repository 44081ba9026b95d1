#include "tools/album-demo-site/demo_album.h"

#include <array>
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

std::string AlbumFilePath(const DemoAlbum& a, std::string_view kind, int id) {
  return "/" + std::string(kind) + "/" + a.user + "/" + a.slug + "/" + std::to_string(id) + ".jpg";
}

}  // namespace

std::string DemoAlbum::PhotoPagePath(int id) const {
  return AlbumPath() + "photo/" + std::to_string(id) + "/";
}

std::string DemoAlbum::ImagePath(int id) const { return AlbumFilePath(*this, "photo", id); }

std::string DemoAlbum::ThumbPath(int id) const { return AlbumFilePath(*this, "thumb", id); }

std::string DemoPhotoTitle(int id) {
  if (id == 3) return "";
  return std::string(kTitles[static_cast<size_t>(id - 1) % kTitles.size()]);
}

}  // namespace ah
