#include "app/window/window_client.h"

#include "http/http_client.h"

namespace ah {

IHTTPClient* CreateWindowClient(TComponent& owner) { return new TIdHTTP(&owner); }

}  // namespace ah
