#pragma once
// The window's HTTP client: the one place that decides which client class
// the window uses, for its own client and for every renewed one.

#include <functional>

namespace ah {

class IHTTPClient;
class TComponent;

// Makes a client owned by `owner` (the window) with the component's default
// settings. The caller holds the result in the window's client slot and
// deletes it through the interface.
using WindowClientFactory = std::function<IHTTPClient*(TComponent& owner)>;

IHTTPClient* CreateWindowClient(TComponent& owner);

}  // namespace ah
