#pragma once
// What a harvest did, one record per photo and per album page, and the log
// lines and summary made from them. The command line's exit code is read
// off the summary.

#include <string>
#include <string_view>
#include <vector>

#include "app/album/album_manifest.h"
#include "app/fetch/stop_flag.h"

namespace ah {

// One photo: an image saved, found on disk or not saved, or a photo page
// that could not be read, which stands for one photo (and takes a number,
// so that the photos after it keep theirs).
struct PhotoOutcome {
  // As album.json keeps it; the error in one line.
  ManifestPhoto record;
  // What only the run needs: whether an earlier run's image was taken up
  // instead of fetched, and how many attempts the transfer took.
  bool already_there = false;
  int attempts = 0;

  bool Saved() const { return record.status == PhotoStatus::psSaved; }
  bool PageFailed() const { return !Saved() && record.image_url.empty(); }
};

struct PageOutcome {
  int number = 0;
  std::string address;
  bool read = false;
  std::string error;  // why it could not be read, in one line
  int attempts = 0;
};

struct HarvestReport {
  std::vector<PageOutcome> pages;
  std::vector<PhotoOutcome> photos;
  // The folder of the last title line (a file-system name with a trailing
  // "/"); empty when no title line came.
  std::string folder;
  bool sign_in_confirmed = false;
  bool interrupted = false;

  // Whether the run is to end early: cut short already, or asked to by
  // `stop` (may be null), which marks it interrupted from then on.
  bool Stopping(const StopFlag* stop) {
    if (StopRequested(stop)) interrupted = true;
    return interrupted;
  }
  int Saved() const;  // saved or already there
  int Found() const;  // every photo recorded
  int Failed() const;  // failed photos and failed album pages
  // Every album page read, every photo found saved, and at least one.
  bool Complete() const;
};

// The albums a run began, in order.
struct HarvestRunReport {
  std::vector<HarvestReport> albums;
  // A stop ended the run (an album cut short, or none begun after it).
  bool interrupted = false;
};

// Log texts.
std::string PhotoLogLine(const PhotoOutcome& photo);
std::string PageFailureLogLine(const PageOutcome& page);
std::string SignInNotConfirmedLogLine(std::string_view reason);
std::string SummaryLogLine(const HarvestReport& report);
// The line that opens an album's block when a run has several.
std::string AlbumLogLine(std::string_view address);
// The summary of all the albums.
std::string TotalsLogLine(const std::vector<HarvestReport>& albums);
// The folder line is this caption followed by the folder's name.
std::string FolderLogCaption();
// The reason of a reply that neither redirected nor set a cookie.
std::string UnconfirmedSignInReason();

}  // namespace ah
