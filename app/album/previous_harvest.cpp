#include "app/album/previous_harvest.h"

#include <utility>

#include "platform/atomic_file.h"
#include "platform/sha256.h"

namespace ah {
PreviousHarvest::PreviousHarvest(std::filesystem::path folder,
                                 std::optional<AlbumManifest> previous)
    : folder_(std::move(folder)) {
  if (!previous) return;
  for (auto& photo : previous->photos) {
    if (photo.status != PhotoStatus::psSaved) {
      pages_with_failures_.insert(photo.page_url);
      continue;
    }
    std::filesystem::path at = PhotoPath(folder_, photo.file_name);
    entries_.push_back({std::move(photo), std::move(at), false, std::nullopt});
  }
  for (auto& photo : previous->kept) {
    std::filesystem::path at = PhotoPath(folder_, photo.file_name);
    entries_.push_back({std::move(photo), std::move(at), false, std::nullopt, true});
  }
  for (Entry& entry : entries_) {
    by_page_[entry.record.page_url].push_back(&entry);
    by_image_[entry.record.image_url].push_back(&entry);
    by_place_[entry.at] = &entry;
  }
}

const std::vector<PreviousHarvest::Entry*>& PreviousHarvest::Find(
    const std::unordered_map<std::string, std::vector<Entry*>>& index, std::string_view key) {
  static const std::vector<Entry*> kNone;
  auto it = index.find(std::string(key));
  return it == index.end() ? kNone : it->second;
}

namespace {

// The first of "NAME (2).EXT", "NAME (3).EXT", ... beside `path` that is free.
std::filesystem::path FreeNameBeside(const std::filesystem::path& path) {
  for (int k = 2;; ++k) {
    std::filesystem::path name = path;
    name.replace_filename(path.stem().string() + " (" + std::to_string(k) + ")" + path.extension().string());
    std::error_code ec;
    if (!std::filesystem::exists(name, ec) && !ec) return name;
  }
}

}  // namespace

bool PreviousHarvest::Intact(Entry& entry) {
  if (!entry.intact)
    entry.intact = FileMatchesDigest(entry.at, entry.record.bytes, entry.record.sha256);
  return *entry.intact;
}

void PreviousHarvest::Moved(Entry& entry, std::filesystem::path to) {
  if (!entry.kept && entry.at == PhotoPath(folder_, entry.record.file_name))
    displaced_.push_back(entry.record.number);
  by_place_.erase(entry.at);
  entry.at = std::move(to);
  by_place_[entry.at] = &entry;
}

void PreviousHarvest::MakeRoomAt(const std::filesystem::path& target) {
  auto place = by_place_.find(target);
  if (place == by_place_.end()) return;
  Entry& entry = *place->second;
  if (entry.taken || !Intact(entry)) return;
  std::filesystem::path aside = TempPathBeside(target);
  std::error_code ec;
  std::filesystem::rename(target, aside, ec);
  if (ec) {
    // What is written there next replaces this file: it is no longer the
    // one its record names.
    entry.intact = false;
    if (!entry.kept && entry.at == PhotoPath(folder_, entry.record.file_name))
      displaced_.push_back(entry.record.number);
    return;
  }
  moved_aside_.insert(aside);
  Moved(entry, aside);
}

std::vector<int> PreviousHarvest::TakeDisplaced() {
  return std::exchange(displaced_, {});
}

void PreviousHarvest::MakeRoom(std::string_view file_name) {
  MakeRoomAt(PhotoPath(folder_, file_name));
}

std::optional<ManifestPhoto> PreviousHarvest::Reuse(int number, std::string_view title,
                                                    std::string_view page_url,
                                                    std::string_view image_url,
                                                    std::string_view file_name) {
  const std::filesystem::path target = PhotoPath(folder_, file_name);
  Entry* found = nullptr;
  for (Entry* entry : Find(by_image_, image_url)) {
    if (entry->taken) continue;
    // The copy already under the wanted name wins over one elsewhere.
    if (!found || entry->at == target) found = entry;
    if (entry->at == target) break;
  }
  if (!found || !Intact(*found)) return std::nullopt;
  if (found->at != target) {
    MakeRoomAt(target);
    std::error_code ec;
    std::filesystem::rename(found->at, target, ec);
    if (ec) return std::nullopt;
    moved_aside_.erase(found->at);
    Moved(*found, target);
  }
  found->taken = true;
  ManifestPhoto photo = found->record;
  photo.number = number;
  photo.title = title;
  photo.page_url = page_url;
  photo.file_name = file_name;
  photo.error.clear();
  return photo;
}

std::optional<std::vector<ManifestPhoto>> PreviousHarvest::SavedPage(std::string_view page_url) {
  if (pages_with_failures_.count(std::string(page_url))) return std::nullopt;
  std::vector<ManifestPhoto> photos;
  std::set<std::string_view> images;
  for (Entry* entry : Find(by_page_, page_url)) {
    if (entry->kept) continue;
    if (!Intact(*entry)) return std::nullopt;
    // A page the album listed more than once left one image twice or a
    // gap in the numbers; which records stand for which listing only the
    // page itself can tell.
    if (!images.insert(entry->record.image_url).second) return std::nullopt;
    if (!photos.empty() && entry->record.number != photos.back().number + 1) return std::nullopt;
    photos.push_back(entry->record);
  }
  if (photos.empty()) return std::nullopt;
  return photos;
}

PreviousHarvest::Leftovers PreviousHarvest::Finish(bool whole_album_walked) {
  Leftovers left;
  for (auto& entry : entries_) {
    if (entry.taken) continue;
    entry.taken = true;
    const bool aside = moved_aside_.count(entry.at) > 0;
    if (!aside && !entry.kept) continue;  // where its record says
    std::error_code ec;
    if (whole_album_walked) {
      std::filesystem::remove(entry.at, ec);
      continue;
    }
    if (!Intact(entry)) continue;
    const std::filesystem::path home = PhotoPath(folder_, entry.record.file_name);
    if (aside) {
      // Back home when that name is free, else beside it.
      std::filesystem::path to = std::filesystem::exists(home, ec) ? FreeNameBeside(home) : home;
      std::filesystem::rename(entry.at, to, ec);
      if (ec) continue;  // left aside: a later run clears it as a leftover
      entry.at = std::move(to);
    }
    ManifestPhoto record = entry.record;
    record.file_name = entry.at.filename().string();
    (!entry.kept && entry.at == home ? left.back : left.kept).push_back(std::move(record));
  }
  moved_aside_.clear();
  return left;
}

}  // namespace ah
