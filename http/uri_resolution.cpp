#include "http/uri_resolution.h"

#include <cctype>

#include "framework/sysutils.h"
#include "http/exceptions.h"

namespace ah {
namespace {

struct Reference {
  std::string scheme;
  bool has_authority = false;
  std::string user_info;
  std::string host;
  std::string port;
  std::string path;
  bool has_query = false;
  std::string query;
};

// The scheme at the start of text ("" when there is none): a letter, then
// letters, digits, "+", "-" or ".", up to a ":".
size_t SchemeEnd(std::string_view text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return 0;
  for (size_t i = 1; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ':') return i;
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

void SplitAuthority(std::string authority, Reference& r) {
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    r.user_info = authority.substr(0, at);
    authority.erase(0, at + 1);
  }
  // An IPv6 address stands in brackets, its colons being no port's.
  size_t port_colon = authority.find(':');
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    r.host = authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    port_colon = close == std::string::npos ? close : authority.find(':', close);
  } else {
    r.host = authority.substr(0, port_colon);
  }
  if (port_colon != std::string::npos) r.port = authority.substr(port_colon + 1);
}

Reference Split(std::string_view reference) {
  std::string text(reference);
  TIdURI::NormalizeSlashes(text);
  text.resize(std::min(text.size(), text.find('#')));
  Reference r;
  if (const size_t end = SchemeEnd(text)) {
    r.scheme = text.substr(0, end);
    text.erase(0, end + 1);
  }
  if (text.rfind("//", 0) == 0) {
    r.has_authority = true;
    const size_t end = text.find_first_of("/?", 2);
    SplitAuthority(text.substr(2, end == std::string::npos ? std::string::npos : end - 2), r);
    text.erase(0, end == std::string::npos ? text.size() : end);
  }
  const size_t query = text.find('?');
  r.path = text.substr(0, query);
  if (query != std::string::npos) {
    r.has_query = true;
    r.query = text.substr(query + 1);
  }
  return r;
}

void DropLastSegment(std::string& out) {
  const size_t slash = out.rfind('/');
  out.resize(slash == std::string::npos ? 0 : slash);
}

// "." and ".." segments taken out of a path.
std::string RemoveDotSegments(std::string in) {
  std::string out;
  while (!in.empty()) {
    if (in.rfind("../", 0) == 0) {
      in.erase(0, 3);
    } else if (in.rfind("./", 0) == 0 || in.rfind("/./", 0) == 0) {
      in.erase(0, 2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.rfind("/../", 0) == 0 || in == "/..") {
      in = "/" + in.substr(in.size() == 3 ? 3 : 4);
      DropLastSegment(out);
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      const size_t next = in.find('/', 1);
      out += in.substr(0, next);
      in.erase(0, next == std::string::npos ? in.size() : next);
    }
  }
  return out;
}

// The path of a relative reference joined to the base's directory.
std::string Merge(const TIdURI& base, const std::string& path) {
  if (!base.Host().empty() && base.Path().empty() && base.Document().empty()) return "/" + path;
  return base.Path() + path;
}

void SetPath(TIdURI& target, const std::string& path) {
  const std::string whole = path.empty() ? "/" : path;
  const size_t slash = whole.rfind('/');
  target.SetPath(whole.substr(0, slash + 1));
  target.SetDocument(whole.substr(slash + 1));
}

}  // namespace

bool SameOrigin(const TIdURI& a, const TIdURI& b) {
  return SameText(a.Protocol(), b.Protocol()) && SameText(a.Host(), b.Host()) &&
         a.Port() == b.Port();
}

std::string DefaultPort(std::string_view scheme) {
  if (SameText(scheme, "http")) return "80";
  if (SameText(scheme, "https")) return "443";
  return "";
}

std::optional<WebOrigin> WebOriginOf(std::string_view address) {
  const TIdURI uri(address);
  const std::string default_port = DefaultPort(uri.Protocol());
  if (default_port.empty() || uri.Host().empty()) return std::nullopt;
  const std::optional<int> port = ReadDecimal(uri.Port().empty() ? default_port : uri.Port(), 1, 65535);
  if (!port) return std::nullopt;
  const std::string& text = uri.URIText();  // backslashes read as slashes
  const size_t authority = text.find("://") + 3;
  return WebOrigin{uri.Protocol(), uri.Host(), *port, text.substr(0, text.find_first_of("/?#", authority))};
}

bool SameOrigin(const WebOrigin& a, const WebOrigin& b) {
  return SameText(a.scheme, b.scheme) && SameText(a.host, b.host) && a.port == b.port;
}

std::string ResolveAddress(const TIdURI& base, std::string_view reference, TIdURI& target) {
  Reference r = Split(reference);
  // "http:x" on an http page is a relative reference, as browsers read it.
  if (!r.scheme.empty() && !r.has_authority && SameText(r.scheme, base.Protocol())) {
    r.scheme.clear();
  }
  TIdURI t = base;
  t.SetProtocol(!r.scheme.empty()        ? r.scheme
                : !base.Protocol().empty() ? base.Protocol()
                                           : std::string("http"));
  if (DefaultPort(t.Protocol()).empty()) {
    throw EIdUnknownProtocol("Protocol \"" + t.Protocol() + "\" is not supported");
  }
  const bool own_authority = r.has_authority || !r.scheme.empty();
  if (own_authority) {
    t.SetHost(r.host);
    t.SetPort(r.port.empty() ? DefaultPort(t.Protocol()) : r.port);
    SetPath(t, RemoveDotSegments(r.path));
  } else if (r.path.empty()) {
    if (!r.has_query) r.query = base.Params().empty() ? "" : base.Params().substr(1);
    r.has_query = r.has_query || !base.Params().empty();
  } else {
    SetPath(t, RemoveDotSegments(r.path[0] == '/' ? r.path : Merge(base, r.path)));
  }
  if (t.Port().empty()) t.SetPort(DefaultPort(t.Protocol()));
  t.SetParams(r.has_query ? "?" + r.query : "");
  t.SetBookmark("");
  target = t;
  return r.user_info;
}

std::string HostHeaderOf(const TIdURI& address) {
  const std::string& host = address.Host();
  std::string text = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (address.Port() != DefaultPort(address.Protocol())) text += ":" + address.Port();
  return text;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(uint8_t(text[i + 1])) &&
        std::isxdigit(uint8_t(text[i + 2]))) {
      out += char(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string AddressForDisplay(std::string_view address) {
  std::string text(address);
  const size_t start = text.find("://");
  if (start == std::string::npos) return text;
  const size_t end = std::min(text.size(), text.find_first_of("/?#", start + 3));
  const size_t at = text.rfind('@', end);
  if (at == std::string::npos || at < start) return text;
  const size_t colon = text.find(':', start + 3);
  if (colon == std::string::npos || colon > at) return text;
  return text.substr(0, colon + 1) + "***" + text.substr(at);
}

}  // namespace ah
