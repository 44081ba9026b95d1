#pragma once
// The URL download service: fetches one address into one file.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/fetch/proxy_choice.h"
#include "app/fetch/transfer_failure.h"

namespace ah {

struct DownloadRequest {
  std::string url;   // UTF-8; http or https only, also after redirects
  std::string path;  // the target, as the file system names it
  int connect_timeout_ms = 30000;
  // The transfer fails when no byte arrives for this long.
  int idle_timeout_ms = 60000;
  // The whole transfer, redirects included, fails when it takes longer
  // than this, however steadily the bytes come (0: no limit); judged as
  // bytes come and at least once a second.
  int transfer_timeout_ms = 0;
  // The proxy to go through; none: a direct connection, whatever the
  // environment says.
  std::optional<ProxyAddress> proxy;
  // A new connection even when one to the host is open.
  bool fresh_connection = false;
  // A body that is announced or goes on past this many bytes fails the
  // transfer: a host that streams without end must not fill the disk.
  int64_t max_bytes = int64_t(1) << 30;
  // Asked once the whole body is in, with its first bytes (up to
  // kHeadBytes) and the reply's Content-Type; false fails the transfer
  // with kContent. None: every body is taken.
  std::function<bool(std::string_view head, std::string_view content_type)> accept;
  static constexpr size_t kHeadBytes = 16;
  // Asked while the transfer runs; true cancels it.
  std::function<bool()> cancelled;
};

struct DownloadResult {
  bool saved = false;
  int64_t bytes = 0;
  TransferFailure failure;  // when not saved
  std::string content_type;  // of the last reply, as sent
};

// One image connection: the handle it keeps between downloads holds the
// kept-alive connections, so the next download from the same host goes out
// without a new connect. One thread at a time.
class UrlDownloader {
 public:
  UrlDownloader() noexcept;
  ~UrlDownloader();
  UrlDownloader(const UrlDownloader&) = delete;
  UrlDownloader& operator=(const UrlDownloader&) = delete;

  // Fetches the request's address into its path. Redirects are followed.
  // The body goes to an exclusively created, locked temporary file in the
  // target's folder that is renamed over the target only when the whole
  // transfer succeeded, so a failure or a cancel never leaves a partial,
  // empty or temporary file and an existing file is either kept or
  // replaced whole. A status of 400 or more, an empty body, a body the
  // request does not accept and any other scheme are failures. Never
  // throws.
  DownloadResult Download(const DownloadRequest& request) noexcept;

 private:
  void* curl_;  // the libcurl easy handle
};

// A download on a connection of its own.
DownloadResult DownloadUrl(const DownloadRequest& request) noexcept;

// Removes the temporary files that a download into `folder` (a file-system
// name, with or without a trailing "/") left behind when its process died;
// files that a running download holds stay. Returns how many went.
int RemoveStaleDownloads(const std::string& folder) noexcept;

// The download service as the harvest's helper calls it: the address and
// file name in Windows-1251, the environment's proxy, the default
// time-outs; true when the file was saved. Never throws.
bool UrlDownloadToFile(std::string_view address, std::string_view file_name) noexcept;

}  // namespace ah
