#include "app/window/window_client.h"

#include "http/secure_http_client.h"

namespace ah {

// The same client the command line uses: an https site or a redirect to
// https works too.
IHTTPClient* CreateWindowClient(TComponent& owner) { return new TSecureHTTP(&owner); }

}  // namespace ah
