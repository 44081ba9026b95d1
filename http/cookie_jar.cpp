#include "http/cookie_jar.h"

#include "framework/date_time.h"
#include "framework/sysutils.h"
#include "http/protocol_utils.h"

namespace ah {
namespace {

// Whether the expiry date has passed; one that cannot be judged (no local
// zone) has not.
bool IsExpired(const TIdNetscapeCookie& cookie) {
  if (cookie.Expires().empty()) return false;
  try {
    return Now() > InternetDateToLocal(cookie.Expires());
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace

// --- TIdCookieList --------------------------------------------------------

TIdNetscapeCookie* TIdCookieList::CookieAt(int index) const {
  return dynamic_cast<TIdNetscapeCookie*>(Objects(index));
}

TIdCookieList* TIdCookieList::ListAt(int index) const {
  return dynamic_cast<TIdCookieList*>(Objects(index));
}

int TIdCookieList::IndexOfKey(std::string_view key) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (SameText(entries_[i].first, key)) return int(i);
  return -1;
}

int TIdCookieList::Add(std::string key, TPersistent* object) {
  size_t at = entries_.size();
  if (sorted_) {
    at = 0;
    while (at < entries_.size() && CompareText(entries_[at].first, key) < 0) ++at;
  }
  entries_.insert(entries_.begin() + long(at), {std::move(key), object});
  return int(at);
}

void TIdCookieList::Delete(int index) { entries_.erase(entries_.begin() + index); }

// --- TIdCookies -----------------------------------------------------------

TIdCookies::~TIdCookies() {
  // The records unfile themselves, so the index must still be there.
  Clear();
  for (int i = 0; i < domain_index_.Count(); ++i) delete domain_index_.ListAt(i);
  domain_index_.Clear();
}

template <typename Cookie>
Cookie* TIdCookies::AddCookie() {
  // The item list changes only under the write lock, like the index: a
  // purge on another thread frees records too.
  TWriteLockGuard guard(lock_);
  return new Cookie(this);
}

TIdCookieRFC2109* TIdCookies::NewCookie() { return AddCookie<TIdCookieRFC2109>(); }
TIdCookieRFC2965* TIdCookies::NewCookie2() { return AddCookie<TIdCookieRFC2965>(); }

TIdNetscapeCookie* TIdCookies::IndexCookie(TIdNetscapeCookie* cookie) {
  TIdDomainIndexLock lock(*this, ReadWriteAccess);
  TIdCookieList& index = lock.Index();
  int domain = index.IndexOfKey(cookie->Domain());
  if (domain < 0) domain = index.Add(cookie->Domain(), new TIdCookieList());
  TIdCookieList& names = *index.ListAt(domain);
  const int filed = names.IndexOfKey(cookie->CookieName());
  if (IsExpired(*cookie)) {
    // How a server deletes a cookie: the namesake goes, nothing is filed.
    if (filed >= 0) delete names.CookieAt(filed);
    delete cookie;
    return nullptr;
  }
  if (filed < 0) {
    names.Add(cookie->CookieName(), cookie);
    return cookie;
  }
  TIdNetscapeCookie* existing = names.CookieAt(filed);
  existing->CopyFrom(*cookie);
  delete cookie;
  return existing;
}

TIdCookieList& TIdCookies::LockDomainIndex(TIdCookieAccess access) {
  if (access == ReadAccess) lock_.BeginRead();
  else lock_.BeginWrite();
  return domain_index_;
}

void TIdCookies::UnlockDomainIndex(TIdCookieAccess access) {
  if (access == ReadAccess) lock_.EndRead();
  else lock_.EndWrite();
}

void TIdCookies::ReleaseCookie(TIdNetscapeCookie* cookie) {
  TWriteLockGuard guard(lock_);
  for (int d = 0; d < domain_index_.Count(); ++d) {
    TIdCookieList& names = *domain_index_.ListAt(d);
    for (int i = names.Count() - 1; i >= 0; --i)
      if (names.Objects(i) == cookie) names.Delete(i);
  }
  cookie->SetCollection(nullptr);
}

// --- TIdCookieManager -----------------------------------------------------

TIdCookieManager::TIdCookieManager(TComponent* owner, TOnManagerEvent on_create)
    : TIdBaseComponent(owner),
      cookie_collection_(std::make_unique<TIdCookies>()),
      on_create_(std::move(on_create)) {
  DoOnCreate();
}

TIdCookieManager::~TIdCookieManager() {
  try {
    PurgeExpiredCookies();
  } catch (const Exception&) {
    // Without the local zone nothing can be judged expired; all go anyway.
  }
  DoOnDestroy();
  cookie_collection_.reset();
}

void TIdCookieManager::DoOnCreate() {
  if (on_create_) on_create_(this, cookie_collection_.get());
}

void TIdCookieManager::DoOnDestroy() {
  if (on_destroy_) on_destroy_(this, cookie_collection_.get());
}

bool TIdCookieManager::DoOnNewCookie(TIdNetscapeCookie* cookie) {
  bool accept = true;
  if (on_new_cookie_) on_new_cookie_(this, cookie, accept);
  return accept;
}

void TIdCookieManager::TakeSetCookie(std::string_view text, std::string_view host,
                                     std::string_view request_path) {
  StoreReceivedCookie(cookie_collection_->NewCookie(), text, host, request_path);
}

void TIdCookieManager::TakeSetCookie2(std::string_view text, std::string_view host,
                                      std::string_view request_path) {
  StoreReceivedCookie(cookie_collection_->NewCookie2(), text, host, request_path);
}

void TIdCookieManager::StoreReceivedCookie(TIdNetscapeCookie* cookie, std::string_view text,
                                           std::string_view host,
                                           std::string_view request_path) {
  std::unique_ptr<TIdNetscapeCookie> record(cookie);
  record->ParseCookieText(text);
  if (record->Domain().empty()) record->SetDomain(std::string(host));
  // Without a default a cookie set with no path would never match a
  // request and so never be sent.
  if (record->Path().empty()) record->SetPath(DefaultCookiePath(request_path));
  if (!record->IsValidForHost(host)) return;
  if (!DoOnNewCookie(record.get())) return;
  cookie_collection_->IndexCookie(record.release());
}

std::string TIdCookieManager::BuildCookieHeader(const TIdURI& uri, bool secure) {
  PurgeExpiredCookies();
  TIdDomainIndexLock lock(*cookie_collection_, ReadAccess);
  const TIdCookieList& index = lock.Index();
  if (index.Count() == 0) return {};

  TIdCookieList selected(true);
  for (int d = 0; d < index.Count(); ++d) {
    if (!CookieDomainMatches(index.Keys(d), uri.Host())) continue;
    const TIdCookieList& names = *index.ListAt(d);
    for (int i = names.Count() - 1; i >= 0; --i) {
      TIdNetscapeCookie* cookie = names.CookieAt(i);
      const std::string& path = cookie->Path();
      if (path.empty() || uri.Path().compare(0, path.size(), path) != 0) continue;
      if (cookie->Secure() && !secure) continue;
      if (cookie->Value().empty()) continue;
      selected.Add(path, cookie);
    }
  }

  std::string text;
  for (int i = selected.Count() - 1; i >= 0; --i) {
    if (!text.empty()) text += "; ";
    const TIdNetscapeCookie* cookie = selected.CookieAt(i);
    text += cookie->CookieName() + "=" + cookie->Value();
  }
  return text;
}

void TIdCookieManager::PurgeExpiredCookies() {
  TIdDomainIndexLock lock(*cookie_collection_, ReadWriteAccess);
  TIdCookieList& index = lock.Index();
  const TDateTime now = Now();
  for (int d = 0; d < index.Count(); ++d) {
    TIdCookieList& names = *index.ListAt(d);
    for (int i = names.Count() - 1; i >= 0; --i) {
      TIdNetscapeCookie* cookie = names.CookieAt(i);
      if (!cookie->Expires().empty() && now > InternetDateToLocal(cookie->Expires()))
        delete cookie;
    }
  }
}

// --- matching rules -------------------------------------------------------

std::string DefaultCookiePath(std::string_view request_path) {
  if (request_path.empty() || request_path[0] != '/') return "/";
  const size_t last = request_path.rfind('/');
  if (last == 0) return "/";
  return std::string(request_path.substr(0, last));
}

bool CookieDomainMatches(std::string_view domain, std::string_view host) {
  if (SameText(domain, host)) return true;
  // An address has no parent domain: 10.0.0.1 is not inside ".0.0.1".
  if (IsIPAddress(host)) return false;
  if (domain.size() < 2 || domain[0] != '.' || host.size() <= domain.size()) return false;
  return SameText(host.substr(host.size() - domain.size()), domain);
}

}  // namespace ah
