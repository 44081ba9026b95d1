// Request composition and the exchange on the wire: the request target, the
// route, the connection, the request head, the response head and the body.

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
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

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The request target as it goes out: a space becomes %20; any other control
// byte could end the request line early and is refused.
std::string WireTarget(std::string_view target) {
  std::string out;
  out.reserve(target.size());
  for (char c : target) {
    if (c == ' ') {
      out += "%20";
    } else if (IsControl(static_cast<unsigned char>(c))) {
      throw EIdHTTPInvalidRequest("The request is not sent: its target holds a control character");
    } else {
      out += c;
    }
  }
  return out;
}

// A header value may hold a tab, nothing else below a space.
bool FitsOnAHeaderLine(std::string_view value) {
  return std::none_of(value.begin(), value.end(), [](char c) {
    return c != '\t' && IsControl(static_cast<unsigned char>(c));
  });
}

[[noreturn]] void RefuseHeader(std::string_view name) {
  std::string shown;
  for (char c : name) shown += IsControl(static_cast<unsigned char>(c)) ? '?' : c;
  throw EIdHTTPInvalidRequest("The request is not sent: header \"" + shown +
                              "\" holds a control character");
}

// Every line that would go out, by the header's name.
void CheckHeaderLines(const TIdHeaderList& lines) {
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string& line = lines[i];
    if (!FitsOnAHeaderLine(line)) RefuseHeader(line.substr(0, line.find(':')));
  }
}

// The values a caller sets, checked before the request goes anywhere.
void CheckRequestFields(const TIdHTTPRequest& r) {
  const std::pair<const char*, const std::string*> fields[] = {
      {"Connection", &r.Connection()},           {"Content-Version", &r.ContentVersion()},
      {"Content-Encoding", &r.ContentEncoding()}, {"Content-Language", &r.ContentLanguage()},
      {"Content-Type", &r.ContentType()},         {"Cache-control", &r.CacheControl()},
      {"Pragma", &r.Pragma()},                    {"Proxy-Connection", &r.ProxyConnection()},
      {"Accept", &r.Accept()},                    {"Accept-Charset", &r.AcceptCharSet()},
      {"Accept-Encoding", &r.AcceptEncoding()},   {"Accept-Language", &r.AcceptLanguage()},
      {"From", &r.From()},                        {"Referer", &r.Referer()},
      {"User-Agent", &r.UserAgent()},
  };
  for (const auto& [name, value] : fields) {
    if (!FitsOnAHeaderLine(*value)) RefuseHeader(name);
  }
  CheckHeaderLines(r.CustomHeaders());
}

// Digits only (hexadecimal ones when hex), after an optional "+": a number
// that fails to read only because it does not fit in 64 bits.
bool IsTooLargeNumber(std::string_view text, bool hex) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!(hex ? std::isxdigit(u) : std::isdigit(u))) return false;
  }
  return !TryStrToInt64(hex ? "$" + std::string(text) : std::string(text));
}

// Every Content-Length, on its own lines and in comma lists, must say the
// same: with two lengths the end of the body is whichever a reader believes,
// and a proxy on the way may believe the other one.
void CheckContentLengthsAgree(const TIdHeaderList& lines) {
  TStringList values;
  lines.ExtractValues("Content-Length", &values);
  std::string first;
  for (int i = 0; i < values.Count(); ++i) {
    for (std::string rest = values.Get(i); !rest.empty();) {
      const std::string one = Trim(TakeToken(rest, ","));
      if (one.empty()) continue;
      if (first.empty()) first = one;
      if (one != first) throw EIdHTTPMalformedResponse("Content-Length values disagree");
    }
  }
}

