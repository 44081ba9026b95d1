#pragma once
// Files replaced whole: a reader (or a later run after a crash or a kill)
// sees either the old content or the new, never a mixture or a stub. Every
// file the program writes in place of another goes through one temporary
// name beside it, of the form ".<name>-<16 random hex digits>.tmp".

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace ah {

// A fresh temporary name beside `target`, of the form above.
std::filesystem::path TempPathBeside(const std::filesystem::path& target);

// A file written under a temporary name beside its target: created
// exclusively, locked while it is open (so that a sweep of leftovers by
// another run leaves it alone), and removed again unless it was committed
// over the target.
class TempFileBeside {
 public:
  explicit TempFileBeside(const std::filesystem::path& target);
  ~TempFileBeside();
  TempFileBeside(const TempFileBeside&) = delete;
  TempFileBeside& operator=(const TempFileBeside&) = delete;

  bool ok() const { return fd_ >= 0; }
  // The errno of the last thing that failed.
  int error() const { return error_; }
  int64_t written() const { return written_; }

  bool Write(std::string_view data);
  // Flushes the content to disk.
  bool Sync();
  // Closes the file and renames it over the target.
  bool Commit();

 private:
  std::filesystem::path target_, path_;
  int fd_ = -1;
  int error_ = 0;
  int64_t written_ = 0;
  bool committed_ = false;
};

// Writes `content` to a TempFileBeside `target`, flushes it to disk,
// renames it over `target` and flushes the folder, so the new content
// survives a power cut once this returns. On failure the temporary file is
// removed, `target` is left as it was, and EFCreateError is raised with
// the path and the system's reason.
// Without `flush_to_disk` the replacement is as atomic for every reader,
// and survives the writer being killed, but not a power cut; it costs no
// wait for the disk.
void ReplaceFileAtomically(const std::filesystem::path& target, std::string_view content,
                           bool flush_to_disk = true);

// Removes from `folder` (not below it) the temporary files that an
// interrupted write or download left there, and the ".download-<16 hex>.part"
// files of downloads by earlier versions, unless a writer still holds one.
// Returns how many were removed; a missing folder removes none.
int RemoveLeftoverTempFiles(const std::filesystem::path& folder);

}  // namespace ah
