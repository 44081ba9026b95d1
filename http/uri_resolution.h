#pragma once
// Resolving the address of a request or a redirect against the address of
// the last request, as browsers do: a reference may give only a query, only
// a path (with "." and ".." segments), a host without a scheme, or a whole
// address; its fragment is never part of the request.

#include <optional>
#include <string>
#include <string_view>

#include "http/uri.h"

namespace ah {

// Resolves reference against base into target (which may be base itself):
// protocol, host, port (the scheme's default when the reference names a
// host without one), path, document and params; the bookmark is cleared
// and the user information left alone. Returns the user information the
// reference gave, as written ("" without one). Raises EIdUnknownProtocol,
// naming the scheme, for any scheme but http and https.
std::string ResolveAddress(const TIdURI& base, std::string_view reference, TIdURI& target);

// Scheme, host and port alike (scheme and host in any letter case).
bool SameOrigin(const TIdURI& a, const TIdURI& b);
// "80" for http and "443" for https (any letter case); "" otherwise.
std::string DefaultPort(std::string_view scheme);

// Where a web address leads, as TIdURI cuts it: the scheme and host as
// written, the port (the scheme's default when none is given), and the
// address up to the end of its authority. Nothing unless the scheme is
// http or https (in any letter case), a host is named and the port is a
// number from 1 to 65535.
struct WebOrigin {
  std::string scheme;
  std::string host;  // an IPv6 address without its brackets
  int port = 0;
  std::string root;  // e.g. "HTTP://user@Host:8080"
};
std::optional<WebOrigin> WebOriginOf(std::string_view address);
// Scheme and host in any letter case, and the port.
bool SameOrigin(const WebOrigin& a, const WebOrigin& b);
// The Host header of an address: an IPv6 address in brackets, the port left
// out when it is the scheme's default.
std::string HostHeaderOf(const TIdURI& address);
// %XX sequences as the bytes they stand for; anything else as it is.
std::string PercentDecode(std::string_view text);
// An address as messages and logs show it: its password as "***".
std::string AddressForDisplay(std::string_view address);

}  // namespace ah
