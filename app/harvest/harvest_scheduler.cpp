#include "app/harvest/harvest_scheduler.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "app/album/album_folder.h"
#include "app/album/photo_file_name.h"
#include "app/fetch/harvest_transfers.h"
#include "app/fetch/site_pace.h"
#include "app/site/page_scan.h"
#include "app/site/scratch_lines.h"
#include "app/fetch/stop_flag.h"
#include "framework/sysutils.h"
#include "http/http_client_interface.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "app/fetch/image_fetcher.h"

namespace ah {
namespace {

// How long the run's thread waits for a job before it looks at the stop
// flag and the progress again.
constexpr std::chrono::milliseconds kWaitSlice{50};

}  // namespace

// A photo page: fetched by a job, or taken from the manifest.
struct HarvestScheduler::PageWork {
  std::string address;
  std::string folder;
  AlbumFolder* album = nullptr;
  JobPool::TaskRef task;  // none: nothing to fetch
  // The job's result.
  std::optional<TransferFailure> failure;
  int attempts = 0;
  std::vector<FoundImage> images;
};

struct HarvestScheduler::ImageWork {
  ImageTransfer saved;
  std::optional<FileDigest> digest;
};

// One place in album order: a log step, a photo page not yet numbered, or
// a photo.
struct HarvestScheduler::Entry {
  std::function<void()> step;
  StepKind kind = StepKind::kLine;
  std::shared_ptr<PageWork> page;
  bool photo = false;
  PhotoOutcome outcome;
  AlbumFolder* album = nullptr;
  std::shared_ptr<ImageWork> image;
  JobPool::TaskRef task;  // the download, when there is one
};

HarvestScheduler::HarvestScheduler(const HarvestSurroundings& around,
                                   const HarvestSettings& settings, HarvestReport& report,
                                   SitePace& site, JobPace& own)
    : around_(around), settings_(settings), report_(report), site_(site) {
  for (int i = 0; settings.jobs > 1 && i < settings.jobs; ++i) {
    IHTTPClient* client = around_.client.CreateIdHTTP();
    if (!client) break;
    ConfigureHarvestClient(*client, settings.transfer);
    clients_.push_back(client);
  }
  if (clients_.size() < 2) {
    for (IHTTPClient* client : clients_) delete client;
    clients_.clear();
    fetchers_.push_back(settings.image_fetcher());
    pool_ = std::make_unique<JobPool>(JobTools{[this] { return around_.client.IdHTTP1(); },
                                               fetchers_.back().get(), &around_.scratch, &own});
    return;
  }
  std::vector<JobTools> jobs;
  for (IHTTPClient* client : clients_) {
    fetchers_.push_back(settings.image_fetcher());
    scratches_.push_back(std::make_unique<ScratchLines>());
    paces_.push_back(std::make_unique<JobPace>(&site));
    jobs.push_back({[client] { return client; }, fetchers_.back().get(), scratches_.back().get(),
                    paces_.back().get()});
  }
  ShareCookies();
  pool_ = std::make_unique<JobPool>(std::move(jobs), [&site] { return site.JobsInUse(); });
}

HarvestScheduler::~HarvestScheduler() {
  pool_.reset();
  for (IHTTPClient* client : clients_) delete client;
}

void HarvestScheduler::ShareCookies() {
  IHTTPClient* holder = around_.client.IdHTTP1();
  if (!holder) return;
  for (IHTTPClient* client : clients_) client->ShareCookiesOf(*holder);
}

bool HarvestScheduler::Stopping() { return report_.Stopping(around_.stop); }

void HarvestScheduler::SetPage(int page) {
  page_ = page;
  ShowProgress();
}

void HarvestScheduler::AddStep(std::function<void()> step, StepKind kind) {
  Entry& entry = queue_.emplace_back();
  entry.step = std::move(step);
  entry.kind = kind;
  Advance();
}

void HarvestScheduler::AddPhotoPage(std::string address, std::string folder, AlbumFolder* album) {
  auto work = std::make_shared<PageWork>();
  work->address = std::move(address);
  work->folder = std::move(folder);
  work->album = album;
  std::optional<std::vector<ManifestPhoto>> saved;
  if (album) saved = album->SavedPage(work->address);
  if (saved) {
    for (const ManifestPhoto& photo : *saved)
      work->images.push_back({photo.image_url, photo.title, NameInFileName(photo.file_name)});
  } else {
    work->task = pool_->Submit([this, work](JobTools& tools) {
      TextTransfer fetched = TransferPage(tools.client, work->address, settings_.proxy,
                                          settings_.transfer, around_.stop, tools.pace);
      work->failure = std::move(fetched.failure);
      work->attempts = fetched.attempts;
      if (work->failure) return;
      work->images = ScanPhotoPage(fetched.text, settings_.profile, *tools.scratch);
      // A page read whole that shows no image (a wrong image host, say)
      // stands for a failed photo, as a page that could not be read does.
      if (work->images.empty())
        work->failure = TransferFailure{TransferError::kContent, 0, {}, "нет адреса изображения"};
    });
  }
  queue_.emplace_back().page = std::move(work);
  Advance();
}

bool HarvestScheduler::Ready(const Entry& entry) const {
  if (entry.page) return !entry.page->task || pool_->Done(entry.page->task);
  return !entry.task || pool_->Done(entry.task);
}

void HarvestScheduler::Advance() {
  Number();
  Release();
}

void HarvestScheduler::Number() {
  for (auto it = queue_.begin(); it != queue_.end();) {
    if (!it->page) {
      ++it;
      continue;
    }
    if (!Ready(*it)) return;
    auto next = std::next(it);
    NumberPage(it);
    it = next;
  }
}

void HarvestScheduler::NumberPage(std::list<Entry>::iterator at) {
  const PageWork& work = *at->page;
  // The page's photos take its place; it stays in the queue until then,
  // so that nothing after it is released early.
  auto add = [&](Entry entry) {
    queue_.insert(at, std::move(entry));
    Release();
  };
  if (Cancelled(work.failure)) {
    report_.interrupted = true;
  } else if (work.failure) {
    add(FailedPagePhoto(work));
  } else {
    for (const FoundImage& image : work.images) {
      if (Stopping()) break;
      add(ImagePhoto(work, image));
    }
  }
  queue_.erase(at);
}

HarvestScheduler::Entry HarvestScheduler::FailedPagePhoto(const PageWork& work) {
  // It stands for one photo, so the numbers after it are those a good run
  // gives them.
  Entry entry;
  entry.photo = true;
  entry.album = work.album;
  entry.outcome.attempts = work.attempts;
  ManifestPhoto& record = entry.outcome.record;
  record.number = next_number_++;
  record.page_url = work.address;
  record.status = PhotoStatus::psFailed;
  record.error = OneLine(work.failure->message);
  return entry;
}

HarvestScheduler::Entry HarvestScheduler::ImagePhoto(const PageWork& work, const FoundImage& image) {
  Entry entry;
  entry.photo = true;
  entry.album = work.album;
  ManifestPhoto& record = entry.outcome.record;
  record.number = next_number_++;
  record.title = image.title;
  record.page_url = work.address;
  record.image_url = image.address;
  record.file_name = PhotoFileName(record.number, image.name);
  if (work.album) {
    if (std::optional<ManifestPhoto> taken = work.album->TakeOverOrMakeRoom(
            record.number, record.title, record.page_url, record.image_url, record.file_name)) {
      record = std::move(*taken);
      entry.outcome.already_there = true;
      return entry;
    }
  }
  auto download = std::make_shared<ImageWork>();
  entry.image = download;
  entry.task = pool_->Submit([this, download, url = record.image_url,
                              path = work.folder + record.file_name](JobTools& tools) {
    download->saved = TransferImage(*tools.images, url, path, ChooseProxy(url, settings_.proxy),
                                    settings_.transfer, around_.stop, tools.pace);
    if (!download->saved.failure) download->digest = DigestFile(path);
  });
  return entry;
}

void HarvestScheduler::Release() {
  bool released = false;
  bool page_end = false;  // the photos before a page line are all in
  while (!queue_.empty()) {
    Entry& entry = queue_.front();
    if (entry.page || !Ready(entry)) break;
    if (entry.kind == StepKind::kPageLine && Stopping()) {
      const std::optional<bool> reached = PageReached();
      if (!reached) break;
      if (!*reached) {
        queue_.pop_front();
        continue;
      }
    }
    page_end |= entry.kind == StepKind::kPageLine;
    if (entry.step)
      entry.step();
    else
      ReleasePhoto(entry);
    queue_.pop_front();
    released = true;
  }
  if (!released) return;
  for (AlbumFolder* album : touched_) album->Save(page_end);
  ShowProgress();
}

std::optional<bool> HarvestScheduler::PageReached() const {
  // After a stop nothing more is handed over: what follows is all there is.
  for (auto it = std::next(queue_.begin()); it != queue_.end(); ++it) {
    if (it->page) return std::nullopt;
    if (it->photo || it->kind == StepKind::kLine) return true;
    if (it->kind == StepKind::kPageLine) return false;
  }
  return false;
}

void HarvestScheduler::ReleasePhoto(Entry& entry) {
  PhotoOutcome& photo = entry.outcome;
  const bool recorded = !entry.image || TakeDownload(photo, *entry.image);
  around_.log.AddLogLineOf(photo.Saved() ? LogLineKind::kProgress : LogLineKind::kError,
                           PhotoLogLine(photo));
  saved_ += photo.Saved();
  if (entry.album && recorded) {
    entry.album->Record(photo.record);
    if (std::find(touched_.begin(), touched_.end(), entry.album) == touched_.end())
      touched_.push_back(entry.album);
  }
  report_.photos.push_back(std::move(photo));
}

bool HarvestScheduler::TakeDownload(PhotoOutcome& photo, const ImageWork& image) {
  ManifestPhoto& record = photo.record;
  const ImageTransfer& saved = image.saved;
  photo.attempts = saved.attempts;
  record.bytes = uint64_t(saved.bytes);
  if (saved.failure) {
    // A transfer cut short by a stop leaves no file; the photo is told in
    // its place, and the manifest keeps what it knew of it.
    const bool cancelled = Cancelled(saved.failure);
    if (cancelled) report_.interrupted = true;
    record.status = PhotoStatus::psFailed;
    record.error = cancelled ? "прервано" : OneLine(saved.failure->message);
    record.file_name.clear();
    return !cancelled;
  }
  bytes_ += saved.bytes;
  record.status = PhotoStatus::psSaved;
  // A file that cannot be read back is not vouched for.
  if (!image.digest) return false;
  record.bytes = image.digest->bytes;
  record.sha256 = image.digest->sha256;
  return true;
}

void HarvestScheduler::WaitFor(const std::function<bool()>& done) {
  for (;;) {
    const uint64_t seen = pool_->Finished();
    Advance();
    if (done()) return;
    pool_->WaitPast(seen, kWaitSlice);
    ShowProgress();
  }
}

void HarvestScheduler::FinishPhotoPages() {
  WaitFor([this] {
    return std::none_of(queue_.begin(), queue_.end(), [](const Entry& e) { return bool(e.page); });
  });
}

void HarvestScheduler::Settle() {
  WaitFor([this] { return queue_.empty(); });
}

void HarvestScheduler::ShowProgress() {
  if (!around_.progress) return;
  HarvestProgress progress;
  progress.page = page_;
  progress.saved = saved_;
  for (; pages_counted_ < report_.pages.size(); ++pages_counted_)
    failed_pages_ += !report_.pages[pages_counted_].read;
  progress.failed = int(report_.photos.size()) - saved_ + int(failed_pages_);
  progress.found = next_number_ - 1;
  progress.bytes = bytes_;
  progress.jobs_asked = pool_->Jobs();
  progress.jobs = std::min(progress.jobs_asked, site_.JobsInUse());
  around_.progress->ShowProgress(progress);
}

}  // namespace ah
