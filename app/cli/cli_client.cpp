#include "app/cli/cli_client.h"

#include "http/http_client_interface.h"

namespace ah {

// The HTTP client component is not part of the build yet; until it is, the
// command line reports that it cannot run.
IHTTPClient* CreateCliClient() { return nullptr; }

}  // namespace ah
