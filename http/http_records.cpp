#include "http/http_records.h"

#include "framework/sysutils.h"
#include "framework/text_tokens.h"

namespace ah {

TIdHTTPRequest::TIdHTTPRequest(TIdCustomHTTP* owner) : owner_(owner) {}

TIdHTTPResponse::TIdHTTPResponse(TIdCustomHTTP* owner) : owner_(owner) {}

int32_t ParseStatusCode(std::string_view status_line) {
  std::string rest(status_line);
  const size_t space = TextPos(" ", rest);
  rest = space > 0 ? Trim(std::string_view(rest).substr(space)) : std::string();
  return StrToIntDef(TakeToken(rest, " "), -1);
}

int32_t TIdHTTPResponse::StatusCode() {
  status_code_ = ParseStatusCode(status_line_);
  return status_code_;
}

bool TIdHTTPResponse::ConnectionReusable() {
  connection_reusable_ = reusable_hook_ ? reusable_hook_(*this) : false;
  return connection_reusable_;
}

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP* owner)
    : owner_(owner),
      request_(std::make_unique<TIdHTTPRequest>(owner)),
      response_(std::make_unique<TIdHTTPResponse>(owner)) {}

}  // namespace ah
