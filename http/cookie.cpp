#include "http/cookie.h"

#include <cmath>
#include <limits>

#include "framework/date_time.h"
#include "framework/strings.h"
#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "http/exceptions.h"
#include "http/protocol_utils.h"
#include "http/public_suffix.h"

namespace ah {

std::string TIdCookieAttributes::Value(std::string_view name) const {
  for (const std::string& entry : entries_) {
    const size_t eq = entry.find('=');
    if (eq != std::string::npos && SameText(std::string_view(entry).substr(0, eq), name))
      return entry.substr(eq + 1);
  }
  return {};
}

bool TIdCookieAttributes::HasEntry(std::string_view flag) const {
  for (const std::string& entry : entries_)
    if (entry == flag) return true;
  return false;
}

std::string AppendCookieAttribute(std::string_view name, std::string_view value,
                                  std::string text) {
  if (value.empty()) return text;
  if (!text.empty()) text += "; ";
  text.append(name).append("=").append(value);
  return text;
}

std::string AppendCookieFlag(std::string_view flag, std::string text) {
  if (!text.empty()) text += "; ";
  text.append(flag);
  return text;
}

bool CookieDomainMatches(std::string_view domain, std::string_view host) {
  if (SameText(domain, host)) return true;
  if (domain.empty() || domain[0] != '.') return false;
  domain.remove_prefix(1);
  if (SameText(domain, host)) return true;
  // An address has no parent domain: 10.0.0.1 is not inside ".0.0.1".
  if (IsIPAddress(host) || host.find(':') != std::string_view::npos) return false;
  if (host.size() <= domain.size()) return false;
  // Whole labels only: example.com is not inside ".ample.com".
  const size_t start = host.size() - domain.size();
  return host[start - 1] == '.' && SameText(host.substr(start), domain);
}

// --- TIdNetscapeCookie ----------------------------------------------------

TIdNetscapeCookie::TIdNetscapeCookie(TCollection* collection) : TCollectionItem(collection) {}

// Leaves its collection while still whole, so that the collection can
// still read its name and domain as it lets it go.
TIdNetscapeCookie::~TIdNetscapeCookie() { SetCollection(nullptr); }

void TIdNetscapeCookie::ParseCookieText(std::string_view text) {
  if (text == cookie_text_) return;
  cookie_text_ = std::string(text);

  std::vector<std::string> list;
  std::string rest(text);
  if (TextPos(";", rest) > 0) {
    while (TextPos(";", rest) > 0) list.push_back(Trim(TakeToken(rest, ";")));
    if (!rest.empty()) list.push_back(Trim(rest));
  } else {
    list = SplitLines(text);
  }

  cookie_name_.clear();
  value_.clear();
  TIdCookieAttributes attributes;
  for (size_t i = 0; i < list.size(); ++i) {
    std::string& entry = list[i];
    const size_t eq = entry.find('=');
    if (i == 0) {
      if (eq == std::string::npos) {
        value_ = entry;
      } else {
        cookie_name_ = entry.substr(0, eq);
        value_ = entry.substr(eq + 1);
      }
    } else if (eq == std::string::npos) {
      attributes.Add(UpperCase(entry));
    } else {
      attributes.Add(UpperCase(std::string_view(entry).substr(0, eq)) + entry.substr(eq));
    }
  }
  LoadAttributes(attributes);
}

void TIdNetscapeCookie::LoadAttributes(const TIdCookieAttributes& attributes) {
  std::string path = attributes.Value("PATH");
  if (!path.empty() && path.front() == '"') path.erase(0, 1);
  if (!path.empty() && path.back() == '"') path.pop_back();
  path_ = std::move(path);
  SetExpiresText(attributes.Value("EXPIRES"));
  domain_ = attributes.Value("DOMAIN");
  secure_ = attributes.HasEntry("SECURE");
}

void TIdNetscapeCookie::SetExpiresText(std::string_view text) { expires_ = std::string(text); }

std::string TIdNetscapeCookie::CookieAttributeText() const {
  // The pair comes first even with an empty value: read back without it,
  // the next attribute ("path=/") would become the cookie.
  std::string text = cookie_name_ + "=" + value_;
  text = AppendCookieAttribute("path", path_, std::move(text));
  if (internal_version_ == 0) text = AppendCookieAttribute("expires", expires_, std::move(text));
  text = AppendCookieAttribute("domain", domain_, std::move(text));
  if (secure_) text = AppendCookieFlag("secure", std::move(text));
  return text;
}

bool TIdNetscapeCookie::IsValidForHost(std::string_view host) const {
  // A Domain attribute, with or without its leading dot, names a domain the
  // host must be or lie inside.
  std::string_view domain = domain_;
  if (!domain.empty() && domain[0] == '.') domain.remove_prefix(1);
  if (!CookieDomainMatches("." + std::string(domain), host)) return false;
  // A domain that unrelated sites share ("com", "co.uk", "github.io")
  // would carry the cookie to all of them; only such a host itself may set
  // one for its own name.
  return !IsPublicSuffix(domain) || SameText(domain, host);
}

void TIdNetscapeCookie::CopyFrom(const TIdNetscapeCookie& source) {
  const auto* rfc = dynamic_cast<const TIdCookieRFC2109*>(&source);
  if (!rfc) return;
  ParseCookieText(rfc->ServerCookie());
  // An RFC 2109 server text leaves its expiry date out; read back without
  // it, the record would outlive the date it was given.
  SetExpiresText(rfc->Expires());
  if (auto* self = dynamic_cast<TIdCookieRFC2109*>(this)) self->SetMaxAge(rfc->MaxAge());
  internal_version_ = rfc->InternalVersion();
}

// --- TIdCookieRFC2109 -----------------------------------------------------

TIdCookieRFC2109::TIdCookieRFC2109(TCollection* collection) : TIdNetscapeCookie(collection) {
  internal_version_ = 1;
}

void TIdCookieRFC2109::SetExpiresText(std::string_view text) {
  if (!text.empty()) {
    try {
      const double seconds = (InternetDateToLocal(text) - Now()) * double(SecsPerDay);
      max_age_ = int64_t(std::trunc(seconds));
    } catch (const Exception&) {
      // Without the local zone there is no count to derive; keep the old one.
    }
  }
  expires_ = std::string(text);
}

void TIdCookieRFC2109::LoadAttributes(const TIdCookieAttributes& attributes) {
  TIdNetscapeCookie::LoadAttributes(attributes);
  constexpr int64_t kUnreadable = std::numeric_limits<int64_t>::min();
  const int64_t max_age = StrToInt64Def(attributes.Value("MAX-AGE"), kUnreadable);
  max_age_ = max_age == kUnreadable ? -1 : max_age;
  version_ = attributes.Value("VERSION");
  comment_ = attributes.Value("COMMENT");
  if (max_age != kUnreadable && max_age <= 0) {
    // Zero or less ends the cookie at once, whatever else it says; a
    // negative count must not read as "none" (-1).
    if (expires_.empty()) internal_version_ = 0;
    SetExpiresText(FormatInternetDate(Now() - 1.0 / SecsPerDay, false));
    max_age_ = 0;
  } else if (expires_.empty()) {
    internal_version_ = 0;
    if (max_age_ >= 0) {
      // Past the calendar's last day the date could not be read back, and
      // the cookie would count as long expired.
      const TDateTime latest = EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 0);
      const TDateTime now = Now();
      const double days = double(max_age_) / double(SecsPerDay);
      SetExpiresText(FormatInternetDate(days < latest - now ? now + days : latest, false));
    }
  }
}

