#pragma once
// What a harvest did, one record per photo and per album page, and the log
// lines and summary made from them. The command line's exit code is read
// off the summary.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ah {

enum class OutcomeStatus {
  kSaved,
  kAlreadyThere,  // on disk from an earlier run, not fetched again
  kFailed,
};

// One photo: an image saved, found on disk or not saved, or a photo page
// that could not be read, which stands for one photo.
struct PhotoOutcome {
  // Its photo number; a failed photo page takes one too, so the numbers of
  // the photos after it are those a good run gives them.
  int number = 0;
  std::string title;          // cleaned, Windows-1251; empty for a failed photo page
  std::string page_address;   // the photo page, as fetched
  std::string image_address;  // UTF-8; empty for a failed photo page
  std::string file_name;      // the image file's file-system name; empty for a failed photo page
  OutcomeStatus status = OutcomeStatus::kSaved;
  std::string error;  // why it failed, in one line
  int attempts = 0;
  int64_t bytes = 0;

  bool PageFailed() const { return status == OutcomeStatus::kFailed && image_address.empty(); }
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

  int Saved() const;  // saved or already there
  int Found() const;  // every photo recorded
  int Failed() const;  // failed photos and failed album pages
  // Every album page read, every photo found saved, and at least one.
  bool Complete() const;
};

// Log texts (Windows-1251).
std::string PhotoLogLine(const PhotoOutcome& photo);
std::string PageFailureLogLine(const PageOutcome& page);
std::string SignInNotConfirmedLogLine(std::string_view reason);
std::string SummaryLogLine(const HarvestReport& report);
// The folder line is this caption followed by the folder's name.
std::string FolderLogCaption();
// The reason of a reply that neither redirected nor set a cookie.
std::string UnconfirmedSignInReason();

}  // namespace ah
