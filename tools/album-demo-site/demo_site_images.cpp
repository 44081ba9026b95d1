// The image host: full-size images and thumbnails, made once and kept.

#include "tools/album-demo-site/demo_jpeg.h"
#include "tools/album-demo-site/demo_site_impl.h"
#include "tools/album-demo-site/site_pages.h"

namespace ah {

namespace {

constexpr size_t kImageCacheLimit = 600;
constexpr int kFullWidth = 512, kFullHeight = 384, kThumbWidth = 160, kThumbHeight = 120;

uint32_t Fnv1a(std::string_view text) {
  uint32_t h = 2166136261u;
  for (unsigned char c : text) h = (h ^ c) * 16777619u;
  return h;
}

}  // namespace

std::optional<std::tuple<size_t, int, bool>> DemoSite::Impl::ImageOf(
    std::string_view path) const {
  for (size_t i = 0; i < albums.size(); ++i) {
    for (bool thumb : {false, true}) {
      const DemoAlbum& album = albums[i];
      std::string prefix =
          std::string(thumb ? "/thumb/" : "/photo/") + album.user + "/" + album.slug + "/";
      if (!path.starts_with(prefix) || !path.ends_with(".jpg")) continue;
      auto id = ParseId(path.substr(prefix.size(), path.size() - prefix.size() - 4));
      if (id && album.HasPhoto(*id)) return std::tuple(i, *id, thumb);
    }
  }
  return std::nullopt;
}

void DemoSite::Impl::HandleImage(const httplib::Request& req, httplib::Response& res) {
  t_handled = true;
  const auto image = ImageOf(req.path);
  if (!image) {
    {
      std::lock_guard lock(mutex);
      ++stats.other_requests;
      RecordLocked("other image-host " + req.method + " " + req.target);
    }
    res.status = 404;
    return res.set_content("Not Found\n", "text/plain");
  }
  const auto [index, id, thumb] = *image;
  const std::string tag = Tag(albums[index]);
  if (!thumb && Faulty(res, FaultKind::kImage, id, "image id=" + std::to_string(id) + tag)) return;
  if (!thumb && options.faults.html_images.count(id)) {
    {
      std::lock_guard lock(mutex);
      ++stats.faults;
      RecordLocked("html image id=" + std::to_string(id) + tag);
    }
    return res.set_content(NotFoundHtml(albums[index]), kHtml);
  }
  auto bytes = Image(index, id, thumb);
  {
    std::lock_guard lock(mutex);
    ++(thumb ? stats.thumbs : stats.images);
    RecordLocked(std::string(thumb ? "thumb" : "image") + " id=" + std::to_string(id) +
                 " bytes=" + std::to_string(bytes->size()) + tag);
  }
  res.set_content(*bytes, "image/jpeg");
}

std::shared_ptr<const std::string> DemoSite::Impl::Image(size_t album, int id, bool thumb) {
  auto key = std::tuple(album, id, thumb);
  {
    std::lock_guard lock(mutex);
    auto it = image_cache.find(key);
    if (it != image_cache.end()) return it->second;
  }
  uint32_t seed = static_cast<uint32_t>(id) * 2246822519u ^ Fnv1a(albums.at(album).slug);
  auto bytes = std::make_shared<const std::string>(
      thumb ? MakeDemoJpeg(seed, kThumbWidth, kThumbHeight)
            : MakeDemoJpeg(seed, kFullWidth, kFullHeight));
  std::lock_guard lock(mutex);
  if (image_cache.size() >= kImageCacheLimit) image_cache.clear();
  image_cache.emplace(key, bytes);
  return bytes;
}

}  // namespace ah
