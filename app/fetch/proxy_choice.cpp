#include "app/fetch/proxy_choice.h"

#include <cctype>
#include <cstdlib>

#include "framework/sysutils.h"
#include "http/uri.h"
#include "http/uri_resolution.h"

namespace ah {
namespace {

// Blanks off both ends, as a view into `text`.
std::string_view TrimView(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

const char* Variable(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if ((!value || !*value) && upper) value = std::getenv(upper);
  return value && *value ? value : nullptr;
}

}  // namespace

std::optional<ProxyAddress> ParseProxyAddress(std::string_view text) {
  text = TrimView(text);
  // The variables hold "HOST:PORT" as often as an address.
  const TIdURI uri(text.find("://") == std::string_view::npos ? "http://" + std::string(text) : std::string(text));
  if (!SameText(uri.Protocol(), "http") || uri.Host().empty() || !uri.Username().empty() ||
      uri.Path() != "/" || !uri.Document().empty() || !uri.Params().empty() || !uri.Bookmark().empty() ||
      uri.Host().find_first_of("@ ") != std::string::npos)
    return std::nullopt;
  ProxyAddress proxy{uri.Host(), 1080};
  if (!uri.Port().empty()) {
    std::optional<int> port = ReadDecimal(uri.Port(), 1, 65535);
    if (!port) return std::nullopt;
    proxy.port = *port;
  }
  return proxy;
}

bool NoProxyCovers(std::string_view no_proxy, std::string_view host) {
  while (!no_proxy.empty()) {
    size_t comma = no_proxy.find(',');
    std::string_view entry = TrimView(no_proxy.substr(0, comma));
    no_proxy = comma == std::string_view::npos ? std::string_view() : no_proxy.substr(comma + 1);
    if (entry == "*") return true;
    // A port in an entry is not told apart.
    if (size_t colon = entry.rfind(':'); colon != std::string_view::npos &&
                                         entry.find(':') == colon)
      entry = entry.substr(0, colon);
    if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
    if (entry.empty() || host.size() < entry.size()) continue;
    std::string_view tail = host.substr(host.size() - entry.size());
    if (SameText(tail, entry) &&
        (host.size() == entry.size() || host[host.size() - entry.size() - 1] == '.'))
      return true;
  }
  return false;
}

std::optional<ProxyAddress> ProxyFromEnvironment(std::string_view url) {
  const std::optional<WebOrigin> origin = WebOriginOf(url);
  if (!origin) return std::nullopt;
  const char* value = SameText(origin->scheme, "https") ? Variable("https_proxy", "HTTPS_PROXY")
                                                        : Variable("http_proxy", nullptr);
  if (!value) value = Variable("all_proxy", "ALL_PROXY");
  if (!value) return std::nullopt;
  if (const char* no_proxy = Variable("no_proxy", "NO_PROXY"); no_proxy && NoProxyCovers(no_proxy, origin->host))
    return std::nullopt;
  return ParseProxyAddress(value);
}

std::optional<ProxyAddress> ChooseProxy(std::string_view url,
                                        const std::optional<ProxyAddress>& forced) {
  return forced ? forced : ProxyFromEnvironment(url);
}

}  // namespace ah
