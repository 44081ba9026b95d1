#include "app/cli/cli_client.h"

#include "http/secure_http_client.h"

namespace ah {

IHTTPClient* CreateCliClient() { return new TSecureHTTP(nullptr); }

}  // namespace ah
