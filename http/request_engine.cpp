// The request loop of the HTTP client and the decisions taken on each
// response: redirects, challenges, errors, cookies and keep-alive.

#include <chrono>

#include "framework/sysutils.h"
#include "http/http_client.h"
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
  TIdHTTPRequest& request = exchange_->Request();
  TIdHTTPResponse& response = exchange_->Response();
  int64_t start = response_stream ? response_stream->Position() : 0;
  // The attempt counters run for the whole operation: a wrong password
  // behind a redirect must not start afresh with every redirect.
  auth_attempts_ = 0;
  proxy_auth_attempts_ = 0;
  last_redirected_ = false;
  last_set_cookie_ = false;
  request.SetRequestURL(url);
  request.SetRequestMethod(method);
  request.SetBodySource(source);
  response.SetBodyStream(response_stream);
  credential_scope_.Begin();
  if (transfer_timeout_ > 0) {
    SetReadDeadline(std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(transfer_timeout_));
  }
  auto finish = [&] {
    ClearReadDeadline();
    credential_scope_.End(request);
    // An exchange that failed half-way leaves bytes on the connection that
    // the next request would read as its reply.
    bool unfinished = exchange_unfinished_;
    exchange_unfinished_ = false;
    if (!response.ConnectionReusable() || unfinished) CloseConnection();
    redirect_count_ = 0;
  };
  try {
    for (bool done = false; !done;) {
      ++redirect_count_;
      credential_scope_.BeforeResolve(request);
      ResolveRequestTarget(request);
      credential_scope_.Enter(request, *target_uri_);
      OpenAndSendRequest(request, response);
      ReadResponseHead(*exchange_);
      TIdHTTPNextStep step = EvaluateResponse(*exchange_);
      // The response has been read to its end, or its connection closed.
      exchange_unfinished_ = false;
      switch (step) {
        case nsRepeat:
          if (response_stream) {
            response_stream->SetPosition(start);
            response_stream->SetSize(start);
          }
          break;
        case nsDone:
          done = true;
          break;
        case nsUnresolved:
          throw EIdException("Undefined situation");
        case nsRetryAuth:
          --redirect_count_;
          // To the address that sent the challenge, which after a redirect
          // is not the caller's.
          request.SetRequestURL(target_uri_->ComposeURI(0));
          break;
      }
    }
  } catch (...) {
    try {
      finish();
    } catch (...) {
      // The request's own failure is the one to report.
    }
    throw;
  }
  finish();
}

TIdHTTPNextStep TIdCustomHTTP::EvaluateResponse(TIdHTTPProtocol& exchange) {
  TIdHTTPRequest& request = exchange.Request();
  TIdHTTPResponse& response = exchange.Response();
  int code = response.StatusCode();
  int d = code / 100;
  if ((d == 3 && code != 304) || !response.Location().empty()) {
    std::string location = response.Location();
    TIdHTTPMethod method = request.RequestMethod();
    TIdHTTPNextStep result;
    if (handle_redirects_ && redirect_count_ < redirect_maximum_) {
      if (!AskRedirect(location, method, redirect_count_)) RaiseProtocolError(exchange);
      request.SetRequestURL(location);
      request.SetRequestMethod(method);
      last_redirected_ = true;
      result = nsRepeat;
    } else {
      if (!AskRedirect(location, method, redirect_count_)) RaiseProtocolError(exchange);
      response.SetLocation(location);
      result = nsDone;
    }
    if (IsConnected()) DiscardBriefly(exchange);
    return result;
  }
  TIdHTTPNextStep result = nsUnresolved;
  bool in_process = false;
  if (d != 2) {
    result = nsRepeat;
    if (code == 401) {
      if (auth_attempts_ >= auth_retries_ || !AnswerServerChallenge(request, response)) {
        if (request.AuthHandler()) request.AuthHandler()->ResetSteps();
        RaiseProtocolError(exchange);
      }
      in_process = (http_options_ & hoInProcessAuth) != 0;
    } else if (code == 407) {
      // Only a proxy may ask for the proxy's credentials; a 407 from the
      // origin server is an error like any other.
      if (!SentToProxy(request) || proxy_auth_attempts_ >= auth_retries_ ||
          !AnswerProxyChallenge(request, response)) {
        if (proxy_params_->AuthHandler()) proxy_params_->AuthHandler()->ResetSteps();
        RaiseProtocolError(exchange);
      }
      in_process = (http_options_ & hoInProcessAuth) != 0;
    } else {
      RaiseProtocolError(exchange);
    }
  }
  if (IsConnected()) {
    if (in_process) {
      DiscardBriefly(exchange);
      result = nsRetryAuth;
    } else {
      // A challenge to the tunnel's CONNECT has a body nobody reads.
      bool tunnel = &exchange != exchange_.get();
      if (!ReadResponseBody(exchange, tunnel ? kSideBodyLimit : -1)) CloseConnection();
      result = nsDone;
    }
  }
  return result;
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
    exchange_unfinished_ = false;
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
    last_set_cookie_ = true;
  if (!cookie_manager_ && allow_cookies_) {
    cookie_manager_ = new TIdCookieManager(this);
    owns_cookie_manager_ = true;
  }
  if (!cookie_manager_) return;
  TStringList cookies;
  TStringList cookies2;
  response.HeaderLines().ExtractValues("Set-cookie", &cookies);
  response.HeaderLines().ExtractValues("Set-cookie2", &cookies2);
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
