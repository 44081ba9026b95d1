#include "app/window/window_client.h"

#include "http/http_client_interface.h"

namespace ah {

// The HTTP client component is not part of the build yet: until it is, the
// window holds no client and a run fetches nothing.
IHTTPClient* CreateWindowClient(TComponent&) { return nullptr; }

}  // namespace ah
