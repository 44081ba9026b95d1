#pragma once
// The HTTP client component: TIdCustomHTTP holds all settings, state and the
// request engine; TIdHTTP is the published face that the harvest run and
// the window use.
//
// Ownership: the client owns TargetURI, the exchange object (with its request
// and response records) and the proxy settings. A cookie jar the client
// creates for itself at its first response is a child component of the
// client and goes with it; a jar assigned through SetCookieManager is only
// referenced and forgotten when it is destroyed. Streams handed to the
// request operations stay the caller's.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/streams.h"
#include "framework/strings.h"
#include "http/authentication.h"
#include "http/cookie_jar.h"
#include "http/exceptions.h"
#include "http/header_info.h"
#include "http/http_records.h"
#include "http/header_list.h"
#include "http/http_client_interface.h"
#include "http/request_operation.h"
#include "http/response_reader.h"
#include "http/route.h"
#include "http/uri.h"
#include "transport/tcp_client.h"

namespace ah {

// Stored as a bit set: hoInProcessAuth 1, hoKeepOrigProtocol 2,
// hoForceEncodeParams 4.
enum TIdHTTPOption : unsigned {
  hoInProcessAuth = 1u << 0,
  hoKeepOrigProtocol = 1u << 1,
  hoForceEncodeParams = 1u << 2,
};
using TIdHTTPOptions = unsigned;

// What the evaluation of one response asks the request loop to do next.
enum TIdHTTPNextStep { nsRepeat, nsDone, nsUnresolved, nsRetryAuth };

class TIdCustomHTTP;

using TIdHTTPOnRedirectEvent = std::function<void(TIdCustomHTTP* Sender, std::string& dest,
                                                  int& NumRedirect, bool& Handled,
                                                  TIdHTTPMethod& VMethod)>;
using TIdOnSelectAuthorization = std::function<void(
    TIdCustomHTTP* Sender, const TIdAuthenticationClass*& AuthenticationClass,
    TIdHeaderList& AuthInfo)>;
using TIdOnAuthorization =
    std::function<void(TIdCustomHTTP* Sender, TIdAuthentication* Authentication, bool& Handled)>;

class TIdCustomHTTP : public TIdTCPClient {
 public:
  // The most of an error, redirect or challenge body that is read; a longer
  // one costs its connection instead of unbounded memory and time.
  static constexpr int64_t kSideBodyLimit = 64 * 1024;
  // The most a response head may take, interim heads and line ends included.
  static constexpr int64_t kMaxResponseHead = TIdResponseReader::kMaxResponseHead;

  AH_CLASS_NAME(TIdCustomHTTP)
  explicit TIdCustomHTTP(TComponent* owner);
  ~TIdCustomHTTP() override;

  // Request operations. A failure reaches the caller as EIdHTTPProtocolException
  // for a refused status, or as the transport's exception.
  void GetToStream(const std::string& url, TStream* stream);
  // text receives the body bytes; on failure, the bytes received so far, or
  // text is left as it was when none arrived.
  void GetText(const std::string& url, std::string& text);
  // Every post starts on a new connection and goes out as HTTP/1.0 unless
  // hoKeepOrigProtocol is set.
  void PostStream(const std::string& url, TStream* source, TStream* response);
  // lines are name=value lines; with hoForceEncodeParams their values are
  // encoded in place.
  void PostFormToStream(const std::string& url, TStrings* lines, TStream* response);
  // text receives the body bytes received, also on failure (empty when none).
  void PostFormText(const std::string& url, TStrings* lines, std::string& text);

  std::string BuildFormBody(TStrings* lines);
  void EncodeFormLines(TStrings& lines);

  // The request engine behind every operation; source is the body of a POST
  // or PUT, response receives the body from its current position on.
  virtual void PerformRequest(TIdHTTPMethod method, const std::string& url, TStream* source,
                              TStream* response);
  virtual bool AskRedirect(std::string& url, TIdHTTPMethod& method, int redirect_count);
  virtual bool AnswerServerChallenge(TIdHTTPRequest& request, TIdHTTPResponse& response);
  virtual bool AnswerProxyChallenge(TIdHTTPRequest& request, TIdHTTPResponse& response);

