#include "app/fetch/url_download.h"

#include <curl/curl.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "http/uri_resolution.h"
#include "platform/code_page.h"
#include "platform/files.h"

namespace ah {
namespace {

constexpr std::string_view kTempPrefix = ".download-";
constexpr std::string_view kTempSuffix = ".part";
constexpr size_t kTempRandomDigits = 16;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsTempName(std::string_view name) {
  if (name.size() != kTempPrefix.size() + kTempRandomDigits + kTempSuffix.size() ||
      !name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix))
    return false;
  for (char c : name.substr(kTempPrefix.size(), kTempRandomDigits))
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// A file opened with O_EXCL under a fresh random name beside the target and
// locked for as long as it is open, so a sweep of stale files can tell it
// from one whose writer died; removed again unless committed.
class TempFile {
 public:
  explicit TempFile(const std::string& target) {
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
      char digits[kTempRandomDigits + 1];
      std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random()));
      path_ = dir + std::string(kTempPrefix) + digits + std::string(kTempSuffix);
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
    created_ = true;
    flock(fd_, LOCK_EX);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    // Unlinked before the lock goes with the descriptor, so a sweep never
    // finds it unlocked.
    if (created_ && !committed_) unlink(path_.c_str());
    if (fd_ >= 0) close(fd_);
  }

  bool ok() const { return fd_ >= 0; }
  int error() const { return error_; }
  int64_t written() const { return written_; }

  bool Write(const char* data, size_t size) {
    while (size > 0) {
      ssize_t n = write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return false;
      }
      data += n;
      size -= size_t(n);
      written_ += n;
    }
    return true;
  }

  bool CommitAs(const std::string& target) {
    committed_ = rename(path_.c_str(), target.c_str()) == 0;
    if (!committed_) error_ = errno;
    return committed_;
  }

 private:
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  bool created_ = false;
  bool committed_ = false;
  int64_t written_ = 0;
};

struct Transfer {
  TempFile* file;
  const DownloadRequest* request;
  std::string status_line;
  std::string retry_after;
  bool too_large = false;
  std::string head;  // the body's first bytes
  // The whole transfer's end, when the request has one.
  std::chrono::steady_clock::time_point deadline;
  bool deadline_passed = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t bytes = size * count;
  if (t->file->written() + int64_t(bytes) > t->request->max_bytes) {
    t->too_large = true;
    return 0;
  }
  if (t->head.size() < DownloadRequest::kHeadBytes)
    t->head.append(data, std::min(bytes, DownloadRequest::kHeadBytes - t->head.size()));
  return t->file->Write(data, bytes) ? bytes : 0;
}

std::string_view TrimLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
    line.remove_suffix(1);
  return line;
}

// Keeps the last status line and its Retry-After: a redirect's head comes
// first, the final reply's last.
size_t ReadHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::string_view line = TrimLine(std::string_view(data, size * count));
  if (line.starts_with("HTTP/")) {
    t->status_line = std::string(line);
    t->retry_after.clear();
  } else if (line.size() > 12 && strncasecmp(line.data(), "retry-after:", 12) == 0) {
    std::string_view value = line.substr(12);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    t->retry_after = std::string(value);
  }
  return size * count;
}

// Asked as bytes come and at least once a second.
int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  if (t->request->transfer_timeout_ms > 0 && std::chrono::steady_clock::now() >= t->deadline) {
    t->deadline_passed = true;
    return 1;
  }
  return t->request->cancelled && t->request->cancelled() ? 1 : 0;
}

TransferError ErrorOf(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return TransferError::kConnection;
    case CURLE_OPERATION_TIMEDOUT:
      return TransferError::kTimeout;
    case CURLE_HTTP_RETURNED_ERROR:
      return TransferError::kStatus;
    case CURLE_PEER_FAILED_VERIFICATION:
      return TransferError::kCertificate;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_TOO_MANY_REDIRECTS:
      return TransferError::kAddress;
    case CURLE_WRITE_ERROR:
      return TransferError::kLocalFile;
    case CURLE_ABORTED_BY_CALLBACK:
      return TransferError::kCancelled;
    default:
      return TransferError::kOther;
  }
}

DownloadResult Failed(TransferError error, std::string message) {
  DownloadResult result;
  result.failure.error = error;
  result.failure.message = std::move(message);
  return result;
}

CURL* NewHandle() noexcept {
  GlobalInit();
  return curl_easy_init();
}

void SetOptions(CURL* c, const DownloadRequest& request, Transfer& transfer, char* error_text) {
  curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error_text);
  // The proxy is chosen by the caller, the same way as for pages; an
  // empty one keeps libcurl from reading the environment itself.
  std::string proxy;
  if (request.proxy) {
    const std::string& host = request.proxy->host;
    proxy = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
            std::to_string(request.proxy->port);
  }
  curl_easy_setopt(c, CURLOPT_PROXY, proxy.c_str());
  // no_proxy has been applied in that choice already; libcurl reading it
  // again could send a forced proxy's transfer around it.
  curl_easy_setopt(c, CURLOPT_NOPROXY, "");
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(request.connect_timeout_ms));
  if (request.idle_timeout_ms > 0) {
    // At least one byte a second, judged over the idle time-out.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, long((request.idle_timeout_ms + 999) / 1000));
  }
  // An announced length past the limit fails before a byte is written.
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.max_bytes));
  if (request.fresh_connection) curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &ReadHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Progress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
}

