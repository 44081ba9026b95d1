#pragma once
// The one place that sets up a client for a harvest: the settings the
// window stores with its own client (redirects followed, the browser's
// user agent) and the run's time-outs and limits. Every client a harvest
// uses goes through it: the front end's, a renewed one, the jobs'.

#include <string_view>

namespace ah {

class IHTTPClient;
struct TransferPolicy;

inline constexpr std::string_view kHarvestUserAgent =
    "Mozilla/5.0 (Windows NT 5.1; rv:33.0) Gecko/20100101 Firefox/33.0";

void ConfigureHarvestClient(IHTTPClient& client, const TransferPolicy& policy);

}  // namespace ah