  // Settings.
  int AuthRetries() const { return auth_retries_; }
  void SetAuthRetries(int value) { auth_retries_ = value; }
  bool AllowCookies() const { return allow_cookies_; }
  void SetAllowCookies(bool value) { allow_cookies_ = value; }
  bool HandleRedirects() const { return handle_redirects_; }
  void SetHandleRedirects(bool value) { handle_redirects_ = value; }
  TIdHTTPProtocolVersion ProtocolVersion() const { return protocol_version_; }
  void SetProtocolVersion(TIdHTTPProtocolVersion value) { protocol_version_ = value; }
  // Milliseconds a connect may take; 0: as long as ReadTimeout allows.
  int32_t ConnectTimeout() const { return connect_timeout_; }
  void SetConnectTimeout(int32_t value) { connect_timeout_ = value; }
  // The most bytes GetText and PostFormText take before they end with
  // EIdHTTPBodyTooLarge (the text then holds that many); 0: no limit.
  int64_t MaxTextBytes() const { return max_text_bytes_; }
  void SetMaxTextBytes(int64_t value) { max_text_bytes_ = value; }
  // Milliseconds that all the reading of one operation may take, redirects
  // and challenges included, however steadily the bytes trickle in; 0 sets
  // no limit. Past it a read raises EIdReadTimeout.
  int32_t TransferTimeout() const { return transfer_timeout_; }
  void SetTransferTimeout(int32_t value) { transfer_timeout_ = value; }
  int RedirectMaximum() const { return redirect_maximum_; }
  void SetRedirectMaximum(int value) { redirect_maximum_ = value; }
  TIdProxyConnectionInfo& ProxyParams() { return *proxy_params_; }
  void SetProxyParams(const TIdProxyConnectionInfo& value) { proxy_params_->Assign(value); }
  TIdHTTPRequest& Request() { return exchange_->Request(); }
  // Copies the given record into the client's own.
  void SetRequest(const TIdHTTPRequest& value) { exchange_->Request().Assign(value); }
  TIdHTTPResponse& Response() { return exchange_->Response(); }
  const std::string& ResponseText() { return exchange_->Response().StatusLine(); }
  int ResponseCode() { return exchange_->Response().StatusCode(); }
  TIdHTTPOptions HTTPOptions() const { return http_options_; }
  void SetHTTPOptions(TIdHTTPOptions value) { http_options_ = value; }
  // Also write the host and port of TargetURI.
  void SetHost(const std::string& value) override;
  void SetPort(int value) override;
  TIdCookieManager* CookieManager() const { return cookie_manager_; }
  // Frees a jar the client created, references the new one.
  void SetCookieManager(TIdCookieManager* value);
  bool OwnsCookieManager() const { return owns_cookie_manager_; }

  const TIdHTTPOnRedirectEvent& OnRedirect() const { return on_redirect_; }
  void SetOnRedirect(TIdHTTPOnRedirectEvent handler) { on_redirect_ = std::move(handler); }
  const TIdOnSelectAuthorization& OnSelectAuthorization() const {
    return on_select_authorization_;
  }
  void SetOnSelectAuthorization(TIdOnSelectAuthorization handler) {
    on_select_authorization_ = std::move(handler);
  }
  const TIdOnSelectAuthorization& OnSelectProxyAuthorization() const {
    return on_select_proxy_authorization_;
  }
  void SetOnSelectProxyAuthorization(TIdOnSelectAuthorization handler) {
    on_select_proxy_authorization_ = std::move(handler);
  }
  const TIdOnAuthorization& OnAuthorization() const { return on_authorization_; }
  void SetOnAuthorization(TIdOnAuthorization handler) { on_authorization_ = std::move(handler); }
  const TIdOnAuthorization& OnProxyAuthorization() const { return on_proxy_authorization_; }
  void SetOnProxyAuthorization(TIdOnAuthorization handler) {
    on_proxy_authorization_ = std::move(handler);
  }

  // State of the current or last request.
  TIdURI& TargetURI() { return *target_uri_; }
  TIdHTTPProtocol& Exchange() { return *exchange_; }
  int RedirectCount() const { return op_.redirect_count; }
  int AuthAttempts() const { return op_.auth_attempts; }
  int ProxyAuthAttempts() const { return op_.proxy_auth_attempts; }
  // Whether the last request followed a redirect, and whether any of its
  // replies carried a cookie.
  bool LastRequestRedirected() const { return op_.redirected; }
  bool LastRequestSetCookie() const { return op_.set_cookie; }


 protected:
  void Notification(TComponent* component, TOperation operation) override;
  // Drops an authorization handler that has gone through all its steps.
  void NotifyDisconnected() override;

  // The steps of one request, in the order the loop calls them.
  void ResolveRequestTarget(TIdHTTPRequest& request);
  void OpenAndSendRequest(TIdHTTPRequest& request, TIdHTTPResponse& response);
  void ReadResponseHead(TIdHTTPProtocol& exchange);
  TIdHTTPNextStep EvaluateResponse(TIdHTTPProtocol& exchange);
  // Reads the body by its framing into the response's stream (see
  // TIdResponseReader::ReadBody); false when it was not read to its end.
  bool ReadResponseBody(TIdHTTPProtocol& exchange, int64_t limit = -1);
  // The error body is read up to kSideBodyLimit; the connection is closed
  // when it went on past that.
  [[noreturn]] void RaiseProtocolError(TIdHTTPProtocol& exchange);
  // Reads a body nobody wants, up to kSideBodyLimit; false when it went on.
  bool DiscardResponseBody(TIdHTTPProtocol& exchange);
  void StoreResponseCookies(TIdHTTPRequest& request, TIdHTTPResponse& response);
  void AddRequestCookies(TIdURI& uri, TIdHTTPRequest& request);

