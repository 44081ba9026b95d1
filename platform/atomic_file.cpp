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

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(size_t(n));
  }
  return true;
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
  return random_part(".download", ".part") || random_part(".", ".tmp");
}

// A download in progress holds a lock on its temporary file.
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

void ReplaceFileAtomically(const std::filesystem::path& target, std::string_view content,
                           bool flush_to_disk) {
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
  std::filesystem::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = TempPathBeside(target);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) Fail(target, errno);
  }
  if (fd < 0) Fail(target, EEXIST);

  int error = 0;
  if (!WriteAll(fd, content) || (flush_to_disk && ::fsync(fd) != 0)) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    Fail(target, error);
  }
  if (!flush_to_disk) return;
  // The rename itself is durable only once the folder is.
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
