#pragma once
// The album-harvest command line: the harvest run from a terminal. It fills
// the run's fields from flags and the settings' other sources (the window's
// default texts where none gives one), prints every log line to stdout as
// UTF-8 as it is added, and turns the run's summary into an exit code.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/cli/harvest_command_line.h"
#include "app/cli/settings_sources.h"

namespace ah {

class IHTTPClient;
class StopFlag;

// Exit codes.
inline constexpr int kExitComplete = 0;     // every page read, every photo found saved, at least one
inline constexpr int kExitCannotRun = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitIncomplete = 3;   // the run ended, but something is missing
inline constexpr int kExitInterrupted = 130;

// Makes a client with the component's default settings; the caller owns it
// and deletes it through the interface. Null when no client can be had.
using HarvestClientFactory = std::function<IHTTPClient*()>;

// Runs one harvest, of the albums `line.albums` holds, and returns its exit
// code, the worst of the albums'; what keeps it from running goes to `err`. `stop` (may be null) ends
// the run early. With `live_progress` (stderr is a terminal) a progress line
// is kept on `err`.
int RunHarvestCommand(const HarvestCommandLine& line, const HarvestClientFactory& make_client,
                      std::ostream& out, std::ostream& err, const StopFlag* stop = nullptr,
                      bool live_progress = false);

// The whole program: parse, complete the settings from `env`, then run.
int HarvestMain(const std::vector<std::string>& args, const HarvestEnvironment& env,
                const HarvestClientFactory& make_client, std::ostream& out, std::ostream& err,
                const StopFlag* stop = nullptr, bool live_progress = false);

}  // namespace ah
