#pragma once
// The album-harvest command line: the harvest run from a terminal. It fills
// the run's fields from flags (the window's default texts where a flag is
// left out), prints every log line to stdout as UTF-8 as it is added, and
// turns the run's summary into an exit code.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace ah {

class IHTTPClient;
class StopFlag;

// Exit codes.
inline constexpr int kExitComplete = 0;     // every page read, every photo found saved, at least one
inline constexpr int kExitCannotRun = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitIncomplete = 3;   // the run ended, but something is missing
inline constexpr int kExitInterrupted = 130;

// Photo pages and images fetched at once unless --jobs says otherwise.
inline constexpr int kDefaultJobs = 4;
inline constexpr int kMostJobs = 64;

// Values as the command line gives them (UTF-8; the output folder is the
// file system's bytes).
struct HarvestCommandLine {
  std::string album;
  std::optional<std::string> login;
  std::optional<std::string> password;
  std::optional<std::string> domain;
  std::optional<std::string> site_root;
  std::optional<std::string> title_suffix;
  std::optional<std::string> image_host_marker;
  std::optional<std::string> output_dir;
  std::optional<int> retries;
  std::optional<int> timeout_ms;
  std::optional<std::string> proxy;  // "HOST:PORT"
  int jobs = kDefaultJobs;
  bool force = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

struct HarvestCommandParse {
  HarvestCommandLine line;
  std::string error;  // empty when the arguments were understood
};

// `args` are the arguments after the program name; each flag but --help,
// --version, --force and --quiet takes a value, as "--flag VALUE" or
// "--flag=VALUE"; the one
// argument that is not a flag is the album address. `env_password` (the
// variable ALBUM_HARVEST_PASSWORD, may be null) stands in for a missing
// --password.
HarvestCommandParse ParseHarvestCommandLine(const std::vector<std::string>& args,
                                            const char* env_password);

extern const char* const kHarvestUsage;
// "album-harvest " and the version.
extern const char* const kHarvestVersion;

// Makes a client with the component's default settings; the caller owns it
// and deletes it through the interface. Null when no client can be had.
using HarvestClientFactory = std::function<IHTTPClient*()>;

// Runs one harvest and returns its exit code; what keeps it from running
// goes to `err`. `stop` (may be null) ends the run early. With
// `live_progress` (stderr is a terminal) a progress line is kept on `err`.
int RunHarvestCommand(const HarvestCommandLine& line, const HarvestClientFactory& make_client,
                      std::ostream& out, std::ostream& err, const StopFlag* stop = nullptr,
                      bool live_progress = false);

// The whole program: parse, then run.
int HarvestMain(const std::vector<std::string>& args, const char* env_password,
                const HarvestClientFactory& make_client, std::ostream& out, std::ostream& err,
                const StopFlag* stop = nullptr, bool live_progress = false);

}  // namespace ah
