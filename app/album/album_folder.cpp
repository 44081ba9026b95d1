#include "app/album/album_folder.h"

#include <algorithm>

#include "app/album/gallery_page.h"
#include "platform/atomic_file.h"
#include "platform/files.h"

namespace ah {
namespace {

// Far more namesakes than anyone has; past them only a free name is looked for.
constexpr int kNamesakesSearched = 100;

std::string_view WithoutTrailingSlashes(std::string_view url) {
  while (url.ends_with('/')) url.remove_suffix(1);
  return url;
}

}  // namespace

ChosenFolder ChooseAlbumFolder(const std::string& base, std::string_view album_url,
                               const std::set<std::string>& taken) {
  std::optional<std::string> free;
  for (int k = 1; k <= kNamesakesSearched || !free; ++k) {
    const std::string folder = (k == 1 ? base : base + " (" + std::to_string(k) + ")") + "/";
    const bool holds_manifest = FileExists(folder + std::string(kManifestFileName));
    if (!holds_manifest) {
      if (!free && !taken.count(folder)) free = folder;
      continue;
    }
    std::optional<AlbumManifest> manifest = ReadManifest(folder);
    if (manifest && WithoutTrailingSlashes(manifest->album_url) == WithoutTrailingSlashes(album_url))
      return {folder, std::move(manifest)};
  }
  return {*free, std::nullopt};
}

AlbumFolder::AlbumFolder(ChosenFolder chosen, bool force, std::string run_time)
    : folder_(std::move(chosen.folder)), force_(force), run_time_(std::move(run_time)) {
  // Whatever an interrupted write or download left goes first.
  RemoveLeftoverTempFiles(folder_);
  std::optional<AlbumManifest> previous = std::move(chosen.manifest);
  if (previous) {
    for (const auto& photo : previous->photos) previous_records_[photo.number] = photo;
    previous_kept_ = previous->kept;
  }
  if (force) previous.reset();
  previous_.emplace(folder_, std::move(previous));
}

void AlbumFolder::SetAlbum(std::string_view album_url, std::string_view title) {
  album_url_ = album_url;
  title_ = title;
}

std::optional<std::vector<ManifestPhoto>> AlbumFolder::SavedPage(std::string_view page_url) {
  return previous_->SavedPage(page_url);
}

std::optional<ManifestPhoto> AlbumFolder::TakeOverOrMakeRoom(int number, std::string_view title,
                                                             std::string_view page_url,
                                                             std::string_view image_url,
                                                             std::string_view file_name) {
  std::optional<ManifestPhoto> taken = previous_->Reuse(number, title, page_url, image_url, file_name);
  if (!taken) previous_->MakeRoom(file_name);
  NoteDisplaced();
  return taken;
}

void AlbumFolder::NoteDisplaced() {
  std::vector<int> moved = previous_->TakeDisplaced();
  if (moved.empty()) return;
  displaced_.insert(moved.begin(), moved.end());
  dirty_ = gallery_dirty_ = changed_ = true;
}

void AlbumFolder::Record(ManifestPhoto photo) {
  const int number = photo.number;
  recorded_[number] = std::move(photo);
  dirty_ = gallery_dirty_ = changed_ = true;
}

AlbumManifest AlbumFolder::Compose(bool this_run_only) const {
  AlbumManifest m;
  m.album_url = album_url_;
  m.title = title_;
  m.folder = folder_;
  if (m.folder.size() > 1 && m.folder.back() == '/') m.folder.pop_back();
  m.last_run = run_time_;
  if (this_run_only) {
    for (const auto& [number, photo] : recorded_) m.photos.push_back(photo);
    return m;
  }
  // Both maps are in number order: merged, this run's records first.
  auto previous = previous_records_.begin();
  for (const auto& [number, photo] : recorded_) {
    for (; previous != previous_records_.end() && previous->first <= number; ++previous)
      if (previous->first < number && !displaced_.count(previous->first)) m.photos.push_back(previous->second);
    m.photos.push_back(photo);
  }
  for (; previous != previous_records_.end(); ++previous)
    if (!displaced_.count(previous->first)) m.photos.push_back(previous->second);
  AddLeftovers(m);
  return m;
}

void AlbumFolder::AddLeftovers(AlbumManifest& m) const {
  std::vector<ManifestPhoto> kept = finished_ ? leftovers_.kept : previous_kept_;
  if (finished_) {
    // An image back under its name is its number's record again, unless
    // this run saved another image under that number.
    for (const ManifestPhoto& back : leftovers_.back) {
      const ManifestPhoto* now = m.FindByNumber(back.number);
      if (now && now->status == PhotoStatus::psSaved)
        kept.push_back(back);
      else
        m.Record(back);
    }
    // Nothing was taken over, so nothing of them was touched.
    if (force_) kept.insert(kept.end(), previous_kept_.begin(), previous_kept_.end());
  }
  if (kept.empty()) return;
  // Until the end, an earlier run's kept image may be this run's photo by now.
  std::set<std::string_view> saved;
  for (const ManifestPhoto& p : m.photos)
    if (p.status == PhotoStatus::psSaved) saved.insert(p.file_name);
  for (const ManifestPhoto& p : kept)
    if (saved.insert(p.file_name).second) m.kept.push_back(p);
}

void AlbumFolder::Write(bool flush_to_disk, bool with_gallery) {
  const auto start = std::chrono::steady_clock::now();
  const AlbumManifest m = Compose(whole_album_);
  try {
    WriteManifest(folder_, m, flush_to_disk);
    dirty_ = false;
    if (with_gallery) {
      WriteGallery(folder_, m, flush_to_disk);
      gallery_dirty_ = false;
    }
  } catch (...) {
  }
  const auto end = std::chrono::steady_clock::now();
  next_write_ = end + std::max<std::chrono::steady_clock::duration>(kWriteInterval, (end - start) * kIdleFactor);
}

void AlbumFolder::Save(bool page_end) {
  if (!dirty_ && !(page_end && gallery_dirty_)) return;
  if (std::chrono::steady_clock::now() < next_write_) return;
  Write(false, page_end);
}

void AlbumFolder::Finish(bool whole_album_walked) {
  leftovers_ = previous_->Finish(whole_album_walked);
  finished_ = true;
  NoteDisplaced();
  whole_album_ = whole_album_walked;
  // A run that learnt nothing here (a refused sign-in shows no photos)
  // must not pass for one that found the album empty.
  if (changed_) Write(true, true);
}

}  // namespace ah
