#include "platform/url_download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>

#include "platform/code_page.h"
#include "platform/files.h"

namespace ah {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A file opened with O_EXCL under a fresh random name beside the target;
// removed again unless committed.
class TempFile {
 public:
  explicit TempFile(const std::string& target) {
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
      path_ = dir + ".download-" + suffix + ".part";
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    created_ = fd_ >= 0;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) close(fd_);
    if (created_ && !committed_) unlink(path_.c_str());
  }

  bool ok() const { return fd_ >= 0; }
  size_t written() const { return written_; }

  bool Write(const char* data, size_t size) {
    while (size > 0) {
      ssize_t n = write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data += n;
      size -= size_t(n);
      written_ += size_t(n);
    }
    return true;
  }

  bool CommitAs(const std::string& target) {
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) return false;
    committed_ = rename(path_.c_str(), target.c_str()) == 0;
    return committed_;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;
  bool committed_ = false;
  size_t written_ = 0;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* file = static_cast<TempFile*>(user);
  size_t bytes = size * count;
  return file->Write(data, bytes) ? bytes : 0;
}

// Only an explicit http or https address is fetched: libcurl would take a
// bare host name for http and go looking for it.
bool HasWebScheme(std::string_view url) {
  auto starts = [url](std::string_view scheme) {
    if (url.size() < scheme.size()) return false;
    for (size_t i = 0; i < scheme.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    return true;
  };
  return starts("http://") || starts("https://");
}

struct EasyHandle {
  CURL* curl = curl_easy_init();
  ~EasyHandle() {
    if (curl) curl_easy_cleanup(curl);
  }
};

}  // namespace

bool UrlDownloadToFile(std::string_view address, std::string_view file_name) noexcept {
  try {
    GlobalInit();
    const std::string url = AnsiToUtf8(address);
    const std::string target = FileSystemName(file_name);
    if (!HasWebScheme(url) || target.empty() || target.back() == '/') return false;

    EasyHandle easy;
    if (!easy.curl) return false;
    TempFile file(target);
    if (!file.ok()) return false;

    CURL* c = easy.curl;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    // A stalled image host must not hold the run forever.
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &file);

    if (curl_easy_perform(c) != CURLE_OK) return false;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400 || file.written() == 0) return false;
    return file.CommitAs(target);
  } catch (...) {
    return false;
  }
}

}  // namespace ah
