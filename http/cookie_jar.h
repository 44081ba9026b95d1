#pragma once
// The cookie jar: TIdCookieManager keeps the cookies servers set and builds
// the "Cookie" header for each request; TIdCookies holds the records,
// indexed by domain and name under a readers-writer lock.
//
// Ownership: the manager owns its TIdCookies; the collection owns its
// records and the per-domain lists of its index. Lists never own the
// objects they point to.

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/collection.h"
#include "framework/rw_lock.h"
#include "http/cookie.h"
#include "http/uri.h"
#include "transport/component.h"

namespace ah {

enum TIdCookieAccess { ReadAccess = 0, ReadWriteAccess = 1 };

// Key texts with an object each. Key lookup ignores letter case and finds
// the first match; an unsorted list finds it through a hash of the keys. A
// sorted list keeps its keys in ascending order (ignoring case) and takes
// duplicates, a new key going before the equal ones already present.
class TIdCookieList : public TPersistent {
 public:
  AH_CLASS_NAME(TIdCookieList)
  explicit TIdCookieList(bool sorted = false) : sorted_(sorted) {}

  int Count() const { return int(entries_.size()); }
  const std::string& Keys(int index) const { return entries_[size_t(index)].key; }
  TPersistent* Objects(int index) const { return entries_[size_t(index)].object; }
  // The object of entry index as a cookie record / as a list; null when it
  // is something else.
  TIdNetscapeCookie* CookieAt(int index) const;
  TIdCookieList* ListAt(int index) const;
  // -1 when absent.
  int IndexOfKey(std::string_view key) const;
  // Returns the index the entry got.
  int Add(std::string key, TPersistent* object);
  // Cheap at either end.
  void Delete(int index);
  void Clear();

 private:
  struct Entry {
    std::string key;
    TPersistent* object;
    // Unsorted lists: rises with every Add, so entries are in its order.
    uint64_t serial;
  };
  struct KeyUse {
    uint64_t first_serial;
    int count;
  };
  int IndexOfSerial(uint64_t serial) const;

  bool sorted_;
  std::deque<Entry> entries_;
  // Unsorted lists: the lower-cased keys in use.
  std::unordered_map<std::string, KeyUse> keys_;
  uint64_t next_serial_ = 0;
};

// The cookies of a jar: the collection owns the records, the domain index
// files them by domain and name. The jar is bounded against a server that
// sets cookies without end: at most kMaxPerSite records per registrable
// domain (example.co.uk for a.b.example.co.uk, see RegistrableDomain) and
// kMaxCookies in all; a record filed beyond either bound frees the least
// recently set record of its site, or of the jar. Filing, replacing,
// unfiling and purging cost a few hash and tree steps each, not a pass
// over the jar.
class TIdCookies : public TCollection {
 public:
  AH_CLASS_NAME(TIdCookies)
  // Chromium's bounds: nginx refuses a request whose Cookie line a site
  // filled beyond them.
  static constexpr int kMaxPerSite = 180;
  static constexpr int kMaxCookies = 3000;

  TIdCookies() = default;
  // Frees every record, then the per-domain lists.
  ~TIdCookies() override;

  // New empty records: items of the collection at once, not yet filed.
  TIdCookieRFC2109* NewCookie();
  TIdCookieRFC2965* NewCookie2();
  // Files a parsed record under its Domain and CookieName, or, when a
  // record of that domain and name (ignoring case) is filed already, lets
  // that one take over the new one and frees the new one. Returns the
  // filed record, which counts as the most recently set. A record that has
  // expired already is not filed: it and its namesake are freed, and the
  // result is null. Takes the write lock.
  TIdNetscapeCookie* IndexCookie(TIdNetscapeCookie* cookie);
  // Frees every filed record whose expiry date has passed. The date of a
  // record is noted when it is filed or replaced; a record whose Expires
  // is changed by hand after that is judged by its noted date, and by its
  // own text once that date has come. Takes the write lock.
  void PurgeExpiredCookies();
  // Filed records, at most kMaxCookies.
  int FiledCount();

  // The domain index: keys are domains, objects the per-domain lists
  // (keys cookie names, objects the records). Every reader and writer goes
  // through this pair, with the same access kind on both.
  TIdCookieList& LockDomainIndex(TIdCookieAccess access);
  void UnlockDomainIndex(TIdCookieAccess access);

  TIdNetscapeCookie* Cookies(int index) const {
    return static_cast<TIdNetscapeCookie*>(Items(index));
  }

