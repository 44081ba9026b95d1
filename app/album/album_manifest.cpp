#include "app/album/album_manifest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>

#include "platform/atomic_file.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/sha256.h"

namespace ah {
namespace {

// Keys stay in the order written, so the file reads top-down.
using json = nlohmann::ordered_json;

// Marks the file as ours, so a foreign album.json is never taken for one.
constexpr std::string_view kFormat = "album-harvester manifest";
// Version 1 wrote photo-page addresses through the code page a second
// time; it is still read.
constexpr int kVersion = 2;
// Far beyond any album; a larger file is not read into memory.
constexpr std::uintmax_t kLargestManifest = 256u << 20;

constexpr std::string_view StatusName(PhotoStatus status) {
  return status == PhotoStatus::psSaved ? "saved" : "failed";
}

// Reading stops at the first thing that is not as written.
class Reader {
 public:
  explicit Reader(const json& object) : object_(object) {}
  bool ok() const { return ok_; }

  // Version 1's photo-page addresses went through the code page a second
  // time: this takes them back.
  std::string FromCodePage(const char* key) { return Utf8ToAnsi(Raw(key)); }
  std::string Raw(const char* key) {
    const json* value = Field(key);
    if (!value || !value->is_string()) return Fail<std::string>();
    return value->get<std::string>();
  }
  std::uint64_t Unsigned(const char* key) {
    const json* value = Field(key);
    if (!value || !value->is_number_unsigned()) return Fail<std::uint64_t>();
    return value->get<std::uint64_t>();
  }

 private:
  const json* Field(const char* key) {
    if (!ok_) return nullptr;
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }
  template <typename T>
  T Fail() {
    ok_ = false;
    return T{};
  }

