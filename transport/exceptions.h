#pragma once
// The exception tree of the network components. Every class carries the
// fixed message its raising site gives; callers catch by class.

#include <cstdint>
#include <string>

#include "framework/exception.h"

namespace ah {

#define AH_EXCEPTION_CLASS(name, base)      \
  class name : public base {                \
   public:                                  \
    using base::base;                       \
    AH_CLASS_NAME(name)                     \
  };

AH_EXCEPTION_CLASS(EIdException, Exception)
AH_EXCEPTION_CLASS(EIdSilentException, EIdException)
// "Connection Closed Gracefully."
AH_EXCEPTION_CLASS(EIdConnClosedGracefully, EIdSilentException)

// "Socket Error # %d\r\n%s"
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int code, std::string message)
      : EIdException(std::move(message)), code_(code) {}
  int SocketErrorCode() const { return code_; }
  AH_CLASS_NAME(EIdSocketError)

 private:
  int code_;
};

// A numeric reply outside the accepted codes; the HTTP protocol error
// derives from it.
class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(int reply_code, std::string message)
      : EIdException(std::move(message)), reply_code_(reply_code) {}
  int ReplyCode() const { return reply_code_; }
  AH_CLASS_NAME(EIdProtocolReplyError)

 private:
  int reply_code_;
};

// A TLS handshake, certificate check or TLS record that failed, with
// OpenSSL's reason in the message. A protocol reply error because the peer's
// answer is what was refused; ReplyCode is the certificate check's result
// (OpenSSL's X509_V_ERR_* number, 0 when the certificate was not the reason).
AH_EXCEPTION_CLASS(EIdSSLProtocolReplyError, EIdProtocolReplyError)

AH_EXCEPTION_CLASS(EIdTCPConnectionError, EIdException)
AH_EXCEPTION_CLASS(EIdNotConnected, EIdTCPConnectionError)           // "Not Connected"
AH_EXCEPTION_CLASS(EIdNotEnoughDataInBuffer, EIdTCPConnectionError)  // "Not enough data in buffer."
AH_EXCEPTION_CLASS(EIdNoDataToRead, EIdTCPConnectionError)           // "No data to read."
AH_EXCEPTION_CLASS(EIdFileNotFound, EIdTCPConnectionError)           // "File \"%s\" not found"
AH_EXCEPTION_CLASS(EIdIOHandlerPropInvalid, EIdTCPConnectionError)   // "IOHandler value is not valid"
AH_EXCEPTION_CLASS(EIdReadTimeout, EIdException)                     // "Read Timeout"
AH_EXCEPTION_CLASS(EIdReadLnMaxLineLengthExceeded, EIdException)     // "Max line length exceeded."
AH_EXCEPTION_CLASS(EIdAlreadyConnected, EIdException)                // "Already connected."
AH_EXCEPTION_CLASS(EIdClosedSocket, EIdException)                    // "Disconnected."
AH_EXCEPTION_CLASS(EIdConnectTimeout, EIdException)                  // "Connect timed out."
AH_EXCEPTION_CLASS(EIdConnectException, EIdException)
// "Port %d is not a port: ports are 1 to 65535"
AH_EXCEPTION_CLASS(EIdInvalidPort, EIdException)
AH_EXCEPTION_CLASS(EIdSocketHandleError, EIdException)
AH_EXCEPTION_CLASS(EIdCouldNotBindSocket, EIdSocketHandleError)
AH_EXCEPTION_CLASS(EIdInvalidPortRange, EIdSocketHandleError)
AH_EXCEPTION_CLASS(EIdCanNotBindPortInRange, EIdSocketHandleError)
AH_EXCEPTION_CLASS(EIdInvalidSocket, EIdException)                   // "Cannot allocate socket."
AH_EXCEPTION_CLASS(EIdInvalidServiceName, EIdException)              // "%s is not a valid service."
AH_EXCEPTION_CLASS(EIdStackError, EIdException)
AH_EXCEPTION_CLASS(EIdStackInitializationFailed, EIdStackError)
AH_EXCEPTION_CLASS(EIdStackSetSizeExceeded, EIdStackError)           // "Set Size Exceeded."

// SOCKS handshake failures.
AH_EXCEPTION_CLASS(EIdSocksError, EIdException)
AH_EXCEPTION_CLASS(EIdSocksRequestFailed, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksRequestServerFailed, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksRequestIdentFailed, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksUnknownError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksServerRespondError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksAuthMethodError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksAuthError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksServerGeneralError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksServerPermissionError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksServerNetUnreachableError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksServerHostUnreachableError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksServerConnectionRefusedError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksServerTTLExpiredError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksServerCommandError, EIdSocksError)
AH_EXCEPTION_CLASS(EIdSocksServerAddressError, EIdSocksError)

}  // namespace ah
