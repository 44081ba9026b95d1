#pragma once
// Failures raised by the HTTP building blocks (addresses, authentication
// schemes, the local zone). The coders raise plain EIdException.

#include <string>

#include "transport/exceptions.h"

namespace ah {

// "Protocol field is empty" / "Host field is empty"
AH_EXCEPTION_CLASS(EIdURIException, EIdException)
// "This authentication method is already registered with class name %s."
AH_EXCEPTION_CLASS(EIdAlreadyRegisteredAuthenticationMethod, EIdException)
// "Failed attempting to retrieve time zone information."
AH_EXCEPTION_CLASS(EIdFailedToRetreiveTimeZoneInfo, EIdException)

// A reply status the client does not accept: the reply code is the status,
// Message() the whole status line, ErrorMessage() the body of the reply.
class EIdHTTPProtocolException : public EIdProtocolReplyError {
 public:
  EIdHTTPProtocolException(int code, std::string status_line, std::string error_body)
      : EIdProtocolReplyError(code, std::move(status_line)),
        error_message_(std::move(error_body)) {}
  const std::string& ErrorMessage() const { return error_message_; }
  AH_CLASS_NAME(EIdHTTPProtocolException)

 private:
  std::string error_message_;
};

// A response that cannot be read soundly: a head past its bound, a length
// or chunk size that does not fit in 64 bits. Its connection is closed.
AH_EXCEPTION_CLASS(EIdHTTPMalformedResponse, EIdException)

// A text result (GetText, PostFormText) that went on past MaxTextBytes: "The
// body is larger than N bytes." Its connection is closed.
AH_EXCEPTION_CLASS(EIdHTTPBodyTooLarge, EIdException)

// A request that cannot go out as it stands: its target, host or a header
// holds a byte that would end or split its line. Raised before anything is
// sent.
AH_EXCEPTION_CLASS(EIdHTTPInvalidRequest, EIdException)

// An address (a redirect's included) whose protocol is neither http nor
// https: "Protocol \"ftp\" is not supported".
AH_EXCEPTION_CLASS(EIdUnknownProtocol, EIdException)

}  // namespace ah
