#include "app/harvest_transfers.h"

#include "app/stop_flag.h"
#include "http/exceptions.h"
#include "http/http_client_interface.h"
#include "platform/code_page.h"
#include "platform/url_download.h"
#include "transport/exceptions.h"

namespace ah {
namespace {

// The stack's codes for names that cannot be resolved.
bool IsLookupFailure(int socket_error) { return socket_error >= 11001 && socket_error <= 11004; }

TransferFailure Failure(TransferError error, const Exception& e) {
  TransferFailure failure;
  failure.error = error;
  // Some failures carry no text of their own; their class says what they are.
  failure.message = e.Message().empty() ? e.ClassName() : e.Message();
  return failure;
}

}  // namespace

TransferFailure FailureOfCurrentException() {
  try {
    throw;
  } catch (const EIdHTTPProtocolException& e) {
    TransferFailure failure = Failure(TransferError::kStatus, e);
    failure.status = e.ReplyCode();
    return failure;
  } catch (const EIdSSLProtocolReplyError& e) {
    // A non-zero code is the certificate check's verdict.
    return Failure(e.ReplyCode() != 0 ? TransferError::kCertificate : TransferError::kConnection, e);
  } catch (const EIdSocketError& e) {
    return Failure(IsLookupFailure(e.SocketErrorCode()) ? TransferError::kAddress
                                                        : TransferError::kConnection,
                   e);
  } catch (const EIdConnectTimeout& e) {
    return Failure(TransferError::kTimeout, e);
  } catch (const EIdReadTimeout& e) {
    return Failure(TransferError::kTimeout, e);
  } catch (const EIdConnClosedGracefully& e) {
    return Failure(TransferError::kConnection, e);
  } catch (const EIdClosedSocket& e) {
    return Failure(TransferError::kConnection, e);
  } catch (const EIdNotConnected& e) {
    return Failure(TransferError::kConnection, e);
  } catch (const EIdHTTPBodyTooLarge& e) {
    return Failure(TransferError::kAddress, e);
  } catch (const EIdURIException& e) {
    return Failure(TransferError::kAddress, e);
  } catch (const EIdUnknownProtocol& e) {
    return Failure(TransferError::kAddress, e);
  } catch (const EIdIOHandlerPropInvalid& e) {
    return Failure(TransferError::kAddress, e);
  } catch (const Exception& e) {
    return Failure(TransferError::kOther, e);
  } catch (const std::exception& e) {
    return TransferFailure{TransferError::kOther, 0, {}, e.what()};
  } catch (...) {
    return TransferFailure{TransferError::kOther, 0, {}, "Unknown failure."};
  }
}

TextTransfer TransferText(const std::function<IHTTPClient*()>& current, const ClientCall& call,
                          const TransferPolicy& policy, const StopFlag* stop) {
  TextTransfer result;
  AttemptsResult attempts = RunAttempts(policy, stop, [&](int) -> std::optional<TransferFailure> {
    result.text.clear();
    IHTTPClient* client = current();
    // Not a transfer that another attempt could mend.
    if (!client) return TransferFailure{TransferError::kAddress, 0, {}, Utf8ToAnsi("нет HTTP-клиента")};
    try {
      call(*client, result.text);
      return std::nullopt;
    } catch (...) {
      TransferFailure failure = FailureOfCurrentException();
      if (failure.error == TransferError::kStatus) failure.retry_after = client->LastReplyFacts().retry_after;
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

void UseProxyFor(IHTTPClient& client, const std::string& address,
                 const std::optional<ProxyAddress>& forced) {
  std::optional<ProxyAddress> proxy = ChooseProxy(address, forced);
  client.SetProxy(proxy ? proxy->host : std::string(), proxy ? proxy->port : 0);
}

ImageTransfer TransferImage(UrlDownloader& downloader, const std::string& url,
                            const std::string& path, const std::optional<ProxyAddress>& proxy,
                            const TransferPolicy& policy, const StopFlag* stop) {
  ImageTransfer result;
  DownloadRequest request;
  request.url = url;
  request.path = path;
  request.connect_timeout_ms = policy.connect_timeout_ms;
  request.idle_timeout_ms = policy.read_timeout_ms;
  request.proxy = proxy;
  if (stop) request.cancelled = [stop] { return stop->Requested(); };
  AttemptsResult attempts = RunAttempts(policy, stop, [&](int number) -> std::optional<TransferFailure> {
    request.fresh_connection = number > 1;
    DownloadResult download = downloader.Download(request);
    if (!download.saved) return download.failure;
    result.bytes = download.bytes;
    return std::nullopt;
  });
  result.failure = std::move(attempts.failure);
  result.attempts = attempts.attempts;
  return result;
}

}  // namespace ah
