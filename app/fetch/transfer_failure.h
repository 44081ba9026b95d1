#pragma once
// Why one transfer (a page fetch or an image download) failed, in the
// terms that a retry decision needs. Both kinds of transfer report it, and
// one map (failure_map.cpp) tells the kind of what their libraries raise.

#include <optional>
#include <string>

namespace ah {

enum class TransferError {
  kConnection,   // refused, reset or closed early, a body cut short
  kTimeout,      // no connection or no bytes within the time-out
  kStatus,       // the server answered with a status it was not asked for
  kCertificate,  // the peer's certificate was refused
  kAddress,      // the address cannot be fetched: no such host, bad scheme, too many redirects
  kTooLarge,     // the body is larger than the transfer may bring
  kLocalFile,    // the file could not be written
  kContent,      // the reply arrived whole but is not what was asked for
  kCancelled,    // the run was asked to stop
  kOther,
};

struct TransferFailure {
  TransferError error = TransferError::kOther;
  int status = 0;           // kStatus: the reply's status code
  std::string retry_after;  // kStatus: the reply's Retry-After value, as sent
  // The failure's own message in one line (for a status: the status line).
  std::string message;
};

// Inside a catch block: what the exception being handled, one of the HTTP
// client's, says about the failure of a client call.
TransferFailure FailureOfCurrentException();
// The kind of a libcurl result (a CURLcode) that is no reply status.
TransferError ErrorOfCurlCode(int code);

// Whether a transfer ended because the run was asked to stop.
inline bool Cancelled(const std::optional<TransferFailure>& failure) {
  return failure && failure->error == TransferError::kCancelled;
}

}  // namespace ah
