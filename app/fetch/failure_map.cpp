// What went wrong in a transfer, by the kinds a retry decision needs: the
// HTTP client's exceptions (pages and the sign-in) and libcurl's results
// (images), side by side so that one failure is the same kind whichever
// library met it.
#include <curl/curl.h>

#include "app/fetch/transfer_failure.h"
#include "http/exceptions.h"
#include "platform/code_page.h"
#include "transport/exceptions.h"

namespace ah {
namespace {

// The stack's codes for names that cannot be resolved.
bool IsLookupFailure(int socket_error) { return socket_error >= 11001 && socket_error <= 11004; }

TransferFailure Failure(TransferError error, const Exception& e) {
  TransferFailure failure;
  failure.error = error;
  // Some failures carry no text of their own; their class says what they
  // are. The library's texts are the code page's, and so is a status line
  // a server sent.
  failure.message = AnsiToUtf8(e.Message().empty() ? e.ClassName() : e.Message());
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
    return Failure(TransferError::kTooLarge, e);
  } catch (const EIdURIException& e) {
    return Failure(TransferError::kAddress, e);
  } catch (const EIdUnknownProtocol& e) {
    return Failure(TransferError::kAddress, e);
  } catch (const EIdIOHandlerPropInvalid& e) {
    return Failure(TransferError::kAddress, e);
  } catch (const Exception& e) {
    return Failure(TransferError::kOther, e);
  } catch (const std::exception& e) {
    return TransferFailure{TransferError::kOther, 0, {}, AnsiToUtf8(e.what())};
  } catch (...) {
    return TransferFailure{TransferError::kOther, 0, {}, "Unknown failure."};
  }
}

TransferError ErrorOfCurlCode(int code) {
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
    case CURLE_FILESIZE_EXCEEDED:
      return TransferError::kTooLarge;
    case CURLE_WRITE_ERROR:
      return TransferError::kLocalFile;
    case CURLE_ABORTED_BY_CALLBACK:
      return TransferError::kCancelled;
    default:
      return TransferError::kOther;
  }
}

}  // namespace ah
