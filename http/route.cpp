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
  // A tunnel is opened in clear text; TLS starts inside it.
  if (tls) tls->SetPassThrough(!(https && direct));
  if (direct) return https ? hrDirectTLS : hrDirect;
  return https ? hrProxyTunnel : hrProxy;
}

void TIdHTTPRouter::EnsureConnected(bool reusable, int32_t timeout) {
  TIdTCPClient& c = connection_;
  if (!reusable) c.CloseConnection();
  c.PollPeerClose(false);
  // Nothing was asked for yet: bytes already waiting are no reply to this
  // request, and reading them as one would answer it with someone else's.
  if (c.IsConnected() && c.InputBuffer().Size() > 0) c.CloseConnection();
  if (!c.IsConnected()) c.OpenConnection(timeout);
}

void TIdHTTPRouter::OpenTunnel(TIdHTTPProtocol& tunnel, const TIdHTTPRequest& request,
                               const TIdURI& target, TIdProxyConnectionInfo& proxy,
                               TIdHTTPProtocolVersion version, int32_t timeout,
                               const TunnelReplyHandler& on_reply) {
  TIdHTTPRequest& connect = tunnel.Request();
  TIdHTTPResponse& reply = tunnel.Response();
  connect.SetUserAgent(request.UserAgent());
  connect.SetHost(request.Host());
  connect.SetContentLength(request.ContentLength());
  connect.SetPragma("no-cache");
  connect.SetRequestURL(target.Host() + ":" + target.Port());
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
  connect.ComposeHeaderLines();
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
  if (reply.StatusLine().empty()) {
    reply.SetStatusLine("HTTP/1.0 200 OK");
    reply.SetConnection("close");
  }
  const int code = reply.StatusCode();
  if (code == 200) {
    if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(connection_.IOHandler())) {
      // The certificate to check is the origin's, not the proxy's.
      tls->SetServerName(target.Host());
      tls->SetPassThrough(false);
    }
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
  const std::string connection = Trim(response.Connection());
  const std::string proxy_connection = Trim(response.ProxyConnection());
  if (version == pv1_0) {
    return SameText(connection, "KEEP-ALIVE") || SameText(proxy_connection, "KEEP-ALIVE");
  }
  return !SameText(connection, "CLOSE") && !SameText(proxy_connection, "CLOSE");
}

}  // namespace ah
