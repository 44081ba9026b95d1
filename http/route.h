#pragma once
// Where a request goes and over what: straight to the origin server or
// through an HTTP proxy, in clear or over TLS, through a CONNECT tunnel for
// https behind a proxy; whether the open connection may carry it, and
// opening a new one when not.

#include <cstdint>
#include <functional>
#include <string>

#include "http/header_info.h"
#include "http/http_records.h"
#include "http/uri.h"
#include "transport/tcp_client.h"

namespace ah {

class TIdHTTPRouter {
 public:
  // Called with the tunnel's exchange for a reply to CONNECT that neither
  // opens nor plainly refuses the tunnel (a challenge): it returns to send
  // the CONNECT again, or raises.
  using TunnelReplyHandler = std::function<void(TIdHTTPProtocol& tunnel)>;

  explicit TIdHTTPRouter(TIdTCPClient& connection) : connection_(connection) {}

  // Moves the connection's host and port to the proxy or the origin of
  // target, closing a connection that goes elsewhere, and sets the TLS
  // handler for the route. Raises EIdIOHandlerPropInvalid for https without
  // a TLS handler.
  TIdHTTPRoute Select(const TIdURI& target, const TIdProxyConnectionInfo& proxy);
  // Closes the connection when it may not carry the next request (not
  // reusable, closed by the server, holding bytes nobody asked for), then
  // connects when not connected. timeout as OpenConnection takes it. True
  // when it opened a new connection.
  bool EnsureConnected(bool reusable, int32_t timeout);
  // Opens the tunnel to target's host and port with tunnel's request
  // (filled with its defaults here) and starts TLS to the origin in it.
  void OpenTunnel(TIdHTTPProtocol& tunnel, const TIdHTTPRequest& request, const TIdURI& target,
                  TIdProxyConnectionInfo& proxy, TIdHTTPProtocolVersion version,
                  int32_t timeout, const TunnelReplyHandler& on_reply);

  // Whether the tunnel that Select kept for the target can carry the next
  // request; reusable is the last reply's say.
  bool TunnelStillOpen(bool reusable);
  // host:port, an IPv6 address in brackets.
  static std::string Authority(const TIdURI& target);

  // Whether the connection may serve the next request after response, for
  // a request sent as version: not after "close" (in any letter case,
  // anywhere in the Connection lists), not after a reply framed by both a
  // transfer coding and a length, and under HTTP/1.0 (either side's) only
  // after "keep-alive".
  bool Reusable(TIdHTTPResponse& response, TIdHTTPProtocolVersion version);

 private:
  void SendConnect(TIdHTTPProtocol& tunnel, TIdProxyConnectionInfo& proxy,
                   TIdHTTPProtocolVersion version);
  // The reply to CONNECT; true when it opened the tunnel.
  bool TunnelOpened(TIdHTTPProtocol& tunnel, const TIdURI& target,
                    const TunnelReplyHandler& on_reply);

  TIdTCPClient& connection_;
  // The origin (host:port) of the running tunnel; empty without one.
  std::string tunnel_origin_;
};

}  // namespace ah
