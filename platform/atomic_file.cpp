#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <system_error>

#include "framework/exception.h"
#include "platform/code_page.h"

namespace ah {
namespace {

constexpr size_t kRandomDigits = 16;

[[noreturn]] void Fail(const std::filesystem::path& path, int error) {
  // Messages are program text; a path that is not UTF-8 is shown as it is.
  std::string shown = Utf8ToAnsi(path.native());
  if (shown.empty()) shown = path.native();
  throw EFCreateError("Cannot create file \"" + shown + "\". " + std::strerror(error));
}

bool IsHexRun(std::string_view text) {
  if (text.size() != kRandomDigits) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool IsLeftoverName(std::string_view name) {
  auto random_part = [&](std::string_view prefix, std::string_view suffix) {
    if (name.size() < prefix.size() + kRandomDigits + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix))
      return false;
    return IsHexRun(name.substr(name.size() - suffix.size() - kRandomDigits, kRandomDigits)) &&
           name[name.size() - suffix.size() - kRandomDigits - 1] == '-';
  };
  // ".download-<hex>.part" is what downloads of earlier versions left.
  return random_part(".", ".tmp") || random_part(".download", ".part");
}

// A file still being written holds a lock on its temporary name.
bool HeldByAWriter(const std::filesystem::path& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace

std::filesystem::path TempPathBeside(const std::filesystem::path& target) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char suffix[kRandomDigits + 1];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
  return target.parent_path() / ("." + target.filename().native() + "-" + suffix + ".tmp");
}

TempFileBeside::TempFileBeside(const std::filesystem::path& target) : target_(target) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    path_ = TempPathBeside(target);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0 || errno != EEXIST) break;
  }
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  ::flock(fd_, LOCK_EX);
}

TempFileBeside::~TempFileBeside() {
  if (fd_ < 0) return;
  // Unlinked before the lock goes with the descriptor, so a sweep never
  // finds it unlocked.
  if (!committed_) ::unlink(path_.c_str());
  ::close(fd_);
}

bool TempFileBeside::Write(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    data.remove_prefix(size_t(n));
    written_ += n;
  }
  return true;
}

bool TempFileBeside::Sync() {
  if (::fsync(fd_) == 0) return true;
  error_ = errno;
  return false;
}

bool TempFileBeside::Commit() {
  // Renamed while still locked; what is closed after is the target.
  committed_ = ::rename(path_.c_str(), target_.c_str()) == 0;
  if (!committed_) error_ = errno;
  return committed_;
}

void ReplaceFileAtomically(const std::filesystem::path& target, std::string_view content,
                           bool flush_to_disk) {
  {
    TempFileBeside file(target);
    if (!file.ok() || !file.Write(content) || (flush_to_disk && !file.Sync()) || !file.Commit())
      Fail(target, file.error());
  }
  if (!flush_to_disk) return;
  // The rename itself is durable only once the folder is.
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
  int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
}

int RemoveLeftoverTempFiles(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec), end;
  int removed = 0;
  for (; !ec && it != end; it.increment(ec)) {
    if (!IsLeftoverName(it->path().filename().native())) continue;
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec) || HeldByAWriter(it->path())) continue;
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace ah
