#pragma once
// Files replaced whole: a reader (or a later run after a crash or a kill)
// sees either the old content or the new, never a mixture or a stub.

#include <filesystem>
#include <string_view>

namespace ah {

// Writes `content` to an exclusively created temporary file beside
// `target`, flushes it to disk, renames it over `target` and flushes the
// folder, so the new content survives a power cut once this returns. On
// failure the temporary file is removed, `target` is left as it was, and
// EFCreateError is raised with the path and the system's reason.
// Without `flush_to_disk` the replacement is as atomic for every reader,
// and survives the writer being killed, but not a power cut; it costs no
// wait for the disk.
void ReplaceFileAtomically(const std::filesystem::path& target, std::string_view content,
                           bool flush_to_disk = true);

// A fresh name ".<name>-<16 random hex digits>.tmp" beside `target`, of
// the form RemoveLeftoverTempFiles clears.
std::filesystem::path TempPathBeside(const std::filesystem::path& target);

// Removes from `folder` (not below it) the temporary files that an
// interrupted write or download left there: ".<name>-<16 hex>.tmp" of
// ReplaceFileAtomically and ".download-<16 hex>.part" of the URL download
// service, unless a download still holds it. Returns how many were
// removed; a missing folder removes none.
int RemoveLeftoverTempFiles(const std::filesystem::path& folder);

}  // namespace ah
