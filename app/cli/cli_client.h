#pragma once
// The one place that decides which HTTP client the command line uses.

namespace ah {

class IHTTPClient;

// A client with the component's default settings and a TLS handler, owned
// by the caller.
IHTTPClient* CreateCliClient();

}  // namespace ah
