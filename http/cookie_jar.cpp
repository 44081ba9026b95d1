#include "http/cookie_jar.h"

#include <algorithm>

#include "framework/date_time.h"
#include "framework/exception.h"
#include "framework/sysutils.h"
#include "http/protocol_utils.h"
#include "http/public_suffix.h"

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

// A Domain attribute makes the cookie the whole domain's, filed with a
// leading dot. An address host, or a public suffix that is the host itself,
// keeps it the host's alone.
std::string FiledDomain(std::string_view domain, std::string_view host) {
  if (!domain.empty() && domain[0] == '.') domain.remove_prefix(1);
  if (IsIPAddress(host) || host.find(':') != std::string_view::npos || IsPublicSuffix(domain))
    return std::string(host);
  return "." + std::string(domain);
}

// The cookie's path is the request's or a parent of it: /app goes with
// /app, /app/ and /app/x, never with /apple.
bool CookiePathMatches(std::string_view path, std::string_view request_path) {
  if (path.empty() || request_path.substr(0, path.size()) != path) return false;
  return request_path.size() == path.size() || path.back() == '/' ||
         request_path[path.size()] == '/';
}

}  // namespace

// --- TIdCookieList --------------------------------------------------------

TIdNetscapeCookie* TIdCookieList::CookieAt(int index) const {
  return dynamic_cast<TIdNetscapeCookie*>(Objects(index));
}

TIdCookieList* TIdCookieList::ListAt(int index) const {
  return dynamic_cast<TIdCookieList*>(Objects(index));
}

int TIdCookieList::IndexOfSerial(uint64_t serial) const {
  auto at = std::lower_bound(entries_.begin(), entries_.end(), serial,
                             [](const Entry& e, uint64_t s) { return e.serial < s; });
  return int(at - entries_.begin());
}

int TIdCookieList::IndexOfKey(std::string_view key) const {
  if (!sorted_) {
    auto found = keys_.find(LowerCase(key));
    return found == keys_.end() ? -1 : IndexOfSerial(found->second.first_serial);
  }
  for (size_t i = 0; i < entries_.size(); ++i)
    if (SameText(entries_[i].key, key)) return int(i);
  return -1;
}

int TIdCookieList::Add(std::string key, TPersistent* object) {
  if (!sorted_) {
    const uint64_t serial = next_serial_++;
    auto [use, fresh] = keys_.try_emplace(LowerCase(key), KeyUse{serial, 0});
    ++use->second.count;
    entries_.push_back({std::move(key), object, serial});
    return int(entries_.size()) - 1;
  }
  size_t at = 0;
  while (at < entries_.size() && CompareText(entries_[at].key, key) < 0) ++at;
  entries_.insert(entries_.begin() + long(at), {std::move(key), object, 0});
  return int(at);
}

void TIdCookieList::Delete(int index) {
  const Entry gone = entries_[size_t(index)];
  entries_.erase(entries_.begin() + index);
  if (sorted_) return;
  auto use = keys_.find(LowerCase(gone.key));
  if (--use->second.count == 0) {
    keys_.erase(use);
  } else if (use->second.first_serial == gone.serial) {
    // A later entry of the same key is the first now.
    for (size_t i = size_t(index); i < entries_.size(); ++i) {
      if (SameText(entries_[i].key, gone.key)) {
        use->second.first_serial = entries_[i].serial;
        break;
      }
    }
  }
}

void TIdCookieList::Clear() {
  entries_.clear();
  keys_.clear();
}

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
  if (filed >= 0) {
    TIdNetscapeCookie* existing = names.CookieAt(filed);
    try {
      existing->CopyFrom(*cookie);
      delete cookie;
      NoteSet(existing, filings_.at(existing));
      return existing;
    } catch (const EConvertError&) {
      // The takeover reads the newcomer's text, which cuts a path or domain
      // holding ";" (a request directory given as the default path), and a
      // Set-cookie2 record raises on a false port list cut out that way.
      // The newcomer, read fine on its own, takes the namesake's place.
      delete existing;
    }
  }
  names.Add(cookie->CookieName(), cookie);
  Filing& filing = filings_[cookie];
  filing.names = &names;
  filing.site = RegistrableDomain(cookie->Domain());
  Recency& site = sites_[filing.site];
  filing.in_jar = recency_.insert(recency_.end(), cookie);
  filing.in_site = site.insert(site.end(), cookie);
  NoteExpiry(cookie, filing);
  // The newest record is never the one to go: it is the last of both.
  if (int(site.size()) > kMaxPerSite) delete site.front();
  if (int(filings_.size()) > kMaxCookies) delete recency_.front();
  return cookie;
}

void TIdCookies::NoteSet(TIdNetscapeCookie* cookie, Filing& filing) {
  recency_.splice(recency_.end(), recency_, filing.in_jar);
  Recency& site = sites_[filing.site];
  site.splice(site.end(), site, filing.in_site);
  NoteExpiry(cookie, filing);
}

void TIdCookies::NoteExpiry(TIdNetscapeCookie* cookie, Filing& filing) {
  if (filing.dated) expiries_.erase(filing.expiry);
  filing.dated = false;
  if (cookie->Expires().empty()) return;
  try {
    // As a UTC day count, so a change of the local offset changes nothing.
    const double at = InternetDateToLocal(cookie->Expires()) - LocalOffsetFromUtc();
    filing.expiry = expiries_.emplace(at, cookie);
    filing.dated = true;
  } catch (const Exception&) {
    // Without the local zone no date can be judged; the record stays.
  }
}

