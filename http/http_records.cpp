#include "http/http_records.h"

#include <algorithm>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"

namespace ah {

TIdHTTPRequest::TIdHTTPRequest(TIdCustomHTTP* owner) : owner_(owner) {}

TIdHTTPResponse::TIdHTTPResponse(TIdCustomHTTP* owner) : owner_(owner) {}

int32_t ParseStatusCode(std::string_view status_line) {
  std::string rest(status_line);
  const size_t space = TextPos(" ", rest);
  rest = space > 0 ? Trim(std::string_view(rest).substr(space)) : std::string();
  const std::string code = TakeToken(rest, " ");
  // Exactly three digits: "+200", "2000" or "20" say nothing a client can act on.
  if (code.size() != 3 || !std::all_of(code.begin(), code.end(), [](char c) {
        return c >= '0' && c <= '9';
      })) {
    return -1;
  }
  return StrToInt(code);
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
