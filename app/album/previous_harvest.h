#pragma once
// What a run into a folder can take over from the run before it: every
// image recorded in the previous manifest whose file is still intact, put
// under the name this run gives it (its number changes when photos were
// added or removed in front of it), instead of downloading it again.
//
// Before the run writes a file under a name, MakeRoom moves a previous
// image that still sits under that name aside, so that a photo later in
// the album can still take it over. Moved-aside files carry temp-file
// names (RemoveLeftoverTempFiles clears them after a killed run); Finish
// removes those that nobody took when the whole album was walked, and
// otherwise puts them back. Only the run's thread calls it, through the
// album's AlbumFolder; the jobs only write the files it made room for.

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/album/album_manifest.h"

namespace ah {

class PreviousHarvest {
 public:
  // `previous` is the folder's manifest as the run found it (nothing when
  // there was none, or when everything is to be downloaded again).
  PreviousHarvest(std::filesystem::path folder, std::optional<AlbumManifest> previous);

  // The record of this photo when the previous run saved its image address
  // and the file still has the recorded size and SHA-256; the file is then
  // under `file_name`, renamed when it was saved under another name. The
  // record carries this run's number, title, page and file name. Nothing:
  // download it (no record, a spoiled file, or the rename failed).
  std::optional<ManifestPhoto> Reuse(int number, std::string_view title,
                                     std::string_view page_url, std::string_view image_url,
                                     std::string_view file_name);

  // The previous records of a photo page when every image found on it was
  // saved and is intact, in number order; then the page need not be
  // fetched again, and each record goes to Reuse. Nothing otherwise, and
  // nothing for a page the album listed more than once. The
  // answer does not depend on what this run took over already, so it is
  // the same whenever it is asked.
  std::optional<std::vector<ManifestPhoto>> SavedPage(std::string_view page_url);

  // Call before a new file is written under `file_name`.
  void MakeRoom(std::string_view file_name);

  // The previous numbers whose files left the place their records name
  // (taken over or moved aside) since the last call.
  std::vector<int> TakeDisplaced();

  struct Leftovers {
    // Moved-aside images put back under the names their records give.
    std::vector<ManifestPhoto> back;
    // Images that are none of the album's photos now, under the names the
    // records give: moved aside where their own name was taken again, or
    // kept by an earlier run.
    std::vector<ManifestPhoto> kept;
  };
  // The images that no photo took over: after a walk of the whole album
  // they are none of its images and are removed; otherwise they stay for a
  // later run.
  Leftovers Finish(bool whole_album_walked);

 private:
  struct Entry {
    ManifestPhoto record;
    std::filesystem::path at;  // where its file is now
    bool taken = false;
    // Checked once: only this run moves the file, and never changes it.
    std::optional<bool> intact;
    bool kept = false;  // from the manifest's kept images, none of its photos
  };

  bool Intact(Entry& entry);
  static const std::vector<Entry*>& Find(const std::unordered_map<std::string, std::vector<Entry*>>& index,
                                         std::string_view key);
  void MakeRoomAt(const std::filesystem::path& target);
  void Moved(Entry& entry, std::filesystem::path to);

  const std::filesystem::path folder_;
  std::vector<Entry> entries_;  // the previous run's saved photos, fixed
  // The entries by their page, by their image address (both in number
  // order) and by where their files are now: a large album's re-run
  // looks up each photo instead of going through them all.
  std::unordered_map<std::string, std::vector<Entry*>> by_page_, by_image_;
  std::map<std::filesystem::path, Entry*> by_place_;
  std::set<std::filesystem::path> moved_aside_;
  std::set<std::string> pages_with_failures_;
  std::vector<int> displaced_;
};

}  // namespace ah
