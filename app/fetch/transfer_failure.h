#pragma once
// Why one transfer (a page fetch or an image download) failed, in the
// terms that a retry decision needs. Both kinds of transfer report it.

#include <optional>
#include <string>

namespace ah {

enum class TransferError {
  kConnection,   // refused, reset or closed early, a body cut short
  kTimeout,      // no connection or no bytes within the time-out
  kStatus,       // the server answered with a status it was not asked for
  kCertificate,  // the peer's certificate was refused
  kAddress,      // the address cannot be fetched: no such host, bad scheme, too many redirects
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

// Whether a transfer ended because the run was asked to stop.
inline bool Cancelled(const std::optional<TransferFailure>& failure) {
  return failure && failure->error == TransferError::kCancelled;
}

}  // namespace ah
