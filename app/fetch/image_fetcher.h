#pragma once
// The image download: one address into one file, behind an interface so
// that the run does not know which library fetches it. The one the
// harvest uses is libcurl's (NewCurlImageFetcher).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/fetch/proxy_choice.h"
#include "app/fetch/transfer_failure.h"

namespace ah {

struct ImageRequest {
  std::string url;   // as it goes out (ASCII); http or https only, also after redirects
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
  // transfer (kTooLarge): a host that streams without end must not fill
  // the disk.
  int64_t max_bytes = int64_t(1) << 30;
  // Asked once the whole body is in, with its first bytes (up to
  // kHeadBytes) and the reply's Content-Type; false fails the transfer
  // with kContent. None: every body is taken.
  std::function<bool(std::string_view head, std::string_view content_type)> accept;
  static constexpr size_t kHeadBytes = 16;
  // Asked while the transfer runs; true cancels it.
  std::function<bool()> cancelled;
  // Told of every piece of the replies, heads and bodies, as it arrives; it
  // may hold the transfer back (a rate limit), and the time it does is not
  // counted against the transfer's time-out. False cancels the transfer.
  std::function<bool(int64_t bytes)> received;
  // The most one piece may hold (0: libcurl's own; it takes 1 KiB to 16 KiB).
  int64_t most_per_read = 0;
};

struct ImageResult {
  bool saved = false;
  int64_t bytes = 0;
  TransferFailure failure;   // when not saved; its message is UTF-8
  std::string content_type;  // of the last reply, as sent
};

// One image connection: what it keeps between downloads holds the
// kept-alive connections, so the next download from the same host goes out
// without a new connect. One thread at a time.
class ImageFetcher {
 public:
  virtual ~ImageFetcher() = default;
  // Fetches the request's address into its path. Redirects are followed.
  // The body goes to a temporary file beside the target (TempFileBeside)
  // that replaces the target only when the whole transfer succeeded, so a
  // failure or a cancel never leaves a partial, empty or temporary file
  // and an existing file is either kept or replaced whole. A status of 400
  // or more, an empty body, a body the request does not accept and any
  // other scheme are failures. Never throws.
  virtual ImageResult Fetch(const ImageRequest& request) noexcept = 0;
};

std::unique_ptr<ImageFetcher> NewCurlImageFetcher();

}  // namespace ah
