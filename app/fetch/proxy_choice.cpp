#include "app/fetch/proxy_choice.h"

#include <cctype>
#include <cstdlib>

#include "framework/sysutils.h"

namespace ah {
namespace {

// `prefix` is lower case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

// Blanks off both ends, as a view into `text`.
std::string_view TrimView(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// The host of an address: after "scheme://" and any "user@", before the
// port or the path.
std::string_view HostOf(std::string_view url) {
  if (size_t scheme = url.find("://"); scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  url = url.substr(0, url.find_first_of("/?#"));
  if (size_t at = url.rfind('@'); at != std::string_view::npos) url.remove_prefix(at + 1);
  return url.substr(0, url.find(':'));
}

const char* Variable(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if ((!value || !*value) && upper) value = std::getenv(upper);
  return value && *value ? value : nullptr;
}

}  // namespace

std::optional<ProxyAddress> ParseProxyAddress(std::string_view text) {
  text = TrimView(text);
  if (size_t scheme = text.find("://"); scheme != std::string_view::npos) {
    if (!SameText(text.substr(0, scheme), "http")) return std::nullopt;
    text.remove_prefix(scheme + 3);
  }
  if (!text.empty() && text.back() == '/') text.remove_suffix(1);
  if (text.find_first_of("/@ ") != std::string_view::npos) return std::nullopt;
  size_t colon = text.rfind(':');
  ProxyAddress proxy{std::string(text.substr(0, colon)), 1080};
  if (colon != std::string_view::npos) {
    std::optional<int> port = ReadDecimal(text.substr(colon + 1), 1, 65535);
    if (!port) return std::nullopt;
    proxy.port = *port;
  }
  if (proxy.host.empty()) return std::nullopt;
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
  const char* value = nullptr;
  if (StartsWithNoCase(url, "https://"))
    value = Variable("https_proxy", "HTTPS_PROXY");
  else if (StartsWithNoCase(url, "http://"))
    value = Variable("http_proxy", nullptr);
  else
    return std::nullopt;
  if (!value) value = Variable("all_proxy", "ALL_PROXY");
  if (!value) return std::nullopt;
  if (const char* no_proxy = Variable("no_proxy", "NO_PROXY"); no_proxy && NoProxyCovers(no_proxy, HostOf(url)))
    return std::nullopt;
  return ParseProxyAddress(value);
}

std::optional<ProxyAddress> ChooseProxy(std::string_view url,
                                        const std::optional<ProxyAddress>& forced) {
  return forced ? forced : ProxyFromEnvironment(url);
}

}  // namespace ah
