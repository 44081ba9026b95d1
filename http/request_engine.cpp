// The request engine of the HTTP client: composition, the exchange on the
// wire, and the decisions taken on each response.

#include <algorithm>
#include <string_view>

#include "framework/sysutils.h"
#include "http/http_client.h"
#include "http/protocol_utils.h"
#include "transport/ssl_io_handler_socket.h"

namespace ah {
namespace {

const char* MethodWord(TIdHTTPMethod method) {
  switch (method) {
    case hmHead: return "HEAD ";
    case hmGet: return "GET ";
    case hmPost: return "POST ";
    case hmOptions: return "OPTIONS ";
    case hmTrace: return "TRACE ";
    case hmPut: return "PUT ";
    case hmDelete: return "DELETE ";
    case hmConnect: return "CONNECT ";
  }
  return "GET ";
}

const char* VersionText(TIdHTTPProtocolVersion version) {
  return version == pv1_0 ? "1.0" : "1.1";
}

bool SendsBody(TIdHTTPMethod method) { return method == hmPost || method == hmPut; }

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

void TIdCustomHTTP::ResolveRequestTarget(TIdHTTPRequest& request) {
  TIdURI& target = *target_uri_;
  TIdURI u(request.RequestURL());
  if (!u.Username().empty()) {
    request.SetUsername(u.Username());
    request.SetPassword(u.Password());
  }
  target.SetUsername(request.Username());
  target.SetPassword(request.Password());
  target.SetPath(MergeRelativePath(target.Path(), u.Path(), "/"));
  target.SetDocument(u.Document());
  target.SetParams(u.Params());
  if (!u.Host().empty()) target.SetHost(u.Host());
  target.SetProtocol(u.Protocol().empty() ? std::string("http") : u.Protocol());
  if (!u.Port().empty()) {
    target.SetPort(u.Port());
  } else {
    int previous = StrToIntDef(target.Port(), 0);
    if (previous == 0 || previous == 80 || previous == 443) {
      if (SameText(target.Protocol(), "http")) {
        target.SetPort("80");
      } else if (SameText(target.Protocol(), "https")) {
        target.SetPort("443");
      } else {
        throw EIdUnknownProtocol("");
      }
    }
  }
  request.SetRequestURL(target.Path() + target.Document() + target.Params());
  TIdHTTPMethod method = request.RequestMethod();
  if (method == hmOptions && u.Document() == "*") request.SetRequestURL("*");
  if ((method == hmOptions || method == hmTrace || method == hmPut || method == hmDelete) &&
      protocol_version_ != pv1_1) {
    throw EIdException("This request method is supported in HTTP 1.1");
  }
  if (SendsBody(method)) {
    TStream* source = request.BodySource();
    request.SetContentLength(source ? int32_t(source->Size()) : 0);
  } else {
    request.SetContentLength(-1);
  }
  request.SetHost(target.Port() == "80" ? target.Host() : target.Host() + ":" + target.Port());
}

TIdHTTPRoute TIdCustomHTTP::SelectRoute() {
  TIdURI& target = *target_uri_;
  TIdProxyConnectionInfo& proxy = *proxy_params_;
  auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler());
  bool https = SameText(target.Protocol(), "HTTPS");
  if (proxy.ProxyServer().empty()) {
    int port = StrToInt(target.Port());
    if (!SameText(Host(), target.Host()) || port != Port()) {
      if (IsConnected()) CloseConnection();
      SetHost(target.Host());
      SetPort(port);
    }
    if (https) {
      if (!tls) throw EIdIOHandlerPropInvalid("IOHandler value is not valid");
      tls->SetPassThrough(false);
      return hrDirectTLS;
    }
    if (tls) tls->SetPassThrough(true);
    return hrDirect;
  }
  if (!SameText(Host(), proxy.ProxyServer()) || proxy.ProxyPort() != Port()) {
    if (IsConnected()) CloseConnection();
  }
  // The connection goes to the proxy; TargetURI keeps naming the origin.
  TIdTCPClient::SetHost(proxy.ProxyServer());
  TIdTCPClient::SetPort(proxy.ProxyPort());
  if (https) {
    if (!tls) throw EIdIOHandlerPropInvalid("IOHandler value is not valid");
    tls->SetPassThrough(true);
    return hrProxyTunnel;
  }
  if (tls) tls->SetPassThrough(true);
  return hrProxy;
}

void TIdCustomHTTP::OpenAndSendRequest(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  TIdHTTPRoute route = SelectRoute();
  request.SetRoute(route);
  if (route == hrProxy) request.SetRequestURL(target_uri_->GetURI());
  switch (route) {
    case hrDirect:
      if (protocol_version_ == pv1_0 && request.Connection().empty()) {
        request.SetConnection("keep-alive");
      }
      break;
    case hrProxy:
      if (protocol_version_ == pv1_0 && request.Connection().empty()) {
        request.SetProxyConnection("keep-alive");
      }
      break;
    case hrDirectTLS:
    case hrProxyTunnel:
      request.SetConnection("");
      break;
  }
  if (route == hrProxyTunnel) {
    OpenTunnel(request);
  } else {
    EnsureConnected(response);
  }
  SendRequestHead(*exchange_, target_uri_.get());
  TStream* source = request.BodySource();
  if (SendsBody(request.RequestMethod()) && source) SendStream(*source);
}

void TIdCustomHTTP::OpenTunnel(TIdHTTPRequest& request) {
  TIdHTTPProtocol tunnel(this);
  AdoptExchange(tunnel);
  TIdHTTPRequest& connect = tunnel.Request();
  TIdHTTPResponse& reply = tunnel.Response();
  connect.SetUserAgent(request.UserAgent());
  connect.SetHost(request.Host());
  connect.SetContentLength(request.ContentLength());
  connect.SetPragma("no-cache");
  connect.SetRequestURL(target_uri_->Host() + ":" + target_uri_->Port());
  connect.SetRequestMethod(hmConnect);
  connect.SetProxyConnection("keep-alive");
  TMemoryStream body;
  reply.SetBodyStream(&body);
  // Only an answered challenge sends the CONNECT again, and the attempt
  // counters bound those; any other reply that is not 200 ends the attempt.
  for (;;) {
    EnsureConnected(reply);
    SendRequestHead(tunnel, nullptr);
    reply.SetStatusLine(ReceiveLine());
    if (!reply.StatusLine().empty()) {
      ReadResponseHeaders(tunnel);
      StoreResponseCookies(connect, reply);
    } else {
      reply.SetStatusLine("HTTP/1.0 200 OK");
      reply.SetConnection("close");
    }
    int code = reply.StatusCode();
    if (code == 200) {
      if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler())) {
        // The certificate to check is the origin's, not the proxy's.
        tls->SetServerName(target_uri_->Host());
        tls->SetPassThrough(false);
      }
      return;
    }
    if (code / 100 == 2) {
      // A tunnel that is neither open nor refused cannot carry the request.
      CloseConnection();
      throw EIdHTTPProtocolException(code, reply.StatusLine(), "");
    }
    // A refused status raises from here; an answered challenge goes round.
    EvaluateResponse(tunnel);
    if (code != 401 && code != 407) {
      CloseConnection();
      throw EIdHTTPProtocolException(code, reply.StatusLine(), "");
    }
  }
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPResponse& response) {
  if (!response.ConnectionReusable()) CloseConnection();
  PollPeerClose(false);
  if (!IsConnected()) OpenConnection(ReadTimeout());
}