void TIdCookies::PurgeExpiredCookies() {
  TWriteLockGuard guard(lock_);
  if (expiries_.empty()) return;
  const TDateTime now = Now();
  const double now_utc = now - LocalOffsetFromUtc();
  std::vector<TIdNetscapeCookie*> due;
  for (auto at = expiries_.begin(); at != expiries_.end() && at->first < now_utc; ++at)
    due.push_back(at->second);
  // Each once: the record's own text decides, as it may have changed.
  for (TIdNetscapeCookie* cookie : due) {
    const std::string& expires = cookie->Expires();
    if (!expires.empty() && now > InternetDateToLocal(expires)) {
      delete cookie;
    } else {
      NoteExpiry(cookie, filings_.at(cookie));
    }
  }
}

int TIdCookies::FiledCount() {
  TReadLockGuard guard(lock_);
  return int(filings_.size());
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

void TIdCookies::Removing(TCollectionItem* item) {
  auto* cookie = static_cast<TIdNetscapeCookie*>(item);
  TWriteLockGuard guard(lock_);
  auto found = filings_.find(cookie);
  if (found != filings_.end()) {
    Filing& filing = found->second;
    TIdCookieList& names = *filing.names;
    int at = names.IndexOfKey(cookie->CookieName());
    if (at < 0 || names.Objects(at) != cookie) {
      // Renamed by hand after filing: found by identity.
      at = -1;
      for (int i = 0; i < names.Count() && at < 0; ++i)
        if (names.Objects(i) == cookie) at = i;
    }
    if (at >= 0) names.Delete(at);
    recency_.erase(filing.in_jar);
    auto site = sites_.find(filing.site);
    site->second.erase(filing.in_site);
    if (site->second.empty()) sites_.erase(site);
    if (filing.dated) expiries_.erase(filing.expiry);
    filings_.erase(found);
  }
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
  // A control byte (a tab aside) could never go out on the Cookie line: the
  // site's later requests would all be refused.
  if (std::any_of(text.begin(), text.end(), [](char c) {
        return c != '\t' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F);
      })) {
    return;
  }
  record->ParseCookieText(text);
  if (record->CookieName().size() + record->Value().size() > kMaxPairBytes) return;
  const bool host_only = record->Domain().empty();
  if (host_only) record->SetDomain(std::string(host));
  // Without a default a cookie set with no path would never match a
  // request and so never be sent.
  if (record->Path().empty()) record->SetPath(DefaultCookiePath(request_path));
  if (!record->IsValidForHost(host)) return;
  if (!host_only) record->SetDomain(FiledDomain(record->Domain(), host));
  if (!DoOnNewCookie(record.get())) return;
  cookie_collection_->IndexCookie(record.release());
}

std::string TIdCookieManager::BuildCookieHeader(const TIdURI& uri, bool secure) {
  PurgeExpiredCookies();
  TIdDomainIndexLock lock(*cookie_collection_, ReadAccess);
  const TIdCookieList& index = lock.Index();
  if (index.Count() == 0) return {};

  // The domains that can go to the host: the host itself and every dotted
  // tail of "." + host. Taken in index order.
  const std::string& host = uri.Host();
  std::vector<int> domains;
  auto look_up = [&](std::string_view domain) {
    const int d = index.IndexOfKey(domain);
    if (d >= 0 && CookieDomainMatches(index.Keys(d), host)) domains.push_back(d);
  };
  look_up(host);
  const std::string dotted = "." + host;
  for (size_t dot = 0; dot != std::string::npos; dot = dotted.find('.', dot + 1))
    look_up(std::string_view(dotted).substr(dot));
  std::sort(domains.begin(), domains.end());
  domains.erase(std::unique(domains.begin(), domains.end()), domains.end());

  std::string request_path = uri.Path() + uri.Document();
  if (request_path.empty()) request_path = "/";
  std::vector<const TIdNetscapeCookie*> selected;
  for (int d : domains) {
    const TIdCookieList& names = *index.ListAt(d);
    for (int i = names.Count() - 1; i >= 0; --i) {
      const TIdNetscapeCookie* cookie = names.CookieAt(i);
      if (!CookiePathMatches(cookie->Path(), request_path)) continue;
      if (cookie->Secure() && !secure) continue;
      if (cookie->Value().empty()) continue;
      selected.push_back(cookie);
    }
  }
  // Longer paths (later keys, ignoring case) first; equal paths in the
  // order they were selected.
  std::stable_sort(selected.begin(), selected.end(),
                   [](const TIdNetscapeCookie* a, const TIdNetscapeCookie* b) {
                     return CompareText(a->Path(), b->Path()) > 0;
                   });

  std::string text;
  for (const TIdNetscapeCookie* cookie : selected) {
    if (!text.empty()) text += "; ";
    text += cookie->CookieName() + "=" + cookie->Value();
  }
  return text;
}

void TIdCookieManager::PurgeExpiredCookies() { cookie_collection_->PurgeExpiredCookies(); }

// --- matching rules -------------------------------------------------------

std::string DefaultCookiePath(std::string_view request_path) {
  if (request_path.empty() || request_path[0] != '/') return "/";
  const size_t last = request_path.rfind('/');
  if (last == 0) return "/";
  return std::string(request_path.substr(0, last));
}

}  // namespace ah
