#pragma once
// The harvest run: signs in, walks the album page by page, and saves every
// full-size image of every photo page into a folder named after the album.
// It runs start to finish on the caller's thread and reaches its
// surroundings only through its ports (harvest_ports.h).
//
// Every photo and album page ends in an outcome (saved, already there, or
// failed with its reason); the log lines and the closing summary are made
// from them, and the run hands them all back.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/fetch/image_fetcher.h"
#include "app/fetch/proxy_choice.h"
#include "app/fetch/transfer_policy.h"
#include "app/harvest/harvest_client.h"
#include "app/harvest/harvest_outcome.h"
#include "app/harvest/harvest_ports.h"
#include "app/site/site_profile.h"

namespace ah {

// Everything a front end chooses for a run.
struct HarvestSettings {
  SiteProfile profile = DefaultSiteProfile();
  // Album folders are made inside it: a file-system name, used as the bytes
  // it is (a trailing "/" is optional). Empty means the executable's folder.
  std::string output_dir;
  // Retries and time-outs of the sign-in, the pages and the images.
  TransferPolicy transfer;
  // The proxy of pages and images alike; none: the proxy variables decide.
  std::optional<ProxyAddress> proxy;
  // Photo pages and images are fetched on this many connections at once,
  // each with a client of its own in the run's session; 1 keeps all
  // requests on the run's client, one after the other.
  int jobs = 1;
  // Each job (the run's own thread is one) pauses this long before each
  // request after its first.
  std::chrono::milliseconds wait{0};
  // The bytes per second of all pages and images together (0: no limit).
  int64_t limit_rate = 0;
  // Downloads every image again, whatever the folder holds.
  bool force = false;
  // Makes the image fetcher of each job.
  std::function<std::unique_ptr<ImageFetcher>()> image_fetcher = NewCurlImageFetcher;
};

// The client is renewed and signed in again before every page that would
// be the 21st since the last sign-in.
inline constexpr int kPagesPerSignIn = 20;
// The walk goes to no page past this one: a site whose every page links to
// the next is no album.
inline constexpr int kMostAlbumPages = 10000;
// The log is emptied before a page when it holds more lines than this.
inline constexpr int kLogLineLimit = 600;

// The whole run. Network and download failures become outcomes; what gets
// out is only what the surroundings themselves throw.
HarvestReport RunHarvest(const HarvestSurroundings& around, const HarvestSettings& settings);

// The run over `albums`, one after the other, in one session: the first
// signs in (and a renewal comes before every 21st page of an album). Each
// album's block of the log begins with its address when there are several,
// and ends with its summary and folder; the totals follow, then the last
// line. A stop ends the run with the album it cuts short.
HarvestRunReport RunHarvests(const HarvestSurroundings& around, const HarvestSettings& settings,
                             const std::vector<std::string>& albums);

}  // namespace ah
