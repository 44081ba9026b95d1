#pragma once
// The generated album that the demo site serves: who owns it, how many pages
// and photos it has, and the titles the site shows for them. Everything is a
// pure function of the settings, so tests can predict every page and file.

#include <string>

namespace ah {

struct DemoAlbum {
  std::string user = "demo";              // owner; its pages live under /users/<user>/
  std::string slug = "krym-2024";         // album path segment
  // Holds characters that the harvester's name cleaning removes (".", "!", "/").
  std::string title = "Крым. Лето 2024: море/горы!";
  std::string site_name = "Фотокадр";
  int pages = 3;
  int photos_per_page = 4;
  // Photo id shows the title DemoPhotoTitle(id + title_shift), so that
  // albums of one site differ in their photos' titles as well.
  int title_shift = 0;

  int PhotoCount() const { return pages * photos_per_page; }
  // Photos are numbered from 1 across the whole album; page p holds
  // FirstPhotoOn(p) .. FirstPhotoOn(p) + photos_per_page - 1.
  int FirstPhotoOn(int page) const { return (page - 1) * photos_per_page + 1; }
  int PageOfPhoto(int id) const { return (id - 1) / photos_per_page + 1; }
  bool HasPage(int page) const { return page >= 1 && page <= pages; }
  bool HasPhoto(int id) const { return id >= 1 && id <= PhotoCount(); }

  std::string PhotoTitle(int id) const;
  // " - " + site name: what the site appends to every page title.
  std::string TitleSuffix() const { return " - " + site_name; }

  std::string UserPath() const { return "/users/" + user + "/"; }
  std::string AlbumPath() const { return UserPath() + slug + "/"; }
  std::string PhotoPagePath(int id) const;
  // On the image host.
  std::string ImagePath(int id) const;
  std::string ThumbPath(int id) const;
  // Where the album's script handler points; never a page the harvester should open.
  std::string SlideshowPath() const { return AlbumPath() + "slideshow/"; }
};

// Title of photo id (UTF-8). Photo 3 has an empty title; the others cycle
// through a list in which several titles carry characters that tag
// stripping or name cleaning removes.
std::string DemoPhotoTitle(int id);

// Album `n` (from 2) of the user of `first`: a slug, a title and photo
// titles of its own, the pages and photos per page of `first`.
DemoAlbum NthDemoAlbum(const DemoAlbum& first, int n);

}  // namespace ah
