#pragma once
// Which HTTP proxy a request goes through: the one given on the command
// line, or what the usual environment variables say, for page fetches and
// image downloads alike.

#include <optional>
#include <string>
#include <string_view>

namespace ah {

struct ProxyAddress {
  std::string host;  // an IPv6 address without its brackets
  int port = 0;
  bool operator==(const ProxyAddress&) const = default;
};

// "HOST:PORT", also with an "http://" in front and a "/" behind, as the
// variables hold it; a missing port is 1080, an IPv6 address stands in
// brackets. nullopt for anything else (another scheme, credentials, a
// path, a bad port).
std::optional<ProxyAddress> ParseProxyAddress(std::string_view text);

// Whether `no_proxy` (comma-separated host names, domain suffixes with or
// without a leading dot, "*" for all) names `host`.
bool NoProxyCovers(std::string_view no_proxy, std::string_view host);

// The proxy for `url` that the environment names: https_proxy or
// HTTPS_PROXY for https, http_proxy for http (the upper-case form is left
// alone, as curl does, since CGI servers put request headers there), then
// all_proxy or ALL_PROXY; none when no_proxy or NO_PROXY covers the host.
std::optional<ProxyAddress> ProxyFromEnvironment(std::string_view url);

// `forced` when given, else the environment's choice for `url`.
std::optional<ProxyAddress> ChooseProxy(std::string_view url,
                                        const std::optional<ProxyAddress>& forced);

}  // namespace ah
