#pragma once
// The config file of album-harvest: one JSON object whose keys are the long
// flags' names without the dashes, such as {"login": "lisichka", "jobs": 8}.

#include <optional>
#include <string>
#include <string_view>

#include "app/cli/harvest_command_line.h"

namespace ah {

// album-harvester/config.json in `config_home` ($XDG_CONFIG_HOME, used when
// it is an absolute path), else in the .config folder of `home`; none
// without either.
std::optional<std::string> DefaultConfigFile(std::string_view config_home, std::string_view home);

// Reads the settings of the file at `path` into `into`. Returns the one line
// that says what is wrong (naming the file, the key and what it takes), or
// empty; a file that is not there is no error unless it is `required`. A
// file holding a password is refused unless only its owner can reach it.
std::string ReadConfigFile(const std::string& path, bool required, HarvestCommandLine& into);

}  // namespace ah
