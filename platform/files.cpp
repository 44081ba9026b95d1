#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/code_page.h"

namespace ah {
namespace {

std::string ReadExecutableDir() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return "./";
    if (size_t(n) < buffer.size()) {
      std::string path(buffer.data(), size_t(n));
      size_t slash = path.rfind('/');
      if (slash == std::string::npos) return "./";
      std::string dir = Utf8ToAnsi(path.substr(0, slash + 1));
      // A path that is not UTF-8 must not turn into "" and so into the root.
      return dir.empty() ? "./" : dir;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string FileSystemName(std::string_view ansi_name) { return AnsiToUtf8(ansi_name); }

const std::string& ExecutableDir() {
  static const std::string dir = ReadExecutableDir();
  return dir;
}

std::string TempDir() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = env && *env ? Utf8ToAnsi(env) : std::string();
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool DirectoryExists(std::string_view dir) {
  struct stat st;
  return stat(FileSystemName(dir).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(std::string_view dir) { return mkdir(FileSystemName(dir).c_str(), 0777) == 0; }

bool FileExists(std::string_view file_name) {
  struct stat st;
  return stat(FileSystemName(file_name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFile(std::string_view file_name) { return unlink(FileSystemName(file_name).c_str()) == 0; }

}  // namespace ah
