#pragma once
// The arguments of album-harvest: which flags there are, what each takes,
// and the help text that lists them; the config file's keys are the flags'
// names.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ah {

// Photo pages and images fetched at once unless --jobs says otherwise.
inline constexpr int kDefaultJobs = 4;
inline constexpr int kMostJobs = 64;

// Values as the command line gives them (UTF-8; the output folder is the
// file system's bytes), completed from the sources beyond the arguments.
struct HarvestCommandLine {
  // Each address once, in the order given.
  std::vector<std::string> albums;
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
  std::optional<int> jobs;           // none: kDefaultJobs
  // The pause of each job before each request after its first, and the
  // bytes per second of the whole run.
  std::optional<double> wait_seconds;
  std::optional<int64_t> limit_rate;
  // Where more of the above comes from.
  std::optional<std::string> password_file;
  bool ask_password = false;
  bool netrc = false;  // ~/.netrc
  std::optional<std::string> netrc_file;
  std::optional<std::string> config_file;
  bool no_config = false;
  std::vector<std::string> input_files;  // "-" is standard input
  bool force = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// Where in the arguments a password stands: from `offset` of argument
// `index` (after "--password=") to its end.
struct SecretArgument {
  size_t index = 0;
  size_t offset = 0;
};

struct HarvestCommandParse {
  HarvestCommandLine line;
  std::string error;  // empty when the arguments were understood
  std::vector<SecretArgument> secrets;
};

// `args` are the arguments after the program name; each flag but --help,
// --version, --force, --quiet, --ask-password, --netrc and --no-config
// takes a value, as "--flag VALUE" or "--flag=VALUE"; the arguments that
// are not flags are album addresses.
HarvestCommandParse ParseHarvestCommandLine(const std::vector<std::string>& args);

// A setting that both the flag "--NAME" and the config file's key "NAME"
// give.
struct HarvestSetting {
  enum class Type { kText, kWholeNumber, kNumber, kTextOrNumber };
  std::string_view name;
  Type type;
  std::string expected;  // what the value must be, as "a whole number from 1 to 64"
  // False when `text` is not a value the setting takes.
  bool (*read)(HarvestCommandLine& into, std::string_view text);
};
// Null when there is no such setting.
const HarvestSetting* FindHarvestSetting(std::string_view name);
// Every setting's name, ", " between them.
std::string HarvestSettingNames();
// Gives `line` every setting it lacks that `from` holds.
void FillMissingSettings(HarvestCommandLine& line, const HarvestCommandLine& from);

extern const char* const kHarvestUsage;
// "album-harvest " and the version.
extern const char* const kHarvestVersion;

// The site the albums are harvested from: --site-root, else the built-in
// site for its own albums, else the first album address's scheme, host and
// port.
std::string SiteRootFor(const HarvestCommandLine& line);

}  // namespace ah
