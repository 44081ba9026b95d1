// The request loop of the HTTP client and the decisions taken on each
// response: redirects, challenges, errors, cookies and keep-alive.

#include <chrono>

#include "framework/sysutils.h"
#include "http/http_client.h"
#include "http/request_writer.h"
#include "http/uri_resolution.h"
#include "transport/ssl_io_handler_socket.h"

namespace ah {
namespace {

// Restores a connection setting when the scope ends, exceptions included.
class ReadTimeoutScope {
 public:
  ReadTimeoutScope(TIdTCPConnection& connection, int timeout)
      : connection_(connection), saved_(connection.ReadTimeout()) {
    connection_.SetReadTimeout(timeout);
  }
  ~ReadTimeoutScope() { connection_.SetReadTimeout(saved_); }

 private:
  TIdTCPConnection& connection_;
  int saved_;
};

// Puts a scratch stream in place of the response's body stream for the
// scope's lifetime.
class BodyStreamScope {
 public:
  explicit BodyStreamScope(TIdHTTPResponse& response)
      : response_(response), saved_(response.BodyStream()) {
    response_.SetBodyStream(&scratch_);
  }
  ~BodyStreamScope() { response_.SetBodyStream(saved_); }
  std::string Text() { return scratch_.TakeDataString(); }