void TIdCustomHTTP::SendRequestHead(TIdHTTPProtocol& exchange, TIdURI* uri) {
  TIdHTTPRequest& request = exchange.Request();
  request.ComposeHeaderLines();
  proxy_params_->AddProxyAuthorization(request.HeaderLines());
  if (uri) AddRequestCookies(*uri, request);
  BeginSendBuffering(-1);
  try {
    SendLine(std::string(MethodWord(request.RequestMethod())) + request.RequestURL() +
             " HTTP/" + VersionText(protocol_version_));
    TIdHeaderList& lines = request.HeaderLines();
    for (int i = 0; i < lines.Count(); ++i) {
      const std::string line = lines.Get(i);
      if (!line.empty()) SendLine(line);
    }
    SendLine("");
  } catch (...) {
    ClearSendBuffer();
    EndSendBuffering();
    throw;
  }
  EndSendBuffering();
}

void TIdCustomHTTP::ReadResponseHead(TIdHTTPProtocol& exchange) {
  TIdHTTPResponse& response = exchange.Response();
  do {
    response.SetStatusLine(ReceiveLine());
    ReadResponseHeaders(exchange);
    StoreResponseCookies(exchange.Request(), response);
  } while (response.StatusCode() == 100);
}

void TIdCustomHTTP::ReadResponseHeaders(TIdHTTPProtocol& exchange) {
  TIdHTTPResponse& response = exchange.Response();
  TIdHeaderList& lines = response.HeaderLines();
  lines.Clear();
  try {
    for (;;) {
      std::string line = ReceiveLine();
      if (line.empty()) break;
      lines.Add(line);
    }
  } catch (EIdConnClosedGracefully&) {
    CloseConnection();
  }
  response.ParseHeaderLines();
}

void TIdCustomHTTP::ReadResponseBody(TIdHTTPResponse& response) {
  TStream* body = response.BodyStream();
  if (!body) return;
  if (response.ContentLength() > 0) {
    try {
      ReceiveToStream(*body, response.ContentLength(), false);
    } catch (EIdConnClosedGracefully&) {
      // A short body is kept as far as it came.
    }
    return;
  }
  if (response.HeaderLines().HeaderValue("Transfer-Encoding").find("chunked") !=
      std::string::npos) {
    ReportStatus(hsStatusText, "Chunk Started");
    for (int size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
      ReceiveToStream(*body, size, false);
      ReceiveLine();
    }
    ReceiveLine();
    return;
  }
  if (!response.LengthKnown()) ReceiveToStream(*body, -1, true);
}

