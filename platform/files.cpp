#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
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
      return path.substr(0, slash + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The value of XDG_PICTURES_DIR="..." in a user-dirs file, with $HOME
// expanded; empty when the file does not say.
std::string PicturesDirFromUserDirs(const std::string& home) {
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) config = home + "/.config";
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  constexpr std::string_view kKey = "XDG_PICTURES_DIR=\"";
  while (std::getline(in, line)) {
    if (!line.starts_with(kKey)) continue;
    std::string value = line.substr(kKey.size());
    size_t quote = value.rfind('"');
    if (quote == std::string::npos) return "";
    value.resize(quote);
    if (value.starts_with("$HOME")) value = home + value.substr(5);
    return value.starts_with("/") ? value : "";
  }
  return "";
}

}  // namespace

std::string FitName(std::string_view name, size_t limit) {
  if (name.size() <= limit) return std::string(name);
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return std::string(name.substr(0, cut));
}

std::string DisplayName(std::string_view name) { return AnsiToUtf8(Utf8ToAnsiLossy(name)); }

const std::string& ExecutableDir() {
  static const std::string dir = ReadExecutableDir();
  return dir;
}

std::string CurrentDir() {
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return "./";
    buffer.resize(buffer.size() * 2);
  }
  std::string dir = buffer.data();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string TempDir() {
  std::string dir = Env("TMPDIR");
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string PicturesDir() {
  std::string dir = Env("XDG_PICTURES_DIR");
  const std::string home = Env("HOME");
  if (dir.empty() && !home.empty()) dir = PicturesDirFromUserDirs(home);
  if (dir.empty() && !home.empty()) dir = home + "/Pictures";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool DirectoryExists(std::string_view dir) {
  struct stat st;
  return stat(std::string(dir).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(std::string_view dir) { return mkdir(std::string(dir).c_str(), 0777) == 0; }

bool CreateDirs(std::string_view dir) {
  std::string path(dir);
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string parent = path.substr(0, slash);
    if (!DirectoryExists(parent)) CreateDir(parent);
  }
  if (!DirectoryExists(path)) CreateDir(path);
  return DirectoryExists(path);
}

bool IsWritableDir(std::string_view dir) {
  return DirectoryExists(dir) && access(std::string(dir).c_str(), W_OK | X_OK) == 0;
}

bool FileExists(std::string_view file_name) {
  struct stat st;
  return stat(std::string(file_name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFile(std::string_view file_name) { return unlink(std::string(file_name).c_str()) == 0; }

std::string LastSystemError() { return std::strerror(errno); }

}  // namespace ah
