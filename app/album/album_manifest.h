#pragma once
// The album manifest, album.json in the album folder: the one record of
// what a harvest put on disk. Resume, the renaming of photos whose number
// changed, and the gallery page all read it; the run rewrites it whole
// after every photo's outcome, so an interrupted run leaves a valid one.
//
// The texts are UTF-8, as the run holds them (titles, addresses, errors),
// except `folder` and `file_name`, which are as the file system names them,
// and `page_url`, which is the photo page's address in the bytes of the
// album page that linked it; the file holds what is not UTF-8 with U+FFFD
// in its place.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ah {

inline constexpr std::string_view kManifestFileName = "album.json";

enum class PhotoStatus { psSaved, psFailed };

struct ManifestPhoto {
  // The photo number in the file name, from 1. A photo page that could not
  // be read stands for one photo and has a number too, so the photos after
  // it keep theirs; its image address and file name are empty.
  int number = 0;
  std::string title;      // as in the log line
  std::string page_url;   // the photo page it was found on, as fetched
  std::string image_url;  // the full-size image address
  std::string file_name;  // inside the album folder
  std::uint64_t bytes = 0;
  std::string sha256;  // 64 lower-case hex digits of the saved file
  PhotoStatus status = PhotoStatus::psFailed;
  std::string error;  // why a failed photo failed; empty for a saved one

  bool operator==(const ManifestPhoto&) const = default;
};

struct AlbumManifest {
  std::string album_url;
  std::string title;
  std::string folder;
  std::string last_run;  // local time, e.g. "2025-03-01T14:05:09+03:00"
  // By number, each number from 1 once.
  std::vector<ManifestPhoto> photos;
  // Saved images of earlier runs that a run which did not walk the whole
  // album had to move out of a photo's way: none of its photos, but kept
  // on disk (under the names here) for a later run to take over.
  std::vector<ManifestPhoto> kept;

  bool operator==(const AlbumManifest&) const = default;

  // Adds the photo, or replaces the one with its number, keeping the order.
  void Record(ManifestPhoto photo);
  const ManifestPhoto* FindByNumber(int number) const;
  // The first saved photo recorded with this image address.
  const ManifestPhoto* FindSavedByImageUrl(std::string_view image_url) const;
  int SavedCount() const;
  int FailedCount() const;
};

// The file's text: pretty-printed JSON ending in a line break.
std::string ManifestJson(const AlbumManifest& manifest);
// Nothing when the text is not a manifest this program wrote: broken or
// truncated JSON, another document, a field of the wrong kind, a photo
// number that is 0 or comes twice, an unknown status, a file that two
// saved photos name.
std::optional<AlbumManifest> ParseManifest(std::string_view text);

// album.json of the folder; nothing when it is missing, unreadable or not
// a manifest (then it is as if there were none).
std::optional<AlbumManifest> ReadManifest(const std::filesystem::path& folder);
// Replaces album.json of the folder atomically (ReplaceFileAtomically,
// flushed to disk or not); raises EFCreateError when it cannot.
void WriteManifest(const std::filesystem::path& folder, const AlbumManifest& manifest,
                   bool flush_to_disk = true);

// Whether the photo was saved and its file in the folder still has the
// recorded size and SHA-256.
bool SavedFileIntact(const std::filesystem::path& folder, const ManifestPhoto& photo);
// What resume asks before it skips a photo: the record is of the same
// image address and its file is intact.
bool AlreadySaved(const std::filesystem::path& folder, const ManifestPhoto& recorded,
                  std::string_view image_url);

// The path of a file in the folder.
std::filesystem::path PhotoPath(const std::filesystem::path& folder, std::string_view file_name);

// `when` in local time as ISO 8601 with the zone offset.
std::string ManifestTime(std::time_t when);

}  // namespace ah