// Why a finished transfer brought no whole body; nothing when it did.
std::optional<TransferFailure> FailureOf(CURLcode code, long status, const Transfer& transfer,
                                         const char* error_text) {
  TransferFailure f;
  if (transfer.too_large || code == CURLE_FILESIZE_EXCEEDED) {
    f.error = TransferError::kAddress;
    f.message = "The body is larger than " + std::to_string(transfer.request->max_bytes) + " bytes.";
    return f;
  }
  if (transfer.deadline_passed) {
    f.error = TransferError::kTimeout;
    f.message = "The transfer took longer than " +
                std::to_string(transfer.request->transfer_timeout_ms) + " ms.";
    return f;
  }
  if (code == CURLE_OK && status < 400) {
    if (transfer.file->written() > 0) return std::nullopt;
    f.message = "Empty reply body.";
    return f;
  }
  f.error = status >= 400 ? TransferError::kStatus : ErrorOf(code);
  if (f.error == TransferError::kStatus) {
    f.status = int(status);
    f.retry_after = transfer.retry_after;
    f.message = transfer.status_line.empty() ? "HTTP status " + std::to_string(status)
                                             : transfer.status_line;
  } else if (code == CURLE_WRITE_ERROR && transfer.file->error() != 0) {
    f.message = std::strerror(transfer.file->error());
  } else {
    f.message = *error_text ? error_text : curl_easy_strerror(code);
  }
  return f;
}

}  // namespace

UrlDownloader::UrlDownloader() noexcept : curl_(NewHandle()) {}

UrlDownloader::~UrlDownloader() {
  if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

DownloadResult DownloadUrl(const DownloadRequest& request) noexcept {
  return UrlDownloader().Download(request);
}

DownloadResult UrlDownloader::Download(const DownloadRequest& request) noexcept {
  try {
    const std::string& target = request.path;
    // Only an explicit http or https address is fetched: libcurl would
    // take a bare host name for http and go looking for it.
    if (!WebOriginOf(request.url))
      return Failed(TransferError::kAddress, "Not an http or https address: " + request.url);
    if (target.empty() || target.back() == '/')
      return Failed(TransferError::kLocalFile, "No file name: " + target);

    if (!curl_) return Failed(TransferError::kOther, "Cannot start a download.");
    CURL* c = static_cast<CURL*>(curl_);
    // Every option from scratch; the handle keeps only its connections.
    curl_easy_reset(c);
    TempFile file(target);
    if (!file.ok()) return Failed(TransferError::kLocalFile, std::strerror(file.error()));
    Transfer transfer{&file, &request, {}, {}, false, {}, {}, false};
    char error_text[CURL_ERROR_SIZE] = "";
    // The handle outlives this call: it must not keep pointers to it.
    struct ResetAfter {
      CURL* c;
      ~ResetAfter() { curl_easy_reset(c); }
    } reset_after{c};
    SetOptions(c, request, transfer, error_text);
    transfer.deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(request.transfer_timeout_ms);
    const CURLcode code = curl_easy_perform(c);

    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    const char* content_type = nullptr;
    curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &content_type);
    DownloadResult result;
    if (content_type) result.content_type = content_type;
    if (std::optional<TransferFailure> failure = FailureOf(code, status, transfer, error_text)) {
      result.failure = std::move(*failure);
      return result;
    }
    if (request.accept && !request.accept(transfer.head, result.content_type)) {
      result.failure = {TransferError::kContent, 0, {}, "Not accepted: " + result.content_type};
      return result;
    }
    if (!file.CommitAs(target)) {
      result.failure = {TransferError::kLocalFile, 0, {}, std::strerror(file.error())};
      return result;
    }
    result.saved = true;
    result.bytes = file.written();
    return result;
  } catch (const std::exception& e) {
    return Failed(TransferError::kOther, e.what());
  } catch (...) {
    return Failed(TransferError::kOther, "Download failed.");
  }
}

int RemoveStaleDownloads(const std::string& folder) noexcept {
  try {
    std::string dir = folder.empty() ? "./" : folder;
    if (dir.back() != '/') dir += '/';
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;
    int removed = 0;
    while (dirent* e = readdir(d)) {
      if (!IsTempName(e->d_name)) continue;
      const std::string path = dir + e->d_name;
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      if (fd < 0) continue;
      // A download in progress holds its lock; a dead one's lock went with it.
      if (flock(fd, LOCK_EX | LOCK_NB) == 0 && unlink(path.c_str()) == 0) ++removed;
      close(fd);
    }
    closedir(d);
    return removed;
  } catch (...) {
    return 0;
  }
}

bool UrlDownloadToFile(std::string_view address, std::string_view file_name) noexcept {
  try {
    DownloadRequest request;
    request.url = AnsiToUtf8(address);
    request.path = FileSystemName(file_name);
    request.proxy = ProxyFromEnvironment(request.url);
    return DownloadUrl(request).saved;
  } catch (...) {
    return false;
  }
}

}  // namespace ah
