#include "app/fetch/harvest_transfers.h"

#include <strings.h>

#include "app/fetch/image_fetcher.h"
#include "app/fetch/site_pace.h"
#include "app/fetch/stop_flag.h"
#include "http/http_client_interface.h"
#include "http/uri.h"
#include "platform/code_page.h"

namespace ah {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix, size_t at = 0) {
  return text.size() >= at + prefix.size() && text.substr(at, prefix.size()) == prefix;
}

// ISO media files (AVIF, HEIC) name their brand in the leading "ftyp" box.
bool IsImageBrand(std::string_view head) {
  if (!StartsWith(head, "ftyp", 4) || head.size() < 12) return false;
  const std::string_view brand = head.substr(8, 4);
  for (std::string_view image : {"avif", "avis", "heic", "heix", "hevc", "hevx", "heim", "heis",
                                 "mif1", "msf1"})
    if (brand == image) return true;
  return false;
}

// A pause cut short by a stop; RunAttempts tells it as the stop it is.
const TransferFailure kStopped{TransferError::kCancelled, 0, {}, {}};

// The limit on a client's reading for one call.
class ReadingLimit {
 public:
  ReadingLimit(IHTTPClient& client, JobPace* pace, const StopFlag* stop)
      : client_(pace && pace->Limit() ? &client : nullptr) {
    if (!client_) return;
    RateLimit* limit = pace->Limit();
    client_->SetOnReceived([limit, stop](int64_t bytes) { limit->Pass(bytes, stop); },
                           int32_t(pace->ReadPiece()));
  }
  ~ReadingLimit() {
    if (client_) client_->SetOnReceived(nullptr);
  }
  ReadingLimit(const ReadingLimit&) = delete;
  ReadingLimit& operator=(const ReadingLimit&) = delete;

 private:
  IHTTPClient* client_;
};

}  // namespace

bool IsImageBody(std::string_view head, std::string_view content_type) {
  using namespace std::string_view_literals;
  for (std::string_view signature : {"\xFF\xD8\xFF"sv, "\x89PNG\r\n\x1A\n"sv, "GIF87a"sv, "GIF89a"sv,
                                     "BM"sv, "II*\0"sv, "MM\0*"sv})
    if (StartsWith(head, signature)) return true;
  if (StartsWith(head, "RIFF") && StartsWith(head, "WEBP", 8)) return true;
  if (IsImageBrand(head)) return true;
  while (!content_type.empty() && content_type.front() == ' ') content_type.remove_prefix(1);
  constexpr std::string_view kImageType = "image/";
  return content_type.size() > kImageType.size() &&
         strncasecmp(content_type.data(), kImageType.data(), kImageType.size()) == 0;
}

TextTransfer TransferText(const std::function<IHTTPClient*()>& current, const ClientCall& call,
                          const TransferPolicy& policy, const StopFlag* stop, JobPace* pace) {
  TextTransfer result;
  AttemptsResult attempts = RunAttempts(policy, stop, [&](int) -> std::optional<TransferFailure> {
    result.text.clear();
    IHTTPClient* client = current();
    // Not a transfer that another attempt could mend.
    if (!client) return TransferFailure{TransferError::kAddress, 0, {}, "нет HTTP-клиента"};
    if (pace && !pace->BeforeRequest(stop)) return kStopped;
    try {
      ReadingLimit limit(*client, pace, stop);
      call(*client, result.text);
      return std::nullopt;
    } catch (...) {
      TransferFailure failure = FailureOfCurrentException();
      if (failure.error == TransferError::kStatus) failure.retry_after = client->LastReplyFacts().retry_after;
      if (pace) pace->AfterFailure(failure);
      // Whatever comes next, a retry or another address, starts on a new
      // connection: a late answer to this request must never be read as
      // the answer to the next one.
      try {
        client->DropConnection();
      } catch (...) {
      }
      return failure;
    }
  });
  result.failure = std::move(attempts.failure);
  result.attempts = attempts.attempts;
  return result;
}

std::string WireAddress(std::string_view address) {
  return TIdURI::PercentEncode(address, [](unsigned char b) { return b < 0x80; });
}

TextTransfer TransferPage(const std::function<IHTTPClient*()>& current, const std::string& address,
                          const std::optional<ProxyAddress>& forced, const TransferPolicy& policy,
                          const StopFlag* stop, JobPace* pace) {
  return TransferText(
      current,
      [&](IHTTPClient& client, std::string& text) {
        UseProxyFor(client, address, forced);
        client.GetText(WireAddress(address), text);
      },
      policy, stop, pace);
}

void UseProxyFor(IHTTPClient& client, const std::string& address,
                 const std::optional<ProxyAddress>& forced) {
  std::optional<ProxyAddress> proxy = ChooseProxy(address, forced);
  client.SetProxy(proxy ? proxy->host : std::string(), proxy ? proxy->port : 0);
}

ImageTransfer TransferImage(ImageFetcher& fetcher, const std::string& url,
                            const std::string& path, const std::optional<ProxyAddress>& proxy,
                            const TransferPolicy& policy, const StopFlag* stop, JobPace* pace) {
  ImageTransfer result;
  ImageRequest request;
  request.url = WireAddress(url);
  request.path = path;
  request.connect_timeout_ms = policy.connect_timeout_ms;
  request.idle_timeout_ms = policy.read_timeout_ms;
  request.transfer_timeout_ms = policy.PageDeadlineMs();
  request.accept = IsImageBody;
  request.proxy = proxy;
  if (stop) request.cancelled = [stop] { return stop->Requested(); };
  if (RateLimit* limit = pace ? pace->Limit() : nullptr) {
    request.received = [limit, stop](int64_t bytes) { return limit->Pass(bytes, stop); };
    request.most_per_read = pace->ReadPiece();
  }
  AttemptsResult attempts = RunAttempts(policy, stop, [&](int number) -> std::optional<TransferFailure> {
    request.fresh_connection = number > 1;
    if (pace && !pace->BeforeRequest(stop)) return kStopped;
    ImageResult download = fetcher.Fetch(request);
    if (pace && !download.saved) pace->AfterFailure(download.failure);
    if (download.failure.error == TransferError::kContent)
      download.failure.message = "не изображение: " + AnsiToUtf8(download.content_type);
    if (!download.saved) return download.failure;
    result.bytes = download.bytes;
    return std::nullopt;
  });
  result.failure = std::move(attempts.failure);
  result.attempts = attempts.attempts;
  return result;
}

}  // namespace ah
