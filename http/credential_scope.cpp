#include "http/credential_scope.h"

#include "framework/sysutils.h"

namespace ah {

std::string TIdCredentialScope::AddressOf(const TIdURI& target) {
  // The scheme too: credentials given for https must not follow a redirect
  // to clear text on the same host and port.
  return LowerCase(target.Protocol()) + "://" + LowerCase(target.Host()) + ":" +
         IntToStr(StrToIntDef(target.Port(), 0));
}

void TIdCredentialScope::Begin() {
  started_ = false;
  away_ = false;
  foreign_.clear();
  kept_ = Credentials();
}

void TIdCredentialScope::BeforeResolve(const TIdHTTPRequest& request) {
  before_.username = request.Username();
  before_.password = request.Password();
  before_.basic = request.BasicAuthentication();
}

void TIdCredentialScope::Enter(TIdHTTPRequest& request, TIdURI& target) {
  const std::string address = AddressOf(target);
  if (!started_) {
    started_ = true;
    origin_ = address;
  } else if (address == origin_) {
    if (away_) Restore(request);
  } else if (address != foreign_) {
    if (!away_) {
      // What the caller gave, not what the redirect's own URL may carry.
      kept_.username = std::move(before_.username);
      kept_.password = std::move(before_.password);
      kept_.basic = before_.basic;
      kept_.handler = request.ReleaseAuthHandler();
      away_ = true;
    }
    // A server seen only on the way gets nothing, not even what another
    // foreign server was answered with.
    request.SetUsername("");
    request.SetPassword("");
    request.SetBasicAuthentication(false);
    request.SetAuthHandler(nullptr);
    foreign_ = address;
  }
  target.SetUsername(request.Username());
  target.SetPassword(request.Password());
}

void TIdCredentialScope::End(TIdHTTPRequest& request) {
  if (away_) Restore(request);
  started_ = false;
}

void TIdCredentialScope::Restore(TIdHTTPRequest& request) {
  request.SetUsername(std::move(kept_.username));
  request.SetPassword(std::move(kept_.password));
  request.SetBasicAuthentication(kept_.basic);
  request.SetAuthHandler(std::move(kept_.handler));
  kept_ = Credentials();
  away_ = false;
  foreign_.clear();
}

}  // namespace ah