 private:
  using Recency = std::list<TIdNetscapeCookie*>;
  using Expiries = std::multimap<double, TIdNetscapeCookie*>;
  // Where a filed record is, for unfiling and eviction without a search.
  struct Filing {
    TIdCookieList* names;
    std::string site;
    Recency::iterator in_jar;
    Recency::iterator in_site;
    bool dated = false;
    Expiries::iterator expiry;
  };
  // A record leaving the collection (deleted, most often): unfiles it, its
  // own entries only, under the write lock.
  void Removing(TCollectionItem* item) override;
  template <typename Cookie>
  Cookie* AddCookie();
  void NoteSet(TIdNetscapeCookie* cookie, Filing& filing);
  void NoteExpiry(TIdNetscapeCookie* cookie, Filing& filing);
  void Evict();

  TIdCookieList domain_index_;
  TReadWriteLock lock_;
  std::unordered_map<const TIdNetscapeCookie*, Filing> filings_;
  // Least recently set first.
  Recency recency_;
  std::unordered_map<std::string, Recency> sites_;
  // Filed records with an expiry date, by that date as a UTC day count.
  Expiries expiries_;
};

// Holds the domain index locked for as long as it lives.
class TIdDomainIndexLock {
 public:
  TIdDomainIndexLock(TIdCookies& cookies, TIdCookieAccess access)
      : cookies_(cookies), access_(access), index_(cookies.LockDomainIndex(access)) {}
  ~TIdDomainIndexLock() { cookies_.UnlockDomainIndex(access_); }
  TIdDomainIndexLock(const TIdDomainIndexLock&) = delete;
  TIdDomainIndexLock& operator=(const TIdDomainIndexLock&) = delete;
  TIdCookieList& Index() const { return index_; }

 private:
  TIdCookies& cookies_;
  TIdCookieAccess access_;
  TIdCookieList& index_;
};

class TIdCookieManager;

using TOnManagerEvent = std::function<void(TComponent* ASender, TIdCookies* ACookieCollection)>;
using TOnNewCookieEvent =
    std::function<void(TComponent* ASender, TIdNetscapeCookie* ACookie, bool& VAccept)>;

class TIdCookieManager : public TIdBaseComponent {
 public:
  AH_CLASS_NAME(TIdCookieManager)
  static constexpr size_t kMaxPairBytes = 4096;
  // Creates the collection and raises OnCreate with it; a handler that must
  // see that is given here, since none can be assigned earlier.
  explicit TIdCookieManager(TComponent* owner, TOnManagerEvent on_create = {});
  // Purges expired cookies, raises OnDestroy, frees the collection.
  ~TIdCookieManager() override;

  // Stores a "Set-cookie" / "Set-cookie2" value received from host in
  // answer to a request for request_path (the request's path, or its
  // directory part as TIdURI::Path gives it). A cookie without a path gets
  // the default path of that request (see DefaultCookiePath). A cookie
  // whose name and value together exceed kMaxPairBytes is dropped.
  void TakeSetCookie(std::string_view text, std::string_view host,
                     std::string_view request_path = "/");
  void TakeSetCookie2(std::string_view text, std::string_view host,
                      std::string_view request_path = "/");
  // The "Cookie" header value for a request to uri (its Host, Path and
  // Document); empty when no cookie applies. secure: the connection can be TLS. Looks
  // only at the domains that can go to the host.
  std::string BuildCookieHeader(const TIdURI& uri, bool secure);
  // Frees every cookie whose expiry date has passed.
  void PurgeExpiredCookies();

  TIdCookies& CookieCollection() { return *cookie_collection_; }

  const TOnManagerEvent& OnCreate() const { return on_create_; }
  void SetOnCreate(TOnManagerEvent handler) { on_create_ = std::move(handler); }
  const TOnManagerEvent& OnDestroy() const { return on_destroy_; }
  void SetOnDestroy(TOnManagerEvent handler) { on_destroy_ = std::move(handler); }
  const TOnNewCookieEvent& OnNewCookie() const { return on_new_cookie_; }
  void SetOnNewCookie(TOnNewCookieEvent handler) { on_new_cookie_ = std::move(handler); }

 protected:
  virtual void DoOnCreate();
  virtual void DoOnDestroy();
  // True when the cookie is to be kept.
  virtual bool DoOnNewCookie(TIdNetscapeCookie* cookie);

 private:
  void StoreReceivedCookie(TIdNetscapeCookie* cookie, std::string_view text,
                           std::string_view host, std::string_view request_path);

  std::unique_ptr<TIdCookies> cookie_collection_;
  TOnManagerEvent on_create_;
  TOnManagerEvent on_destroy_;
  TOnNewCookieEvent on_new_cookie_;
};

// The path a cookie without one is given: the request path up to, not
// including, its last "/"; "/" when that leaves nothing or the path does
// not begin with "/". /login/ gives /login, /a/p.html gives /a.
std::string DefaultCookiePath(std::string_view request_path);

}  // namespace ah
