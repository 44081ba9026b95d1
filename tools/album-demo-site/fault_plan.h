#pragma once
// Faults the demo site can be told to show, so tests can watch a harvest
// meet a broken site: resources that answer an error status (for a while or
// for ever) and a site that stops answering altogether.

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace ah {

struct DemoFaults {
  std::set<int> images;       // photo ids whose full-size image fails
  std::set<int> album_pages;  // album page numbers that fail
  std::set<int> photo_pages;  // photo ids whose photo page fails
  int status = 500;           // the status a failing resource answers
  // Each failing resource fails this many requests and then works (0: it
  // always fails).
  int times = 0;
  // Seconds sent as Retry-After with every failing answer (-1: none).
  int retry_after = -1;
  // The failing resources are accepted and never answered (until the
  // site stops) instead of answering the fault status.
  bool silent = false;
  // After this many requests to the two hosts together every further
  // request is accepted and never answered (-1: never). The /__stats and
  // /__log endpoints neither count nor stall.
  int stall_after = -1;
  // Photo ids whose full-size image is an HTML page sent with 200.
  std::set<int> html_images;
  // Every album page links to the next one; a page past the last shows
  // the last page's photos again.
  bool endless_pages = false;
  // Album pages carry a NUL byte in an HTML comment after their first photo.
  bool nul_in_pages = false;
  // Photo pages show, before the image, an address on the site's own host
  // whose query holds the image host's marker, with a title after it.
  bool foreign_image_links = false;
};

// A comma-separated list of numbers and ranges ("2,5-7"), each at least 1;
// nullopt when the text is not one.
std::optional<std::set<int>> ParseNumberList(std::string_view text);

enum class FaultKind { kImage, kAlbumPage, kPhotoPage };

// The faults' state over one run of the site; safe to share between the
// server threads.
class FaultPlan {
 public:
  explicit FaultPlan(DemoFaults faults) : faults_(std::move(faults)) {}

  const DemoFaults& Faults() const { return faults_; }

  // Whether this request for resource `id` of `kind` is to fail now.
  bool FailsNow(FaultKind kind, int id);
  // Counts a request; true when it is one that must never be answered.
  bool CountAndStalls();
  // Holds the calling server thread until Release.
  void StallUntilReleased();
  // Lets every stalled request go (they then get no useful answer) and
  // stalls no more.
  void Release();
  // Forgets the failures and requests counted so far.
  void StartOver();

 private:
  const DemoFaults faults_;
  std::mutex mutex_;
  std::condition_variable released_cv_;
  bool released_ = false;
  int requests_ = 0;
  std::map<std::pair<FaultKind, int>, int> failed_;
};

}  // namespace ah