 private:
  // The request loop: one pass sends one request and judges its reply.
  void BeginOperation(TIdHTTPMethod method, const std::string& url, TStream* source,
                      TStream* response);
  // True when the operation is done.
  bool RequestOnce();
  bool TakeNextStep(TIdHTTPNextStep step);
  void EndOperation();
  void SendRequest(TIdHTTPRequest& request);
  // The user information of a request's address, percent-decoded, becomes
  // the request's Basic credentials for that origin.
  void TakeAddressCredentials(TIdHTTPRequest& request, const std::string& user_info,
                              const std::string& origin);
  // Sends the request and reads its head; once more on a new connection
  // when a reused one fails before a byte of the reply arrived.
  void ExchangeOnce();
  bool WorthAnotherConnection(const EIdException& e, bool reading);
  TIdHTTPNextStep FollowRedirect(TIdHTTPProtocol& exchange);
  static TIdHTTPMethod RedirectedMethod(int code, TIdHTTPMethod method);
  TIdHTTPNextStep AnswerChallenge(TIdHTTPProtocol& exchange, int code);
  // A reply to CONNECT that is neither 200 nor another 2xx.
  void AnswerTunnelReply(TIdHTTPProtocol& tunnel);
  // Discards the body with a 4 s read limit; a failure while discarding is
  // of no interest to anyone, but closes the connection, as does a body that
  // goes on past kSideBodyLimit.
  void DiscardBriefly(TIdHTTPProtocol& exchange);
  // The request goes to the HTTP proxy itself: a CONNECT, or a request on
  // the plain proxy route. Inside a tunnel the origin server reads it.
  static bool SentToProxy(const TIdHTTPRequest& request) {
    return request.RequestMethod() == hmConnect || request.Route() == hrProxy;
  }
  static bool RunAuthSteps(TIdAuthentication& handler, std::string& user, std::string& password,
                           int max_asks, const std::function<bool()>& ask);

  std::unique_ptr<TIdURI> target_uri_;
  std::unique_ptr<TIdHTTPProtocol> exchange_;
  std::unique_ptr<TIdProxyConnectionInfo> proxy_params_;
  TIdHTTPRouter router_;
  TIdHTTPOperation op_;
  // The origin whose address gave the request record's credentials; empty
  // when they came from elsewhere.
  std::string address_credentials_origin_;
  TIdCookieManager* cookie_manager_ = nullptr;
  bool owns_cookie_manager_ = false;

  TIdHTTPOnRedirectEvent on_redirect_;
  TIdOnSelectAuthorization on_select_authorization_;
  TIdOnSelectAuthorization on_select_proxy_authorization_;
  TIdOnAuthorization on_authorization_;
  TIdOnAuthorization on_proxy_authorization_;

  int auth_retries_ = 3;
  bool allow_cookies_ = true;
  bool handle_redirects_ = false;
  TIdHTTPProtocolVersion protocol_version_ = pv1_1;
  int redirect_maximum_ = 15;
  int32_t connect_timeout_ = 0;
  TIdHTTPOptions http_options_ = hoForceEncodeParams;
  int64_t max_text_bytes_ = 0;
  int32_t transfer_timeout_ = 0;
};

// The published component; also the client the harvest run is written
// against.
class TIdHTTP : public TIdCustomHTTP, public IHTTPClient {
 public:
  AH_CLASS_NAME(TIdHTTP)
  explicit TIdHTTP(TComponent* owner) : TIdCustomHTTP(owner) {}

  using TIdCustomHTTP::PostFormText;
  void GetText(const std::string& address, std::string& text) override {
    TIdCustomHTTP::GetText(address, text);
  }
  void PostFormText(const std::string& address, TStrings& lines, std::string& text) override {
    TIdCustomHTTP::PostFormText(address, &lines, text);
  }
  bool HandleRedirects() const override { return TIdCustomHTTP::HandleRedirects(); }
  void SetHandleRedirects(bool value) override { TIdCustomHTTP::SetHandleRedirects(value); }
  void SetRequestUserAgent(const std::string& value) override { Request().SetUserAgent(value); }
  ReplyFacts LastReplyFacts() override;
  void SetMaxTextBytes(int64_t limit) override { TIdCustomHTTP::SetMaxTextBytes(limit); }
  void SetTransferTimeout(int ms) override { TIdCustomHTTP::SetTransferTimeout(ms); }
  // Through OnWorkBegin and OnWork, which it takes for itself.
  void SetOnReceived(std::function<void(int64_t bytes)> told, int32_t most_per_read = 0) override;
  void SetTimeouts(int connect_ms, int read_ms) override {
    SetConnectTimeout(connect_ms);
    SetReadTimeout(read_ms);
  }
  void SetProxy(const std::string& host, int port) override;
  void DropConnection() override {
    if (IsConnected()) CloseConnection();
  }
  void ShareCookiesOf(IHTTPClient& holder) override;
};

}  // namespace ah
