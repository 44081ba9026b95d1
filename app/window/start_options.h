#pragma once
// What the window takes from its command line: the site profile overrides
// that point it at another site (the demo site). Without any of them the
// window is exactly the built-in one.

#include <optional>
#include <string>
#include <vector>

namespace ah {

struct SiteProfile;

struct StartOptions {
  std::optional<std::string> site_root;
  std::optional<std::string> title_suffix;
  std::optional<std::string> image_host_marker;
  bool help = false;
};

struct StartOptionsResult {
  StartOptions options;
  // Arguments that are not ours, in their order: Qt's own, or mistakes.
  std::vector<std::string> rest;
  std::string error;  // empty when our flags were understood
};

// `args` are the arguments after the program name. Each flag takes a value,
// as "--flag VALUE" or "--flag=VALUE".
StartOptionsResult ParseStartOptions(const std::vector<std::string>& args);

extern const char* const kStartUsage;

// Puts the given overrides into `profile`, as the command line gives them
// (UTF-8).
void ApplyStartOptions(const StartOptions& options, SiteProfile& profile);

// Start-up, before the application object exists (so that --help needs no
// display): takes our flags out of argv, as Qt takes out its own, and puts
// them into `profile`. Prints usage or the error and returns the exit code
// when the program should end instead.
std::optional<int> TakeStartOptions(int& argc, char** argv, SiteProfile& profile);
// After Qt has taken its arguments: anything left is a usage error.
std::optional<int> RejectLeftoverArguments(int argc, char** argv);

}  // namespace ah
