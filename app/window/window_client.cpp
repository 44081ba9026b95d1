#include "app/window/window_client.h"

#include "app/secure_http_client.h"

namespace ah {

IHTTPClient* CreateWindowClient(TComponent& owner) { return new TSecureHTTP(&owner); }

}  // namespace ah