int TIdCustomHTTP::ReadChunkSize() {
  std::string line = ReceiveLine();
  // A chunk extension may follow the size with or without a space before
  // its ";"; either way the size ends there.
  size_t end = line.find_first_of(" ;");
  if (end != std::string::npos) line.resize(end);
  return StrToIntDef("$" + line, 0);
}

void TIdCustomHTTP::AdoptExchange(TIdHTTPProtocol& exchange) {
  exchange.Response().SetReusableHook(
      [this](TIdHTTPResponse& response) { return ReusableFor(response); });
}

bool TIdCustomHTTP::ReusableFor(TIdHTTPResponse& response) {
  CheckDisconnected(false, false);
  bool reusable = IsConnected();
  if (reusable) {
    std::string connection = Trim(response.Connection());
    std::string proxy_connection = Trim(response.ProxyConnection());
    if (protocol_version_ == pv1_0) {
      reusable = SameText(connection, "KEEP-ALIVE") || SameText(proxy_connection, "KEEP-ALIVE");
    } else {
      reusable = !SameText(connection, "CLOSE") && !SameText(proxy_connection, "CLOSE");
    }
  }
  return reusable;
}

void TIdCustomHTTP::PerformRequest(TIdHTTPMethod method, const std::string& url,
                                   TStream* source, TStream* response_stream) {
  TIdHTTPRequest& request = exchange_->Request();
  TIdHTTPResponse& response = exchange_->Response();
  int64_t start = response_stream ? response_stream->Position() : 0;
  auth_attempts_ = 0;
  proxy_auth_attempts_ = 0;
  request.SetRequestURL(url);
  request.SetRequestMethod(method);
  request.SetBodySource(source);
  response.SetBodyStream(response_stream);
  auto finish = [&] {
    if (!response.ConnectionReusable()) CloseConnection();
    redirect_count_ = 0;
  };
  try {
    for (bool done = false; !done;) {
      ++redirect_count_;
      ResolveRequestTarget(request);
      OpenAndSendRequest(request, response);
      ReadResponseHead(*exchange_);
      int code = response.StatusCode();
      switch (EvaluateResponse(*exchange_)) {
        case nsRepeat:
          if (response_stream) {
            response_stream->SetPosition(start);
            response_stream->SetSize(start);
          }
          // An answered challenge on a closed connection comes back here
          // too; keeping its count lets AuthRetries end that repetition.
          if (code != 401) auth_attempts_ = 0;
          if (code != 407) proxy_auth_attempts_ = 0;
          break;
        case nsDone:
          done = true;
          break;
        case nsUnresolved:
          throw EIdException("Undefined situation");
        case nsRetryAuth:
          --redirect_count_;
          request.SetRequestURL(url);
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
      result = nsRepeat;
    } else {
      if (!AskRedirect(location, method, redirect_count_)) RaiseProtocolError(exchange);
      response.SetLocation(location);
      result = nsDone;
    }
    if (IsConnected()) DiscardBriefly(response);
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
      if (proxy_auth_attempts_ >= auth_retries_ || !AnswerProxyChallenge(request, response)) {
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
      DiscardBriefly(response);
      result = nsRetryAuth;
    } else {
      if (code != 204) ReadResponseBody(response);
      result = nsDone;
    }
  }
  return result;
}

void TIdCustomHTTP::RaiseProtocolError(TIdHTTPProtocol& exchange) {
  TIdHTTPResponse& response = exchange.Response();
  std::string error_body;
  {
    ReadTimeoutScope timeout(*this, 2000);
    BodyStreamScope scratch(response);
    ReadResponseBody(response);
    error_body = scratch.Text();
  }
  throw EIdHTTPProtocolException(response.StatusCode(), response.StatusLine(),
                                 std::move(error_body));
}

void TIdCustomHTTP::DiscardResponseBody(TIdHTTPResponse& response) {
  BodyStreamScope scratch(response);
  ReadResponseBody(response);
}

void TIdCustomHTTP::DiscardBriefly(TIdHTTPResponse& response) {
  ReadTimeoutScope timeout(*this, 4000);
  try {
    DiscardResponseBody(response);
  } catch (...) {
    // Whatever is left of a body nobody wants is not worth a failure.
  }
}

void TIdCustomHTTP::StoreResponseCookies(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  (void)request;
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
  if (!text.empty()) request.HeaderLines().SetHeaderValue("Cookie", text);
}

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
  ++auth_attempts_;
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
  ++proxy_auth_attempts_;
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
