#pragma once
// Cookie records, one class per cookie dialect: the Netscape form, RFC 2109
// (max-age, version, comment) and RFC 2965 (comment address, discard,
// ports). Each is filled from a "Set-cookie"/"Set-cookie2" header value and
// can write itself back as attribute text or as the name=value pair a
// request carries.
//
// The records are items of a TIdCookies collection (http/cookie_jar.h),
// which owns them. Deleting a record unfiles it from its collection's
// domain index and takes it out of the collection, under the collection's
// write lock.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/collection.h"

namespace ah {

class TIdCookies;

// Normalised attributes of one cookie text: "NAME=value" entries (name
// upper-cased, value as received) and upper-cased flags ("SECURE").
class TIdCookieAttributes {
 public:
  void Add(std::string entry) { entries_.push_back(std::move(entry)); }
  // The value of the first "name=value" entry whose name equals name
  // ignoring case; empty when there is none. Flags have no value.
  std::string Value(std::string_view name) const;
  // True when an entry is exactly flag.
  bool HasEntry(std::string_view flag) const;
  const std::vector<std::string>& Entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
};

class TIdNetscapeCookie : public TCollectionItem {
 public:
  AH_CLASS_NAME(TIdNetscapeCookie)
  explicit TIdNetscapeCookie(TCollection* collection);
  ~TIdNetscapeCookie() override;

  // Fills the record from a header value; the same text as last time does
  // nothing. Never raises, except for a Set-cookie2 port that is not an
  // integer (EConvertError).
  void ParseCookieText(std::string_view text);
  // The full attribute text: name=value; path=...; expires=...; domain=...
  virtual std::string CookieAttributeText() const;
  virtual void SetExpiresText(std::string_view text);
  virtual std::string ServerCookie() const { return CookieAttributeText(); }
  // CookieName=Value, as a request sends it.
  virtual std::string ClientCookie() const { return cookie_name_ + "=" + value_; }
  virtual void LoadAttributes(const TIdCookieAttributes& attributes);
  // Whether a cookie with this Domain may be accepted from host: the host
  // is the domain (a leading dot aside) or inside it, and the domain is no
  // public suffix unless it is the host itself.
  virtual bool IsValidForHost(std::string_view host) const;
  // Takes over an RFC 2109 record (or a descendant) by parsing its server
  // text and copying its dialect; any other source is ignored.
  void CopyFrom(const TIdNetscapeCookie& source);

  const std::string& CookieText() const { return cookie_text_; }
  void SetCookieText(std::string_view text) { ParseCookieText(text); }
  const std::string& Domain() const { return domain_; }
  void SetDomain(std::string domain) { domain_ = std::move(domain); }
  const std::string& Expires() const { return expires_; }
  void SetExpires(std::string_view text) { SetExpiresText(text); }
  const std::string& CookieName() const { return cookie_name_; }
  void SetCookieName(std::string name) { cookie_name_ = std::move(name); }
  const std::string& Path() const { return path_; }
  void SetPath(std::string path) { path_ = std::move(path); }
  bool Secure() const { return secure_; }
  void SetSecure(bool secure) { secure_ = secure; }
  const std::string& Value() const { return value_; }
  void SetValue(std::string value) { value_ = std::move(value); }
  // 0 = Netscape form, 1 = RFC 2109, 2 = RFC 2965.
  uint8_t InternalVersion() const { return internal_version_; }
  void SetInternalVersion(uint8_t version) { internal_version_ = version; }

 protected:
  std::string expires_;
  uint8_t internal_version_ = 0;

 private:
  std::string cookie_text_;
  std::string domain_;
  std::string cookie_name_;
  std::string path_;
  bool secure_ = false;
  std::string value_;
};

class TIdCookieRFC2109 : public TIdNetscapeCookie {
 public:
  AH_CLASS_NAME(TIdCookieRFC2109)
  explicit TIdCookieRFC2109(TCollection* collection);

  std::string CookieAttributeText() const override;
  // Also derives MaxAge: the whole seconds from now until the date
  // (negative for a past date, hugely so for an unreadable one).
  void SetExpiresText(std::string_view text) override;
  void LoadAttributes(const TIdCookieAttributes& attributes) override;

  // Seconds; -1 means none.
  int64_t MaxAge() const { return max_age_; }
  void SetMaxAge(int64_t max_age) { max_age_ = max_age; }
  const std::string& Version() const { return version_; }
  void SetVersion(std::string version) { version_ = std::move(version); }
  const std::string& Comment() const { return comment_; }
  void SetComment(std::string comment) { comment_ = std::move(comment); }

 private:
  int64_t max_age_ = -1;
  std::string version_;
  std::string comment_;
};

class TIdCookieRFC2965 : public TIdCookieRFC2109 {
 public:
  AH_CLASS_NAME(TIdCookieRFC2965)
  explicit TIdCookieRFC2965(TCollection* collection);

  void LoadAttributes(const TIdCookieAttributes& attributes) override;
  // index may be one past the last entry (the list grows by one); anything
  // further out raises EIdException "Index out of range.".
  void SetPortEntry(int index, int32_t port);

  const std::string& CommentURL() const { return comment_url_; }
  void SetCommentURL(std::string url) { comment_url_ = std::move(url); }
  bool Discard() const { return discard_; }
  void SetDiscard(bool discard) { discard_ = discard; }
  const std::vector<int32_t>& PortList() const { return port_list_; }

 private:
  std::string comment_url_;
  bool discard_ = false;
  std::vector<int32_t> port_list_;
};

// Appends "; " (when text is not empty) and name=value, only when value is
// not empty.
std::string AppendCookieAttribute(std::string_view name, std::string_view value,
                                  std::string text);
// Appends "; " (when text is not empty) and flag.
std::string AppendCookieFlag(std::string_view flag, std::string text);
// Whether a cookie filed under domain goes to host: a domain with a leading
// dot goes to that domain and every host inside it (on label boundaries),
// any other only to that very host; letter case is ignored.
bool CookieDomainMatches(std::string_view domain, std::string_view host);

}  // namespace ah
