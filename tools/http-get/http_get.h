#pragma once
// The http-get run: every URL in order through one client (kept-alive
// connections and cookies carry over, redirects are followed), or one form
// post; each body is appended to the output as it arrives.

#include <ostream>

#include "tools/http-get/options.h"

namespace ah {

// Returns the exit code: 0 when every request succeeded, otherwise 1 after
// one line on err (a refused status gives its status line; a redirect still
// standing after RedirectMaximum requests is an error too). With verbose,
// the status events and the status lines of the responses go to err.
int RunHttpGet(const HttpGetOptions& options, std::ostream& err);

}  // namespace ah
