#pragma once
// Where the settings the arguments leave out come from, highest first: for
// the password --password, --password-file, --ask-password,
// ALBUM_HARVEST_PASSWORD, the netrc file, the config file; for the login
// and the mail domain the flags, the netrc file, the config file; for the
// rest the flags, then the config file. What none gives is the built-in
// default. The album addresses are the arguments' and the input files'.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "app/cli/harvest_command_line.h"

namespace ah {

// What the program reads beyond its arguments. Every part may be left
// empty; a test gives only what it tries.
struct HarvestEnvironment {
  const char* password = nullptr;  // ALBUM_HARVEST_PASSWORD
  std::string home;                // for ~/.netrc and ~/.config
  std::string config_home;         // XDG_CONFIG_HOME
  // Reads a line typed on the terminal without showing it; none when there
  // is no terminal or nothing came.
  std::function<std::optional<std::string>(const std::string& prompt)> ask_password;
  std::istream* input = nullptr;  // for --input-file -
  // Shows "***" for the password in the process's argument list.
  std::function<void(const SecretArgument&)> hide_argument;
};

struct SettingsProblem {
  std::string line;    // one line: which file or flag, and what is wrong
  bool usage = false;  // the help text follows it
};

// Completes `line` from the sources beyond its arguments.
std::optional<SettingsProblem> CompleteHarvestCommandLine(HarvestCommandLine& line,
                                                          const HarvestEnvironment& env);

}  // namespace ah