// Passes the first limit bytes written through to the target; a write
// beyond them raises Full, which ends the read that wrote it.
class LimitedStream : public TStream {
 public:
  struct Full {};
  LimitedStream(TStream& target, int64_t limit)
      : target_(target), end_(target.Position() + limit) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t room = std::max<int64_t>(0, end_ - target_.Position());
    target_.WriteBuffer(buffer, std::min(count, room));
    if (count > room) throw Full();
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    return target_.Seek(offset, origin);
  }
  int64_t Size() override { return target_.Size(); }
  // A reservation ahead of the data never goes past the limit.
  void SetSize(int64_t size) override { target_.SetSize(std::min(size, end_)); }

 private:
  TStream& target_;
  int64_t end_;
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
  const std::string& host = target.Host();
  if (std::any_of(host.begin(), host.end(), [](char c) {
        return c == ' ' || IsControl(static_cast<unsigned char>(c));
      })) {
    throw EIdHTTPInvalidRequest(
        "The request is not sent: the host name holds a space or a control character");
  }
  // A reference without a scheme (a relative redirect) stays on the scheme
  // it was resolved against: falling back to http would send what belongs to
  // an https site, form and cookies included, in clear text.
  if (!u.Protocol().empty())
    target.SetProtocol(u.Protocol());
  else if (target.Protocol().empty())
    target.SetProtocol("http");
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
  request.SetRequestURL(WireTarget(target.Path() + target.Document() + target.Params()));
  TIdHTTPMethod method = request.RequestMethod();
  if (method == hmOptions && u.Document() == "*") request.SetRequestURL("*");
  if ((method == hmOptions || method == hmTrace || method == hmPut || method == hmDelete) &&
      protocol_version_ != pv1_1) {
    throw EIdException("This request method is supported in HTTP 1.1");
  }
  if (SendsBody(method)) {
    TStream* source = request.BodySource();
    request.SetContentLength(source ? source->Size() : 0);
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
  CheckRequestFields(request);
  TIdHTTPRoute route = SelectRoute();
  request.SetRoute(route);
  if (route == hrProxy) request.SetRequestURL(WireTarget(target_uri_->GetURI()));
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
    int64_t budget = kMaxResponseHead;
    reply.SetStatusLine(ReceiveHeadLine(budget));
    if (!reply.StatusLine().empty()) {
      // Its cookies are not kept: the proxy answers here, not the origin,
      // and must not set cookies for a site whose traffic it cannot read.
      ReadResponseHeaders(tunnel, budget);
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
  // Nothing was asked for yet: bytes already waiting are no reply to this
  // request, and reading them as one would answer it with someone else's.
  if (IsConnected() && InputBuffer().Size() > 0) CloseConnection();
  if (!IsConnected()) OpenConnection(connect_timeout_ != 0 ? connect_timeout_ : ReadTimeout());
}

void TIdCustomHTTP::SendRequestHead(TIdHTTPProtocol& exchange, TIdURI* uri) {
  TIdHTTPRequest& request = exchange.Request();
  request.ComposeHeaderLines();
  // The proxy's credentials are for the proxy alone.
  if (SentToProxy(request)) proxy_params_->AddProxyAuthorization(request.HeaderLines());
  if (uri) AddRequestCookies(*uri, request);
  // Whatever went into the lines (a cookie a server set, a scheme's
  // answer) must not break them either.
  CheckHeaderLines(request.HeaderLines());
  exchange_unfinished_ = true;
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
  // One budget for the interim heads too, so endless 100s end as well.
  int64_t budget = kMaxResponseHead;
  do {
    response.SetStatusLine(ReceiveHeadLine(budget));
    ReadResponseHeaders(exchange, budget);
    StoreResponseCookies(exchange.Request(), response);
  } while (response.StatusCode() == 100);
}

void TIdCustomHTTP::ReadResponseHeaders(TIdHTTPProtocol& exchange) {
  int64_t budget = kMaxResponseHead - int64_t(exchange.Response().StatusLine().size()) - 2;
  ReadResponseHeaders(exchange, budget);
}

void TIdCustomHTTP::ReadResponseHeaders(TIdHTTPProtocol& exchange, int64_t& budget) {
  TIdHTTPResponse& response = exchange.Response();
  TIdHeaderList& lines = response.HeaderLines();
  lines.Clear();
  try {
    for (;;) {
      std::string line = ReceiveHeadLine(budget);
      if (line.empty()) break;
      lines.Add(line);
    }
  } catch (EIdConnClosedGracefully&) {
    CloseConnection();
  }
  response.ParseHeaderLines();
}

std::string TIdCustomHTTP::ReceiveHeadLine(int64_t& budget) {
  auto too_large = [] {
    throw EIdHTTPMalformedResponse("Response head larger than the limit of 4 MiB");
  };
  // The line limit stands, but never beyond what is left of the head's.
  int32_t limit = MaxLineLength();
  const bool by_budget = limit <= 0 || limit > budget;
  if (by_budget) limit = int32_t(std::clamp<int64_t>(budget, 1, kMaxResponseHead));
  std::string line;
  try {
    line = ReceiveLine("\n", UseReadTimeout, limit);
  } catch (const EIdReadLnMaxLineLengthExceeded&) {
    if (by_budget) too_large();
    throw;
  }
  // Counted with a CR LF, whichever line end the server used.
  budget -= int64_t(line.size()) + 2;
  if (budget < 0) too_large();
  return line;
}

bool TIdCustomHTTP::ReadResponseBody(TIdHTTPProtocol& exchange, int64_t limit) {
  TIdHTTPResponse& response = exchange.Response();
  TStream* target = response.BodyStream();
  if (!target) return true;
  const int code = response.StatusCode();
  // An interim reply is followed by the final one (or by another protocol).
  if (code >= 100 && code < 200) return false;
  if (code == 204 || code == 304 || exchange.Request().RequestMethod() == hmHead) return true;
  CheckContentLengthsAgree(response.HeaderLines());
  std::optional<LimitedStream> limited;
  if (limit >= 0) limited.emplace(*target, limit);
  TStream& body = limited ? static_cast<TStream&>(*limited) : *target;
  try {
    if (response.ContentLength() > 0) {
      ReceiveBodyPart(body, response.ContentLength());
      return true;
    }
    if (response.HeaderLines().HeaderValue("Transfer-Encoding").find("chunked") !=
        std::string::npos) {
      ReadChunkedBody(body);
      return true;
    }
    if (!response.LengthKnown()) {
      // A length too large to hold is no reason to take whatever comes until
      // the server closes as the body.
      const std::string announced = Trim(response.HeaderLines().HeaderValue("Content-Length"));
      if (IsTooLargeNumber(announced, false)) {
        throw EIdHTTPMalformedResponse("Content-Length does not fit in 64 bits");
      }
      ReceiveToStream(body, -1, true);
      // Over TLS only close_notify tells the end of the body from a cut.
      auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler());
      if (tls && tls->ClosedWithoutNotify()) {
        throw EIdSSLProtocolReplyError(
            0, "TLS failure: the server closed without close_notify; the body may be cut short");
      }
    }
  } catch (const LimitedStream::Full&) {
    return false;
  }
  return true;
}

