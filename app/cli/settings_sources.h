#pragma once
// Where the settings the arguments leave out come from: the password from
// ALBUM_HARVEST_PASSWORD, more album addresses from input files. What none
// gives is the built-in default.

#include <iosfwd>
#include <optional>
#include <string>

#include "app/cli/harvest_command_line.h"

namespace ah {

// What the program reads beyond its arguments. Every part may be left
// empty; a test gives only what it tries.
struct HarvestEnvironment {
  const char* password = nullptr;  // ALBUM_HARVEST_PASSWORD
  std::istream* input = nullptr;   // for --input-file -
};

struct SettingsProblem {
  std::string line;    // one line: which file or flag, and what is wrong
  bool usage = false;  // the help text follows it
};

// Completes `line` from the sources beyond its arguments.
std::optional<SettingsProblem> CompleteHarvestCommandLine(HarvestCommandLine& line,
                                                          const HarvestEnvironment& env);

}  // namespace ah