 private:
  TIdHTTPResponse& response_;
  TStream* saved_;
  TStringStream scratch_;
};

}  // namespace

void TIdCustomHTTP::PerformRequest(TIdHTTPMethod method, const std::string& url,
                                   TStream* source, TStream* response_stream) {
  BeginOperation(method, url, source, response_stream);
  try {
    while (!RequestOnce()) {
    }
  } catch (...) {
    try {
      EndOperation();
    } catch (...) {
      // The request's own failure is the one to report.
    }
    throw;
  }
  EndOperation();
}

void TIdCustomHTTP::BeginOperation(TIdHTTPMethod method, const std::string& url,
                                   TStream* source, TStream* response_stream) {
  op_.method = method;
  op_.url = url;
  op_.response_stream = response_stream;
  op_.start = response_stream ? response_stream->Position() : 0;
  op_.auth_attempts = 0;
  op_.proxy_auth_attempts = 0;
  op_.exchange_unfinished = false;
  op_.redirected = false;
  op_.set_cookie = false;
  TIdHTTPRequest& request = exchange_->Request();
  request.SetRequestURL(url);
  request.SetRequestMethod(method);
  request.SetBodySource(source);
  exchange_->Response().SetBodyStream(response_stream);
  op_.credentials.Begin();
  if (transfer_timeout_ > 0) {
    SetReadDeadline(std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(transfer_timeout_));
  }
}

bool TIdCustomHTTP::RequestOnce() {
  TIdHTTPRequest& request = exchange_->Request();
  ++op_.redirect_count;
  op_.credentials.BeforeResolve(request);
  ResolveRequestTarget(request);
  op_.credentials.Enter(request, *target_uri_);
  ExchangeOnce();
  const TIdHTTPNextStep step = EvaluateResponse(*exchange_);
  // The response has been read to its end, or its connection closed.
  op_.exchange_unfinished = false;
  return TakeNextStep(step);
}

void TIdCustomHTTP::ExchangeOnce() {
  for (bool retried = false;; retried = true) {
    bool reading = false;
    op_.reused = false;
    try {
      OpenAndSendRequest(exchange_->Request(), exchange_->Response());
      reading = true;
      ReadResponseHead(*exchange_);
      return;
    } catch (const EIdException& e) {
      if (retried || !WorthAnotherConnection(e, reading)) throw;
      CloseConnection();
      op_.exchange_unfinished = false;
    }
  }
}

bool TIdCustomHTTP::WorthAnotherConnection(const EIdException& e, bool reading) {
  // A kept-alive connection the server dropped just as the request went out
  // says nothing of the request; only one that no byte of a reply came back
  // on, and only for a request that may safely be sent twice.
  const TIdHTTPMethod method = exchange_->Request().RequestMethod();
  return op_.reused && (method == hmGet || method == hmHead) &&
         (!reading || exchange_->Response().StatusLine().empty()) && InputBuffer().Size() == 0 &&
         (dynamic_cast<const EIdConnClosedGracefully*>(&e) ||
          dynamic_cast<const EIdSocketError*>(&e));
}

bool TIdCustomHTTP::TakeNextStep(TIdHTTPNextStep step) {
  switch (step) {
    case nsRepeat:
      if (TStream* stream = op_.response_stream) {
        stream->SetPosition(op_.start);
        stream->SetSize(op_.start);
      }
      return false;
    case nsDone:
      return true;
    case nsUnresolved:
      throw EIdException("Undefined situation");
    case nsRetryAuth:
      --op_.redirect_count;
      // To the address that sent the challenge, which after a redirect is
      // not the caller's.
      exchange_->Request().SetRequestURL(target_uri_->ComposeURI(0));
      return false;
  }
  return true;
}

void TIdCustomHTTP::EndOperation() {
  ClearReadDeadline();
  op_.credentials.End(exchange_->Request());
  // An exchange that failed half-way leaves bytes on the connection that
  // the next request would read as its reply.
  const bool unfinished = op_.exchange_unfinished;
  op_.exchange_unfinished = false;
  op_.redirect_count = 0;
  if (!exchange_->Response().ConnectionReusable() || unfinished) CloseConnection();
}

void TIdCustomHTTP::OpenAndSendRequest(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  CheckRequestFields(request);
  const TIdHTTPRoute route = router_.Select(*target_uri_, *proxy_params_);
  request.SetRoute(route);
  if (route == hrProxy) request.SetRequestURL(WireTarget(target_uri_->GetURI()));
  const bool keep_alive = protocol_version_ == pv1_0 && request.Connection().empty();
  if (route == hrDirect && keep_alive) request.SetConnection("keep-alive");
  if (route == hrProxy && keep_alive) request.SetProxyConnection("keep-alive");
  if (route == hrDirectTLS || route == hrProxyTunnel) request.SetConnection("");
  const int32_t timeout = connect_timeout_ != 0 ? connect_timeout_ : ReadTimeout();
  const bool reusable = response.ConnectionReusable();
  if (route != hrProxyTunnel) {
    op_.reused = !router_.EnsureConnected(reusable, timeout);
  } else if (router_.TunnelStillOpen(reusable)) {
    op_.reused = true;
  } else {
    op_.reused = false;
    TIdHTTPProtocol tunnel(this);
    router_.OpenTunnel(tunnel, request, *target_uri_, *proxy_params_, protocol_version_, timeout,
                       [this](TIdHTTPProtocol& t) { AnswerTunnelReply(t); });
  }
  SendRequest(request);
}

void TIdCustomHTTP::SendRequest(TIdHTTPRequest& request) {
  ComposeRequestHead(request);
  // The proxy's credentials are for the proxy alone.
  if (SentToProxy(request)) proxy_params_->AddProxyAuthorization(request.HeaderLines());
  AddRequestCookies(*target_uri_, request);
  // Whatever went into the lines (a cookie a server set, a scheme's
  // answer) must not break them either.
  CheckHeaderLines(request.HeaderLines());
  op_.exchange_unfinished = true;
  SendRequestHead(*this, request, protocol_version_);
  SendRequestBody(*this, request);
}

void TIdCustomHTTP::ReadResponseHead(TIdHTTPProtocol& exchange) {
  TIdResponseReader(*this).ReadHead(exchange.Response(), [&](TIdHTTPResponse& response) {
    StoreResponseCookies(exchange.Request(), response);
  });
}

bool TIdCustomHTTP::ReadResponseBody(TIdHTTPProtocol& exchange, int64_t limit) {
  return TIdResponseReader(*this).ReadBody(exchange.Response(),
                                           exchange.Request().RequestMethod(), limit);
}

TIdHTTPNextStep TIdCustomHTTP::EvaluateResponse(TIdHTTPProtocol& exchange) {
  TIdHTTPResponse& response = exchange.Response();
  const int code = response.StatusCode();
  const int d = code / 100;
  if ((d == 3 && code != 304) || !response.Location().empty()) return FollowRedirect(exchange);
  if (d != 2) return AnswerChallenge(exchange, code);
  if (!IsConnected()) return nsUnresolved;
  if (!ReadResponseBody(exchange)) CloseConnection();
  return nsDone;
}

TIdHTTPNextStep TIdCustomHTTP::FollowRedirect(TIdHTTPProtocol& exchange) {
  TIdHTTPRequest& request = exchange.Request();
  TIdHTTPResponse& response = exchange.Response();
  std::string location = response.Location();
  TIdHTTPMethod method = RedirectedMethod(response.StatusCode(), request.RequestMethod());
  const bool following = handle_redirects_ && op_.redirect_count < redirect_maximum_;
  if (!AskRedirect(location, method, op_.redirect_count)) RaiseProtocolError(exchange);
  if (following) {
    // A body goes only to the origin it was sent to, a sign-in form's
    // password above all.
    if (SendsBody(method)) {
      TIdURI there;
      ResolveAddress(*target_uri_, location, there);
      if (!SameOrigin(there, *target_uri_)) RaiseProtocolError(exchange);
    }
    request.SetRequestURL(location);
    request.SetRequestMethod(method);
    op_.redirected = true;
  } else {
    response.SetLocation(location);
  }
  if (IsConnected()) DiscardBriefly(exchange);
  return following ? nsRepeat : nsDone;
}

TIdHTTPMethod TIdCustomHTTP::RedirectedMethod(int code, TIdHTTPMethod method) {
  // What browsers do, and what sites built for them expect: a form answered
  // by 301, 302 or 303 leads to a page that is fetched, and 303 always says
  // so; 307 and 308 keep the method.
  if (code == 303 && method != hmHead) return hmGet;
  if ((code == 301 || code == 302) && method == hmPost) return hmGet;
  return method;
}

TIdHTTPNextStep TIdCustomHTTP::AnswerChallenge(TIdHTTPProtocol& exchange, int code) {
  TIdHTTPRequest& request = exchange.Request();
  TIdHTTPResponse& response = exchange.Response();
  if (code == 401) {
    if (op_.auth_attempts >= auth_retries_ || !AnswerServerChallenge(request, response)) {
      if (request.AuthHandler()) request.AuthHandler()->ResetSteps();
      RaiseProtocolError(exchange);
    }
  } else if (code == 407) {
    // Only a proxy may ask for the proxy's credentials; a 407 from the
    // origin server is an error like any other.
    if (!SentToProxy(request) || op_.proxy_auth_attempts >= auth_retries_ ||
        !AnswerProxyChallenge(request, response)) {
      if (proxy_params_->AuthHandler()) proxy_params_->AuthHandler()->ResetSteps();
      RaiseProtocolError(exchange);
    }
  } else {
    RaiseProtocolError(exchange);
  }
  if (!IsConnected()) return nsRepeat;
  if (http_options_ & hoInProcessAuth) {
    DiscardBriefly(exchange);
    return nsRetryAuth;
  }
  if (!ReadResponseBody(exchange)) CloseConnection();
  return nsDone;
}

void TIdCustomHTTP::AnswerTunnelReply(TIdHTTPProtocol& tunnel) {
  TIdHTTPResponse& reply = tunnel.Response();
  if (reply.StatusCode() != 407 || op_.proxy_auth_attempts >= auth_retries_ ||
      !AnswerProxyChallenge(tunnel.Request(), reply)) {
    if (proxy_params_->AuthHandler()) proxy_params_->AuthHandler()->ResetSteps();
    RaiseProtocolError(tunnel);
  }
  // The challenge's body, nobody reads.
  if (IsConnected()) DiscardBriefly(tunnel);
}

bool TIdCustomHTTP::AskRedirect(std::string& url, TIdHTTPMethod& method, int redirect_count) {
  bool handled = handle_redirects_;
  if (on_redirect_) {
    int num_redirect = redirect_count;
    on_redirect_(this, url, num_redirect, handled, method);
  }
  return handled;
}

void TIdCustomHTTP::RaiseProtocolError(TIdHTTPProtocol& exchange) {
  TIdHTTPResponse& response = exchange.Response();
  std::string error_body;
  bool whole;
  {
    ReadTimeoutScope timeout(*this, 2000);
    BodyStreamScope scratch(response);
    whole = ReadResponseBody(exchange, kSideBodyLimit);
    error_body = scratch.Text();
  }
  if (whole) {
    op_.exchange_unfinished = false;
  } else if (IsConnected()) {
    CloseConnection();
  }
  throw EIdHTTPProtocolException(response.StatusCode(), response.StatusLine(),
                                 std::move(error_body));
}

bool TIdCustomHTTP::DiscardResponseBody(TIdHTTPProtocol& exchange) {
  BodyStreamScope scratch(exchange.Response());
  return ReadResponseBody(exchange, kSideBodyLimit);
}

void TIdCustomHTTP::DiscardBriefly(TIdHTTPProtocol& exchange) {
  ReadTimeoutScope timeout(*this, 4000);
  bool whole = false;
  try {
    whole = DiscardResponseBody(exchange);
  } catch (...) {
    // Whatever is left of a body nobody wants is not worth a failure; the
    // connection that still holds it is.
  }
  if (!whole && IsConnected()) CloseConnection();
}

void TIdCustomHTTP::StoreResponseCookies(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  (void)request;
  const TIdHeaderList& headers = response.HeaderLines();
  if (headers.IndexOfHeader("Set-cookie") >= 0 || headers.IndexOfHeader("Set-cookie2") >= 0)
    op_.set_cookie = true;
  if (!cookie_manager_ && allow_cookies_) {
    cookie_manager_ = new TIdCookieManager(this);
    owns_cookie_manager_ = true;
  }
  if (!cookie_manager_) return;
  TStringList cookies;
  TStringList cookies2;
  headers.ExtractValues("Set-cookie", &cookies);
  headers.ExtractValues("Set-cookie2", &cookies2);
  const std::string& host = target_uri_->Host();
  // The jar gives a cookie without a path the directory of this request.
  const std::string& path = target_uri_->Path();
  for (int i = 0; i < cookies.Count(); ++i) cookie_manager_->TakeSetCookie(cookies[i], host, path);
  for (int i = 0; i < cookies2.Count(); ++i) {
    cookie_manager_->TakeSetCookie2(cookies2[i], host, path);
  }
}

void TIdCustomHTTP::AddRequestCookies(TIdURI& uri, TIdHTTPRequest& request) {
  if (!cookie_manager_) return;
  // Secure cookies only over a running TLS session: the TLS handler in
  // pass-through would send them in clear.
  auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler());
  bool secure = tls && tls->TLSActive();
  std::string text = cookie_manager_->BuildCookieHeader(uri, secure);
  // The request's header list never folds, so the line stays whole however
  // many cookies it carries.
  if (!text.empty()) request.HeaderLines().SetHeaderValue("Cookie", text);
}

}  // namespace ah