void TIdCustomHTTP::ReadChunkedBody(TStream& body) {
  ReportStatus(hsStatusText, "Chunk Started");
  for (int64_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
    ReceiveBodyPart(body, size);
    if (!ReceiveLine().empty()) throw EIdHTTPMalformedResponse("Chunk longer than its size");
  }
  // The trailer section, to its empty line, so none of it is left behind for
  // the next reply. The body is whole already: a close here cuts nothing.
  int64_t budget = kMaxResponseHead;
  try {
    while (!ReceiveHeadLine(budget).empty()) {
    }
  } catch (const EIdConnClosedGracefully&) {
  }
}

void TIdCustomHTTP::ReceiveBodyPart(TStream& body, int64_t count) {
  try {
    ReceiveToStream(body, count, false);
  } catch (const EIdConnClosedGracefully&) {
    // Whatever arrived is the caller's; the close still says it is not all.
    TIdManagedBuffer& rest = InputBuffer();
    if (rest.Size() > 0) {
      body.WriteBuffer(rest.Memory(), rest.Size());
      rest.Empty();
    }
    throw;
  }
}

int64_t TIdCustomHTTP::ReadChunkSize() {
  std::string line = Trim(ReceiveLine());
  // The server closed in the middle of the line.
  if (LineTimedOut()) throw EIdConnClosedGracefully("Connection Closed Gracefully.");
  // A chunk extension may follow the size with or without a space before
  // its ";"; either way the size ends there.
  size_t end = line.find_first_of(" \t;");
  if (end != std::string::npos) line.resize(end);
  // Anything but a size leaves no way to find where the body ends.
  std::optional<int64_t> size = TryStrToInt64("$" + line);
  if (!size) {
    throw EIdHTTPMalformedResponse(IsTooLargeNumber(line, true)
                                       ? "Chunk size does not fit in 64 bits"
                                       : "Chunk size is not a number");
  }
  return *size;
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

}  // namespace ah
