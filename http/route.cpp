#include "http/route.h"

#include "framework/streams.h"
#include "framework/sysutils.h"
#include "http/exceptions.h"
#include "http/request_writer.h"
#include "http/response_reader.h"
#include "transport/ssl_io_handler_socket.h"

namespace ah {

TIdHTTPRoute TIdHTTPRouter::Select(const TIdURI& target, const TIdProxyConnectionInfo& proxy) {
  TIdTCPClient& c = connection_;
  auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(c.IOHandler());
  const bool https = SameText(target.Protocol(), "HTTPS");
  const bool direct = proxy.ProxyServer().empty();
  const std::string& host = direct ? target.Host() : proxy.ProxyServer();
  const int port = direct ? StrToInt(target.Port()) : proxy.ProxyPort();
  if (!SameText(c.Host(), host) || port != c.Port()) {
    if (c.IsConnected()) c.CloseConnection();
  }
  // The connection settings only: the target keeps naming the origin.
  c.TIdTCPClient::SetHost(host);
  c.TIdTCPClient::SetPort(port);
  if (https && !tls) throw EIdIOHandlerPropInvalid("IOHandler value is not valid");
  const bool tunnel = https && !direct;
  // A tunnel to this origin that still runs carries the request as it is;
  // any other is opened in clear text, TLS starting inside it.
  if (tunnel && c.IsConnected() && tls->TLSActive() && tunnel_origin_ == Authority(target)) {
    return hrProxyTunnel;
  }
  tunnel_origin_.clear();
  if (tls) tls->SetPassThrough(!(https && direct));
  if (direct) return https ? hrDirectTLS : hrDirect;
  return tunnel ? hrProxyTunnel : hrProxy;
}

std::string TIdHTTPRouter::Authority(const TIdURI& target) {
  const std::string& host = target.Host();
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + target.Port();
}

bool TIdHTTPRouter::TunnelStillOpen(bool reusable) {
  TIdTCPClient& c = connection_;
  if (tunnel_origin_.empty() || !reusable) return false;
  c.PollPeerClose(false);
  return c.IsConnected() && c.InputBuffer().Size() == 0;
}

bool TIdHTTPRouter::EnsureConnected(bool reusable, int32_t timeout) {
  TIdTCPClient& c = connection_;
  if (!reusable) c.CloseConnection();
  c.PollPeerClose(false);
  // Nothing was asked for yet: bytes already waiting are no reply to this
  // request, and reading them as one would answer it with someone else's.
  if (c.IsConnected() && c.InputBuffer().Size() > 0) c.CloseConnection();
  if (c.IsConnected()) return false;
  c.OpenConnection(timeout);
  return true;
}

void TIdHTTPRouter::OpenTunnel(TIdHTTPProtocol& tunnel, const TIdHTTPRequest& request,
                               const TIdURI& target, TIdProxyConnectionInfo& proxy,
                               TIdHTTPProtocolVersion version, int32_t timeout,
                               const TunnelReplyHandler& on_reply) {
  TIdHTTPRequest& connect = tunnel.Request();
  TIdHTTPResponse& reply = tunnel.Response();
  connect.SetUserAgent(request.UserAgent());
  // The authority with its port, the default one included.
  connect.SetHost(Authority(target));
  connect.SetPragma("no-cache");
  connect.SetRequestURL(Authority(target));
  connect.SetRequestMethod(hmConnect);
  connect.SetProxyConnection("keep-alive");
  reply.SetReusableHook([this, version](TIdHTTPResponse& r) { return Reusable(r, version); });
  TMemoryStream body;
  reply.SetBodyStream(&body);
  try {
    // Only an answered challenge sends the CONNECT again, and the attempt
    // counters bound those; any other reply that is not 200 ends the attempt.
    do {
      EnsureConnected(reply.ConnectionReusable(), timeout);
      SendConnect(tunnel, proxy, version);
    } while (!TunnelOpened(tunnel, target, on_reply));
  } catch (...) {
    reply.SetBodyStream(nullptr);
    // A tunnel half opened carries nothing else.
    if (connection_.IsConnected()) connection_.CloseConnection();
    throw;
  }
  reply.SetBodyStream(nullptr);
}

void TIdHTTPRouter::SendConnect(TIdHTTPProtocol& tunnel, TIdProxyConnectionInfo& proxy,
                                TIdHTTPProtocolVersion version) {
  TIdHTTPRequest& connect = tunnel.Request();
  ComposeRequestHead(connect);
  proxy.AddProxyAuthorization(connect.HeaderLines());
  SendRequestHead(connection_, connect, version);
}

bool TIdHTTPRouter::TunnelOpened(TIdHTTPProtocol& tunnel, const TIdURI& target,
                                 const TunnelReplyHandler& on_reply) {
  TIdHTTPResponse& reply = tunnel.Response();
  TIdResponseReader reader(connection_);
  int64_t budget = TIdResponseReader::kMaxResponseHead;
  // Its cookies are not kept: the proxy answers here, not the origin, and
  // must not set cookies for a site whose traffic it cannot read.
  reader.ReadOneHead(reply, budget);
  const int code = reply.StatusCode();
  if (code == 200) {
    // Whatever came after the proxy's answer was sent before the origin
    // could speak: read as part of its TLS stream, it would be a reply the
    // proxy forged.
    if (connection_.InputBuffer().Size() > 0) {
      throw EIdHTTPMalformedResponse("The proxy sent more than its answer to CONNECT");
    }
    if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(connection_.IOHandler())) {
      // The certificate to check is the origin's, not the proxy's.
      tls->SetServerName(target.Host(), StrToIntDef(target.Port(), 0));
      tls->SetPassThrough(false);
    }
    tunnel_origin_ = Authority(target);
    return true;
  }
  // A tunnel that is neither open nor refused cannot carry the request.
  if (code / 100 == 2) throw EIdHTTPProtocolException(code, reply.StatusLine(), "");
  on_reply(tunnel);
  return false;
}

bool TIdHTTPRouter::Reusable(TIdHTTPResponse& response, TIdHTTPProtocolVersion version) {
  connection_.CheckDisconnected(false, false);
  if (!connection_.IsConnected()) return false;
  const TIdHeaderList& lines = response.HeaderLines();
  auto said = [&](std::string_view token) {
    for (const char* name : {"Connection", "Proxy-Connection"}) {
      for (const std::string& one : HeaderElements(lines, name)) {
        if (SameText(one, token)) return true;
      }
    }
    return false;
  };
  if (said("close")) return false;
  // A length beside a transfer coding is a reply that someone on the way may
  // have framed otherwise: what follows it is nobody's next reply.
  if (lines.IndexOfHeader("Transfer-Encoding") >= 0 && lines.IndexOfHeader("Content-Length") >= 0) {
    return false;
  }
  // HTTP/1.0 keeps a connection only when asked to, on either side.
  const bool old = version == pv1_0 || SameText(response.StatusLine().substr(0, 8), "HTTP/1.0");
  return !old || said("keep-alive");
}

}  // namespace ah
