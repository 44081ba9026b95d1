#pragma once
// The arguments of album-harvest: which flags there are, what each takes,
// and the help text that lists them.

#include <optional>
#include <string>
#include <vector>

namespace ah {

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

// The site the album is harvested from: --site-root, else the built-in
// site for its own albums, else the album address's scheme, host and port.
std::string SiteRootFor(const HarvestCommandLine& line);

}  // namespace ah
