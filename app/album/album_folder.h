#pragma once
// One album folder during a run: what the run before left there, and the
// manifest (album.json) and gallery page (index.html) that this run keeps
// up to date as photos get their outcomes.
//
// The manifest starts from the previous records, so a run that ends early
// forgets none of the photos it did not reach; this run's records replace
// them by number, and a previous record whose file this run moved leaves.
// Once the whole album was walked, the manifest holds this run's photos
// only. It is used by one thread, the run's.

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/album/album_manifest.h"
#include "app/album/previous_harvest.h"

namespace ah {

// The folder an album goes to inside its parent, and what its manifest
// says. A folder named after the album that holds another album's
// manifest (or an album.json that is not ours) is not taken over: the
// album goes to "NAME (2)", "NAME (3)", ..., and the one that names this
// album's address is found again by later runs.
struct ChosenFolder {
  std::string folder;  // a file-system name with a trailing "/"
  std::optional<AlbumManifest> manifest;
};
// `base` is the parent and the name, without a trailing "/". A folder in
// `taken` went to another album of this run and is not free, even before
// its manifest is written.
ChosenFolder ChooseAlbumFolder(const std::string& base, std::string_view album_url,
                               const std::set<std::string>& taken = {});

class AlbumFolder {
 public:
  // Each write of the manifest and gallery costs a serialisation of the
  // whole album: between two writes at least this much time passes, and
  // at least this many times as long as the last write took, so that
  // writing takes about 5% of a run however large the album grows.
  static constexpr std::chrono::milliseconds kWriteInterval{100};
  static constexpr int kIdleFactor = 19;

  // Temporary files an earlier run left in the folder are removed. With
  // `force` nothing is taken over.
  AlbumFolder(ChosenFolder chosen, bool force, std::string run_time);

  void SetAlbum(std::string_view album_url, std::string_view title);

  // The previous records of a photo page whose images are all on disk
  // intact; nothing when it has to be fetched.
  std::optional<std::vector<ManifestPhoto>> SavedPage(std::string_view page_url);
  // The record of a photo whose image is on disk from the previous run
  // (renamed to `file_name` when it was saved under another one); nothing
  // when it is to be downloaded, and then a previous image in the way of
  // the download is moved aside.
  std::optional<ManifestPhoto> TakeOverOrMakeRoom(int number, std::string_view title,
                                                  std::string_view page_url,
                                                  std::string_view image_url,
                                                  std::string_view file_name);

  void Record(ManifestPhoto photo);
  // Writes album.json when something changed since the last write and the
  // pause after that write is over; index.html too when `page_end` (the
  // photos of an album page are all recorded). Failures to write are
  // dropped: the images are what matters.
  void Save(bool page_end = false);
  // The run's end. After a walk of the whole album, moved-aside and kept
  // images nobody took are removed and the previous records it did not
  // replace go. Otherwise nothing is removed: moved-aside images go back
  // under their names, or, where this run saved another image there, are
  // kept beside it in the manifest's kept images. The last write is
  // flushed to disk; a run that recorded and moved nothing here leaves
  // the manifest and gallery as they were.
  void Finish(bool whole_album_walked);

  const std::string& folder() const { return folder_; }

 private:
  AlbumManifest Compose(bool this_run_only) const;
  void Write(bool flush_to_disk, bool with_gallery);
  void NoteDisplaced();
  void AddLeftovers(AlbumManifest& m) const;

  const std::string folder_;
  const bool force_;
  std::optional<PreviousHarvest> previous_;
  std::map<int, ManifestPhoto> previous_records_;
  std::vector<ManifestPhoto> previous_kept_;
  PreviousHarvest::Leftovers leftovers_;
  bool finished_ = false;
  std::set<int> displaced_;  // previous numbers whose files this run moved
  std::map<int, ManifestPhoto> recorded_;
  std::string album_url_, title_, run_time_;
  bool dirty_ = false;          // since the last manifest
  bool gallery_dirty_ = false;  // since the last gallery
  bool changed_ = false;  // by this run
  bool whole_album_ = false;
  std::chrono::steady_clock::time_point next_write_{};
};

}  // namespace ah