  const json& object_;
  bool ok_ = true;
};

bool IsDigest(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::optional<ManifestPhoto> ReadPhoto(const json& entry, std::uint64_t version) {
  if (!entry.is_object()) return std::nullopt;
  Reader r(entry);
  ManifestPhoto photo;
  std::uint64_t number = r.Unsigned("number");
  photo.title = r.Raw("title");
  photo.page_url = version == 1 ? r.FromCodePage("page_url") : r.Raw("page_url");
  photo.image_url = r.Raw("image_url");
  photo.file_name = r.Raw("file_name");
  photo.bytes = r.Unsigned("bytes");
  photo.sha256 = r.Raw("sha256");
  std::string status = r.Raw("status");
  photo.error = r.Raw("error");
  if (!r.ok() || number == 0 || number > std::uint64_t(INT32_MAX)) return std::nullopt;
  photo.number = int(number);
  if (status == StatusName(PhotoStatus::psSaved))
    photo.status = PhotoStatus::psSaved;
  else if (status == StatusName(PhotoStatus::psFailed))
    photo.status = PhotoStatus::psFailed;
  else
    return std::nullopt;
  // A saved file is named inside the folder and has a digest.
  if (photo.status == PhotoStatus::psSaved &&
      (!IsDigest(photo.sha256) || photo.file_name.empty() ||
       photo.file_name.find('/') != std::string::npos || photo.file_name == "." ||
       photo.file_name == ".."))
    return std::nullopt;
  return photo;
}

}  // namespace

void AlbumManifest::Record(ManifestPhoto photo) {
  auto at = std::lower_bound(photos.begin(), photos.end(), photo.number,
                             [](const ManifestPhoto& p, int n) { return p.number < n; });
  if (at != photos.end() && at->number == photo.number)
    *at = std::move(photo);
  else
    photos.insert(at, std::move(photo));
}

const ManifestPhoto* AlbumManifest::FindByNumber(int number) const {
  auto at = std::lower_bound(photos.begin(), photos.end(), number,
                             [](const ManifestPhoto& p, int n) { return p.number < n; });
  return at != photos.end() && at->number == number ? &*at : nullptr;
}

const ManifestPhoto* AlbumManifest::FindSavedByImageUrl(std::string_view image_url) const {
  for (const auto& p : photos)
    if (p.status == PhotoStatus::psSaved && p.image_url == image_url) return &p;
  return nullptr;
}

int AlbumManifest::SavedCount() const {
  return int(std::count_if(photos.begin(), photos.end(),
                           [](const ManifestPhoto& p) { return p.status == PhotoStatus::psSaved; }));
}

int AlbumManifest::FailedCount() const { return int(photos.size()) - SavedCount(); }

namespace {

json PhotoJson(const ManifestPhoto& p) {
  return {
      {"number", p.number},
      {"title", p.title},
      {"page_url", p.page_url},
      {"image_url", p.image_url},
      {"file_name", p.file_name},
      {"bytes", p.bytes},
      {"sha256", p.sha256},
      {"status", StatusName(p.status)},
      {"error", p.error},
  };
}

// The folder, file names and page addresses are bytes that need not be
// UTF-8.
std::string Dumped(const json& value) { return value.dump(2, ' ', false, json::error_handler_t::replace); }

// `key` and its records at the document's second level.
void AppendRecords(std::string& out, std::string_view key, const std::vector<ManifestPhoto>& photos) {
  out += "  \"" + std::string(key) + "\": [";
  for (size_t i = 0; i < photos.size(); ++i) {
    out += i ? ",\n    " : "\n    ";
    for (char c : Dumped(PhotoJson(photos[i]))) {
      out += c;
      if (c == '\n') out += "    ";
    }
  }
  out += photos.empty() ? "]" : "\n  ]";
}

}  // namespace

// As one document the whole album would take many times its text in
// memory: it is written record by record, as that document prints.
std::string ManifestJson(const AlbumManifest& manifest) {
  const std::pair<const char*, json> head[] = {
      {"format", kFormat},
      {"version", kVersion},
      {"album_url", manifest.album_url},
      {"title", manifest.title},
      {"folder", manifest.folder},
      {"last_run", manifest.last_run},
  };
  std::string out = "{\n";
  for (const auto& [key, value] : head) out += "  \"" + std::string(key) + "\": " + Dumped(value) + ",\n";
  AppendRecords(out, "photos", manifest.photos);
  if (!manifest.kept.empty()) {
    out += ",\n";
    AppendRecords(out, "kept", manifest.kept);
  }
  return out + "\n}\n";
}

std::optional<AlbumManifest> ParseManifest(std::string_view text) {
  json document = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (!document.is_object()) return std::nullopt;
  Reader r(document);
  const std::uint64_t version = r.Unsigned("version");
  if (r.Raw("format") != kFormat || version < 1 || version > std::uint64_t(kVersion))
    return std::nullopt;
  AlbumManifest manifest;
  manifest.album_url = r.Raw("album_url");
  manifest.title = r.Raw("title");
  manifest.folder = r.Raw("folder");
  manifest.last_run = r.Raw("last_run");
  auto photos = document.find("photos");
  if (!r.ok() || photos == document.end() || !photos->is_array()) return std::nullopt;
  std::set<int> numbers;
  // Two saved photos on one file: taking one over would take the other's
  // file away from it.
  std::set<std::string> saved_files;
  for (const auto& entry : *photos) {
    auto photo = ReadPhoto(entry, version);
    if (!photo || !numbers.insert(photo->number).second)
      return std::nullopt;
    if (photo->status == PhotoStatus::psSaved && !saved_files.insert(photo->file_name).second)
      return std::nullopt;
    manifest.Record(std::move(*photo));
  }
  auto kept = document.find("kept");
  if (kept == document.end()) return manifest;
  if (!kept->is_array()) return std::nullopt;
  for (const auto& entry : *kept) {
    auto photo = ReadPhoto(entry, version);
    if (!photo || photo->status != PhotoStatus::psSaved || !saved_files.insert(photo->file_name).second)
      return std::nullopt;
    manifest.kept.push_back(std::move(*photo));
  }
  return manifest;
}

std::optional<AlbumManifest> ReadManifest(const std::filesystem::path& folder) {
  const std::filesystem::path path = folder / std::string(kManifestFileName);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kLargestManifest) return std::nullopt;
  std::string text(size, '\0');
  std::ifstream in(path, std::ios::binary);
  if (!in.read(text.data(), std::streamsize(size))) return std::nullopt;
  return ParseManifest(text);
}

void WriteManifest(const std::filesystem::path& folder, const AlbumManifest& manifest,
                   bool flush_to_disk) {
  ReplaceFileAtomically(folder / std::string(kManifestFileName), ManifestJson(manifest),
                        flush_to_disk);
}

std::filesystem::path PhotoPath(const std::filesystem::path& folder, std::string_view file_name) {
  return folder / std::string(file_name);
}

bool SavedFileIntact(const std::filesystem::path& folder, const ManifestPhoto& photo) {
  if (photo.status != PhotoStatus::psSaved || photo.file_name.empty()) return false;
  return FileMatchesDigest(PhotoPath(folder, photo.file_name), photo.bytes, photo.sha256);
}

bool AlreadySaved(const std::filesystem::path& folder, const ManifestPhoto& recorded,
                  std::string_view image_url) {
  return recorded.image_url == image_url && SavedFileIntact(folder, recorded);
}

std::string ManifestTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[48];
  size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  long offset = local.tm_gmtoff / 60;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", sign, offset / 60, offset % 60);
  return text;
}

}  // namespace ah
