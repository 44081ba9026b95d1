#pragma once
// The harvest run: signs in, walks the album page by page, and saves every
// full-size image of every photo page into a folder named after the album.
// It runs start to finish on the caller's thread and reaches its
// surroundings only through the small interfaces below, which the window
// and the command line implement. All texts crossing them are Windows-1251,
// except file-system names, which are the file system's bytes.
//
// Every photo and album page ends in an outcome (saved, already there, or
// failed with its reason); the log lines and the closing summary are made
// from them, and the run hands them all back.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/harvest/harvest_outcome.h"
#include "app/site/site_profile.h"
#include "app/fetch/transfer_policy.h"
#include "app/fetch/proxy_choice.h"

namespace ah {

class IHTTPClient;
class ScratchLines;
class StopFlag;

// The input fields, read at the moments the run uses them.
class HarvestFields {
 public:
  virtual ~HarvestFields() = default;
  virtual std::string Edit1Text() = 0;  // login
  virtual std::string Edit2Text() = 0;  // password
  virtual std::string Edit3Text() = 0;  // mail domain
  virtual std::string Edit4Text() = 0;  // album address
};

// What a log line tells, for a front end that shows only some.
enum class LogLineKind {
  kProgress,  // sign-in, pages, saved photos
  kError,     // something that did not work
  kClosing,   // the summary and the last lines
};

// The log pane.
class HarvestLog {
 public:
  virtual ~HarvestLog() = default;
  virtual void AddLogLine(const std::string& line) = 0;
  // The run adds every line through this; by default each one is shown.
  virtual void AddLogLineOf(LogLineKind kind, const std::string& line);
  virtual int LogLineCount() = 0;
  virtual void ClearLog() = 0;
  // A line that ends in a file-system name, which the log shows as best it
  // can; by default through the code page, with "?" for what it cannot hold.
  virtual void AddPathLine(const std::string& line, const std::string& path);
};

// One pass over pending window events; a start click handled here may run
// a whole nested harvest before it returns.
class MessagePump {
 public:
  virtual ~MessagePump() = default;
  virtual void ProcessMessages() = 0;
};

// The window's client slot IdHTTP1. The run reads it afresh at every use.
// When it renews the client it deletes the held instance (through the
// interface) and stores the one CreateIdHTTP returns, which belongs to the
// window as its owner.
class HTTPClientSlot {
 public:
  virtual ~HTTPClientSlot() = default;
  virtual IHTTPClient* IdHTTP1() = 0;
  virtual void SetIdHTTP1(IHTTPClient* client) = 0;
  virtual IHTTPClient* CreateIdHTTP() = 0;
};

// What the run has done so far.
struct HarvestProgress {
  int page = 0;       // the album page being walked
  int saved = 0;      // photos saved or already there
  int failed = 0;     // failed photos and album pages
  int found = 0;      // photos numbered so far
  int64_t bytes = 0;  // image bytes downloaded
};

// A live display of the progress; told on the run's thread, often.
class HarvestProgressView {
 public:
  virtual ~HarvestProgressView() = default;
  virtual void ShowProgress(const HarvestProgress& progress) = 0;
};

struct HarvestSurroundings {
  HarvestFields& fields;
  HarvestLog& log;
  MessagePump& pump;
  HTTPClientSlot& client;
  ScratchLines& scratch;
  // Asks the run to end early (may be null): it stops at its next step, in
  // a wait between attempts or during an image transfer, and still writes
  // its summary.
  const StopFlag* stop = nullptr;
  // Told as the run goes (may be null).
  HarvestProgressView* progress = nullptr;
};

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
  // Downloads every image again, whatever the folder holds.
  bool force = false;
};

inline constexpr std::string_view kHarvestUserAgent =
    "Mozilla/5.0 (Windows NT 5.1; rv:33.0) Gecko/20100101 Firefox/33.0";
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

// The lines an album page gives after its quotes became line breaks: the
// lines a list holding the text as its one entry reads back after a round
// trip through a file, without the file. The views point into `text`.
std::vector<std::string_view> SplitPageText(std::string_view text);

// A full-size image a photo page shows: its address line and its cleaned
// title (Windows-1251), with the title's name for the disk (UTF-8).
struct FoundImage {
  std::string address;
  std::string title;
  std::string name;
};
// The images of a photo page as fetched (UTF-8), in page order: a line
// that is the image host's address (the marker right after "http://" or
// "https://") followed by one holding the title marker. `scratch` is the
// line buffer the scan works in.
std::vector<FoundImage> ScanPhotoPage(std::string_view page_text, const SiteProfile& profile,
                                      ScratchLines& scratch);

}  // namespace ah
