#pragma once
// The photo work of a harvest: photo pages and image downloads, handed to
// the jobs (one, on the run's own client, or several threads with clients
// of their own that share the run's cookie jar), and their results taken
// back in album order. Numbers, file names, the decisions about what is on
// disk already, the log lines, the report and the manifest are all made
// here, on the run's thread, in the order a one-job run makes them; so a
// run gives the same files, names, log and manifest whatever the number
// of jobs.

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/harvest/harvest_outcome.h"
#include "app/harvest/harvest_run.h"
#include "app/harvest/job_pool.h"

namespace ah {

class AlbumFolder;
class ImageFetcher;
class JobPace;
class SitePace;
struct FoundImage;

class HarvestScheduler {
 public:
  // With settings.jobs above 1 the jobs' clients are made through the
  // client slot and share the cookie jar of the client it holds. The jobs
  // keep to `site`'s pace; with one job it is the run's own, `own`.
  HarvestScheduler(const HarvestSurroundings& around, const HarvestSettings& settings,
                   HarvestReport& report, SitePace& site, JobPace& own);
  ~HarvestScheduler();

  enum class StepKind {
    kLine,      // a line of the page it comes in
    kPageLine,  // the line that opens an album page
    kChore,     // upkeep of the log that tells nothing
  };
  // Something for the log, done when everything handed over before it is.
  // After a stop, a page line still waiting is left out unless a photo or
  // a line of its page follows it: a page none of whose photos were
  // reached does not show.
  void AddStep(std::function<void()> step, StepKind kind = StepKind::kLine);
  // A photo page found on an album page; its images go into `folder`
  // (the file system's name, with a trailing "/", or empty), whose
  // manifest `album` keeps (may be null).
  void AddPhotoPage(std::string address, std::string folder, AlbumFolder* album);

  // Waits until every photo page handed over is read and its images are
  // numbered.
  void FinishPhotoPages();
  // Waits until all work is done and taken back.
  void Settle();
  // After the run's client signed in anew: the jobs' clients act in its
  // session. Only while nothing is under way (after Settle).
  void ShareCookies();

  // The album page the run is at, for the progress shown.
  void SetPage(int page);

 private:
  struct PageWork;
  struct ImageWork;
  struct Entry;

  bool Stopping();
  void Advance();
  bool Ready(const Entry& entry) const;
  // Turns finished photo pages, in order, into their photos.
  void Number();
  void NumberPage(std::list<Entry>::iterator at);
  Entry FailedPagePhoto(const PageWork& work);
  // A photo taken up from the earlier run's images, or one to download.
  Entry ImagePhoto(const PageWork& work, const FoundImage& image);
  void Release();
  // Whether a photo or line of the page that the front entry opens is in
  // the queue; nothing while a photo page ahead is still being read.
  std::optional<bool> PageReached() const;
  void ReleasePhoto(Entry& entry);
  // Puts a finished download into the photo's record; false when the
  // manifest is not to record it.
  bool TakeDownload(PhotoOutcome& photo, const ImageWork& image);
  // Takes back what the jobs finish until `done` says so.
  void WaitFor(const std::function<bool()>& done);
  void ShowProgress();

  const HarvestSurroundings& around_;
  const HarvestSettings& settings_;
  HarvestReport& report_;
  SitePace& site_;
  std::list<Entry> queue_;
  int page_ = 0;
  int next_number_ = 1;
  int64_t bytes_ = 0;
  int saved_ = 0;  // released photos saved or already there
  size_t pages_counted_ = 0, failed_pages_ = 0;  // of report_.pages
  std::vector<AlbumFolder*> touched_;

  // The jobs' own connections (none with one job: it is the run's).
  std::vector<IHTTPClient*> clients_;
  std::vector<std::unique_ptr<ImageFetcher>> fetchers_;
  std::vector<std::unique_ptr<ScratchLines>> scratches_;
  std::vector<std::unique_ptr<JobPace>> paces_;
  std::unique_ptr<JobPool> pool_;
};

}  // namespace ah
