// Answers to authorization challenges from the server and from the proxy.

#include "http/http_client.h"

namespace ah {

bool TIdCustomHTTP::RunAuthSteps(TIdAuthentication& handler, std::string& user,
                                 std::string& password, int max_asks,
                                 const std::function<bool()>& ask) {
  // A handler that claims to have answered without giving the scheme what
  // it needs would be asked forever; AuthRetries bounds the asking too.
  for (int asked = 0;;) {
    switch (handler.NextStep()) {
      case StepSendRequest:
        return true;
      case StepFail:
        return false;
      case StepAskCredentials:
        if (asked++ >= max_asks) return false;
        handler.StoreUserName(user);
        handler.StorePassword(password);
        if (!ask()) return false;
        user = handler.CurrentUserName();
        password = handler.CurrentPassword();
        break;
    }
  }
}

namespace {

// The first registered scheme among the challenges, or none.
const TIdAuthenticationClass* FirstRegisteredScheme(TIdHeaderList& challenges) {
  for (int i = 0; i < challenges.Count(); ++i) {
    std::string entry = challenges.Get(i);
    std::string scheme = entry.substr(0, entry.find(' '));
    if (const TIdAuthenticationClass* found = FindAuthScheme(scheme)) return found;
  }
  return nullptr;
}

}  // namespace

bool TIdCustomHTTP::AnswerServerChallenge(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  ++op_.auth_attempts;
  if (!request.AuthHandler()) {
    const TIdAuthenticationClass* scheme = FirstRegisteredScheme(response.WWWAuthenticate());
    if (!scheme) return false;
    if (on_select_authorization_) on_select_authorization_(this, scheme, response.WWWAuthenticate());
    request.SetAuthHandler(scheme->Create());
  }
  if (!on_authorization_) return false;
  TIdAuthentication& handler = *request.AuthHandler();
  handler.StoreUserName(request.Username());
  handler.StorePassword(request.Password());
  handler.CredentialLines().SetHeaderValue("Authorization", handler.AuthorizationText());
  handler.SetChallenges(response.WWWAuthenticate());
  std::string user = request.Username();
  std::string password = request.Password();
  bool answered = RunAuthSteps(handler, user, password, std::max(auth_retries_, 1), [&] {
    bool handled = false;
    on_authorization_(this, &handler, handled);
    if (handled) request.SetBasicAuthentication(true);
    return handled;
  });
  request.SetUsername(user);
  request.SetPassword(password);
  return answered;
}

bool TIdCustomHTTP::AnswerProxyChallenge(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  (void)request;
  ++op_.proxy_auth_attempts;
  TIdProxyConnectionInfo& proxy = *proxy_params_;
  if (!proxy.AuthHandler()) {
    const TIdAuthenticationClass* scheme = FirstRegisteredScheme(response.ProxyAuthenticate());
    if (!scheme) return false;
    if (on_select_proxy_authorization_) {
      on_select_proxy_authorization_(this, scheme, response.ProxyAuthenticate());
    }
    proxy.SetAuthHandler(scheme->Create());
  }
  TIdAuthentication& handler = *proxy.AuthHandler();
  // After a 407 the password has to be supplied again.
  proxy.SetProxyPassword("");
  handler.ResetSteps();
  if (!on_proxy_authorization_) return false;
  handler.StoreUserName(proxy.ProxyUsername());
  handler.StorePassword(proxy.ProxyPassword());
  handler.SetChallenges(response.ProxyAuthenticate());
  std::string user = proxy.ProxyUsername();
  std::string password = proxy.ProxyPassword();
  bool answered = RunAuthSteps(handler, user, password, std::max(auth_retries_, 1), [&] {
    bool handled = false;
    on_proxy_authorization_(this, &handler, handled);
    return handled;
  });
  proxy.SetProxyUsername(user);
  proxy.SetProxyPassword(password);
  return answered;
}

void TIdCustomHTTP::NotifyDisconnected() {
  TIdTCPClient::NotifyDisconnected();
  if (!exchange_) return;
  TIdHTTPRequest& request = exchange_->Request();
  if (TIdAuthentication* handler = request.AuthHandler()) {
    if (handler->StepCount() == handler->StepIndex()) request.SetAuthHandler(nullptr);
  }
  if (proxy_params_ && proxy_params_->AuthHandler()) proxy_params_->AuthHandler()->ResetSteps();
}

}  // namespace ah
