#pragma once
// The two kinds of transfer a harvest makes, each under the transfer
// policy: a client call that brings back page text, and an image download
// into a file.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/fetch/transfer_policy.h"
#include "app/fetch/proxy_choice.h"
#include "app/fetch/transfer_failure.h"

namespace ah {

class IHTTPClient;
class StopFlag;
class ImageFetcher;
class JobPace;

struct TextTransfer {
  std::optional<TransferFailure> failure;  // empty: the whole reply arrived
  int attempts = 0;
  // The reply's body; after a failure, what the last attempt received.
  std::string text;
};

// One call of the client that fills `text`. It runs again for each retry,
// so it must set up everything it sends (a form the client encodes in
// place, say).
using ClientCall = std::function<void(IHTTPClient& client, std::string& text)>;

// Makes the call on the client that `current` returns at each attempt (a
// null one fails for good); a failed call drops the client's connection,
// so every retry, and the request after a failure, goes on a new one.
// Every attempt, here and in TransferImage, keeps to the job's `pace` (may
// be null).
TextTransfer TransferText(const std::function<IHTTPClient*()>& current, const ClientCall& call,
                          const TransferPolicy& policy, const StopFlag* stop,
                          JobPace* pace = nullptr);

// GETs the page at `address` (UTF-8) by TransferText, through the proxy
// that the address goes through (`forced` when given).
TextTransfer TransferPage(const std::function<IHTTPClient*()>& current, const std::string& address,
                          const std::optional<ProxyAddress>& forced, const TransferPolicy& policy,
                          const StopFlag* stop, JobPace* pace);

struct ImageTransfer {
  std::optional<TransferFailure> failure;  // empty: saved
  int attempts = 0;
  int64_t bytes = 0;
};

// Whether a downloaded body is an image: its first bytes carry the
// signature of JPEG, PNG, GIF, WebP, BMP, TIFF, AVIF or HEIC, or its
// Content-Type is image/*. A site's error page sent with 200 is neither.
bool IsImageBody(std::string_view head, std::string_view content_type);

// Downloads `url` (UTF-8; it goes out as WireAddress makes it) into `path` (a file-system name) with the
// policy's time-outs, through `proxy`, on the fetcher's kept-alive
// connection and on a fresh one for every retry; a stop cancels a transfer
// under way, which then leaves no file. The whole image must come within
// the page deadline, and be an image; what is not fails for good with
// "не изображение: " and its Content-Type.
ImageTransfer TransferImage(ImageFetcher& fetcher, const std::string& url,
                            const std::string& path, const std::optional<ProxyAddress>& proxy,
                            const TransferPolicy& policy, const StopFlag* stop,
                            JobPace* pace = nullptr);

// An address (UTF-8) as it goes out: every byte past ASCII percent-encoded,
// as browsers send what they show.
std::string WireAddress(std::string_view address);

// Points the client at the proxy that `address` goes through: `forced`
// when given, else what the proxy variables say.
void UseProxyFor(IHTTPClient& client, const std::string& address,
                 const std::optional<ProxyAddress>& forced);

}  // namespace ah
