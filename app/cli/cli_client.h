#pragma once
// The one place that decides which HTTP client the command line uses.

namespace ah {

class IHTTPClient;

// A client with the component's default settings, owned by the caller;
// null while the build has no client component.
IHTTPClient* CreateCliClient();

}  // namespace ah