std::string TIdCookieRFC2109::CookieAttributeText() const {
  std::string text = TIdNetscapeCookie::CookieAttributeText();
  if (max_age_ >= 0 && expires_.empty())
    text = AppendCookieAttribute("max-age", IntToStr(max_age_), std::move(text));
  text = AppendCookieAttribute("comment", comment_, std::move(text));
  text = AppendCookieAttribute("version", version_, std::move(text));
  return text;
}

// --- TIdCookieRFC2965 -----------------------------------------------------

TIdCookieRFC2965::TIdCookieRFC2965(TCollection* collection) : TIdCookieRFC2109(collection) {
  internal_version_ = 2;
}

void TIdCookieRFC2965::LoadAttributes(const TIdCookieAttributes& attributes) {
  TIdCookieRFC2109::LoadAttributes(attributes);
  comment_url_ = attributes.Value("CommentURL");
  discard_ = attributes.HasEntry("DISCARD");

  const std::string port = attributes.Value("Port");
  if (port.empty()) {
    SetPortEntry(0, 80);
  } else if (port.size() >= 2 && port.front() == '"' && port.back() == '"') {
    std::string items = port.substr(1, port.size() - 2);
    std::vector<std::string> ports;
    while (!items.empty()) {
      std::string item = Trim(TakeToken(items, ","));
      if (!item.empty()) ports.push_back(std::move(item));
    }
    if (ports.empty()) SetPortEntry(0, 80);
    for (size_t i = 0; i < ports.size(); ++i) SetPortEntry(int(i), StrToInt(ports[i]));
  }
}

void TIdCookieRFC2965::SetPortEntry(int index, int32_t port) {
  if (index < 0 || size_t(index) > port_list_.size()) throw EIdException("Index out of range.");
  if (size_t(index) == port_list_.size()) port_list_.push_back(port);
  else port_list_[size_t(index)] = port;
}

}  // namespace ah
