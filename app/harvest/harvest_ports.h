#pragma once
// The ports of the harvest run: the small interfaces through which it
// reaches its surroundings, which the window and the command line
// implement (and tests fake). All texts crossing them are UTF-8, except
// file-system names, which are the file system's bytes.

#include <cstdint>
#include <string>

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
  kAlbum,     // the line that opens an album of several
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
  // can; by default as DisplayName shows it.
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
  int jobs = 1;        // the jobs in use
  int jobs_asked = 1;  // the jobs the run started with
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

}  // namespace ah
