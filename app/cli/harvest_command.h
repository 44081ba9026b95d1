#pragma once
// The album-harvest command line: the harvest run from a terminal. It fills
// the run's fields from flags (the window's default texts where a flag is
// left out), prints every log line to stdout as UTF-8 as it is added, and
// turns the run's end into an exit code.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace ah {

class IHTTPClient;

// Values as the command line gives them (UTF-8).
struct HarvestCommandLine {
  std::string album;
  std::optional<std::string> login;
  std::optional<std::string> password;
  std::optional<std::string> domain;
  std::optional<std::string> site_root;
  std::optional<std::string> title_suffix;
  std::optional<std::string> image_host_marker;
  std::optional<std::string> output_dir;
  bool help = false;
};

struct HarvestCommandParse {
  HarvestCommandLine line;
  std::string error;  // empty when the arguments were understood
};

// `args` are the arguments after the program name; each flag takes a value,
// as "--flag VALUE" or "--flag=VALUE". `env_password` (the variable
// ALBUM_HARVEST_PASSWORD, may be null) stands in for a missing --password.
HarvestCommandParse ParseHarvestCommandLine(const std::vector<std::string>& args,
                                            const char* env_password);

extern const char* const kHarvestUsage;

// Makes a client with the component's default settings; the caller owns it
// and deletes it through the interface. Null when no client can be had.
using HarvestClientFactory = std::function<IHTTPClient*()>;

// Runs one harvest: 0 when the run ended with its final log line, 1 with
// the error on `err` otherwise.
int RunHarvestCommand(const HarvestCommandLine& line, const HarvestClientFactory& make_client,
                      std::ostream& out, std::ostream& err);

// The whole program: parse, then run; 2 on a usage error.
int HarvestMain(const std::vector<std::string>& args, const char* env_password,
                const HarvestClientFactory& make_client, std::ostream& out, std::ostream& err);

}  // namespace ah
