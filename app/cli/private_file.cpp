#include "app/cli/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ah {

namespace {

// Closes the descriptor on every way out.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::optional<FileText> ReadFileText(const std::string& path, size_t limit, std::string& error,
                                     bool* missing) {
  auto fail = [&](const char* reason) -> std::optional<FileText> {
    error = "cannot read " + path + ": " + reason;
    return std::nullopt;
  };
  // The mode is taken from the file that is read, not from a name that may
  // have been replaced in between.
  Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
  if (file.fd < 0) {
    if (missing) *missing = errno == ENOENT;
    return fail(std::strerror(errno));
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return fail(std::strerror(errno));
  if (S_ISDIR(info.st_mode)) return fail(std::strerror(EISDIR));
  FileText text;
  text.open_to_others = (info.st_mode & (S_IRWXG | S_IRWXO)) != 0;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(std::strerror(errno));
    if (n == 0) return text;
    if (text.bytes.size() + size_t(n) > limit) return fail("too large");
    text.bytes.append(buffer, size_t(n));
  }
}

std::string OpenToOthersError(const std::string& path) {
  return path + " holds a password and is open to other users: chmod 600 " + path;
}

}  // namespace ah
