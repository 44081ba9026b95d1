// The image download over libcurl.
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "app/fetch/image_fetcher.h"
#include "http/uri_resolution.h"
#include "platform/atomic_file.h"
#include "platform/code_page.h"

namespace ah {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  TempFileBeside* file;
  const ImageRequest* request;
  std::string status_line;
  std::string retry_after;
  bool too_large = false;
  std::string head;  // the body's first bytes
  // The whole transfer's end, when the request has one.
  std::chrono::steady_clock::time_point deadline;
  bool deadline_passed = false;
};

// Tells the request of a piece; false when the transfer is to end.
bool Received(Transfer& t, size_t bytes) {
  if (!t.request->received) return true;
  const auto before = std::chrono::steady_clock::now();
  const bool go_on = t.request->received(int64_t(bytes));
  // Held back by the caller, not by the site.
  t.deadline += std::chrono::steady_clock::now() - before;
  return go_on;
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t bytes = size * count;
  if (!Received(*t, bytes)) return 0;
  if (t->file->written() + int64_t(bytes) > t->request->max_bytes) {
    t->too_large = true;
    return 0;
  }
  if (t->head.size() < ImageRequest::kHeadBytes)
    t->head.append(data, std::min(bytes, ImageRequest::kHeadBytes - t->head.size()));
  return t->file->Write(std::string_view(data, bytes)) ? bytes : 0;
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
  if (!Received(*t, size * count)) return 0;
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

ImageResult Failed(TransferError error, std::string message) {
  ImageResult result;
  result.failure.error = error;
  result.failure.message = std::move(message);
  return result;
}

CURL* NewHandle() noexcept {
  GlobalInit();
  return curl_easy_init();
}

void SetOptions(CURL* c, const ImageRequest& request, Transfer& transfer, char* error_text) {
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
  if (request.most_per_read > 0)
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE,
                     long(std::clamp<int64_t>(request.most_per_read, 1024, CURL_MAX_WRITE_SIZE)));
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
    f.error = TransferError::kTooLarge;
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
  f.error = status >= 400 ? TransferError::kStatus : ErrorOfCurlCode(code);
  if (f.error == TransferError::kStatus) {
    f.status = int(status);
    f.retry_after = transfer.retry_after;
    // A server's status line is read as the client reads it, in the code page.
    f.message = transfer.status_line.empty() ? "HTTP status " + std::to_string(status)
                                             : AnsiToUtf8(transfer.status_line);
  } else if (code == CURLE_WRITE_ERROR && transfer.file->error() != 0) {
    f.message = std::strerror(transfer.file->error());
  } else {
    f.message = *error_text ? error_text : curl_easy_strerror(code);
  }
  return f;
}

class CurlImageFetcher : public ImageFetcher {
 public:
  CurlImageFetcher() : curl_(NewHandle()) {}
  ~CurlImageFetcher() override {
    if (curl_) curl_easy_cleanup(curl_);
  }
  CurlImageFetcher(const CurlImageFetcher&) = delete;
  CurlImageFetcher& operator=(const CurlImageFetcher&) = delete;

  ImageResult Fetch(const ImageRequest& request) noexcept override {
    try {
      const std::string& target = request.path;
      // Only an explicit http or https address is fetched: libcurl would
      // take a bare host name for http and go looking for it.
      if (!WebOriginOf(request.url))
        return Failed(TransferError::kAddress, "Not an http or https address: " + request.url);
      if (target.empty() || target.back() == '/')
        return Failed(TransferError::kLocalFile, "No file name: " + target);
      if (!curl_) return Failed(TransferError::kOther, "Cannot start a download.");
      // Every option from scratch; the handle keeps only its connections.
      curl_easy_reset(curl_);
      TempFileBeside file(target);
      if (!file.ok()) return Failed(TransferError::kLocalFile, std::strerror(file.error()));
      return Perform(request, file);
    } catch (const std::exception& e) {
      return Failed(TransferError::kOther, e.what());
    } catch (...) {
      return Failed(TransferError::kOther, "Download failed.");
    }
  }

 private:
  ImageResult Perform(const ImageRequest& request, TempFileBeside& file) {
    Transfer transfer{&file, &request, {}, {}, false, {}, {}, false};
    char error_text[CURL_ERROR_SIZE] = "";
    // The handle outlives this call: it must not keep pointers to it.
    struct ResetAfter {
      CURL* c;
      ~ResetAfter() { curl_easy_reset(c); }
    } reset_after{curl_};
    SetOptions(curl_, request, transfer, error_text);
    transfer.deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(request.transfer_timeout_ms);
    const CURLcode code = curl_easy_perform(curl_);

    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    const char* content_type = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_CONTENT_TYPE, &content_type);
    ImageResult result;
    if (content_type) result.content_type = content_type;
    if (std::optional<TransferFailure> failure = FailureOf(code, status, transfer, error_text)) {
      result.failure = std::move(*failure);
      return result;
    }
    if (request.accept && !request.accept(transfer.head, result.content_type)) {
      result.failure = {TransferError::kContent, 0, {}, "Not accepted: " + result.content_type};
      return result;
    }
    if (!file.Commit()) {
      result.failure = {TransferError::kLocalFile, 0, {}, std::strerror(file.error())};
      return result;
    }
    result.saved = true;
    result.bytes = file.written();
    return result;
  }

  CURL* curl_;  // the easy handle, which keeps the connections
};

}  // namespace

std::unique_ptr<ImageFetcher> NewCurlImageFetcher() { return std::make_unique<CurlImageFetcher>(); }

}  // namespace ah
