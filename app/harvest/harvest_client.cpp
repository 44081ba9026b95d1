#include "app/harvest/harvest_client.h"

#include <string>

#include "app/fetch/transfer_policy.h"
#include "http/http_client_interface.h"

namespace ah {

void ConfigureHarvestClient(IHTTPClient& client, const TransferPolicy& policy) {
  client.SetHandleRedirects(true);
  client.SetRequestUserAgent(std::string(kHarvestUserAgent));
  client.SetTimeouts(policy.connect_timeout_ms, policy.read_timeout_ms);
  client.SetMaxTextBytes(policy.max_page_bytes);
  client.SetTransferTimeout(policy.PageDeadlineMs());
}

}  // namespace ah
