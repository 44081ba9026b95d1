// Resolving the address of a request against the previous one: the target
// the request line carries, the Host header and the announced body length.

#include "framework/sysutils.h"
#include "http/http_client.h"
#include "http/request_writer.h"
#include "http/uri_resolution.h"

namespace ah {
namespace {

std::string OriginOf(const TIdURI& target) {
  return LowerCase(target.Protocol()) + "://" + LowerCase(target.Host()) + ":" + target.Port();
}

}  // namespace

void TIdCustomHTTP::ResolveRequestTarget(TIdHTTPRequest& request) {
  TIdURI& target = *target_uri_;
  const std::string user_info = ResolveAddress(target, request.RequestURL(), target);
  CheckHostName(target.Host());
  TakeAddressCredentials(request, user_info, OriginOf(target));
  target.SetUsername(request.Username());
  target.SetPassword(request.Password());
  request.SetRequestURL(WireTarget(target.Path() + target.Document() + target.Params()));
  const TIdHTTPMethod method = request.RequestMethod();
  if (method == hmOptions && target.Document() == "*" && target.Path() == "/") {
    request.SetRequestURL("*");
  }
  if ((method == hmOptions || method == hmTrace || method == hmPut || method == hmDelete) &&
      protocol_version_ != pv1_1) {
    throw EIdException("This request method is supported in HTTP 1.1");
  }
  if (SendsBody(method)) {
    TStream* source = request.BodySource();
    request.SetContentLength(source ? source->Size() : 0);
  } else {
    request.SetContentLength(-1);
  }
  request.SetHost(HostHeaderOf(target));
}

void TIdCustomHTTP::TakeAddressCredentials(TIdHTTPRequest& request, const std::string& user_info,
                                           const std::string& origin) {
  if (!user_info.empty()) {
    const size_t colon = user_info.find(':');
    std::string user = PercentDecode(user_info.substr(0, colon));
    std::string password =
        colon == std::string::npos ? std::string() : PercentDecode(user_info.substr(colon + 1));
    if (user.empty()) return;
    if (user != request.Username() || password != request.Password() ||
        !request.BasicAuthentication()) {
      request.SetUsername(std::move(user));
      request.SetPassword(std::move(password));
      request.SetBasicAuthentication(true);
      // A handler made for other credentials would keep answering with them.
      request.SetAuthHandler(nullptr);
    }
    // Only the caller's own address names where they belong.
    if (op_.redirect_count <= 1) address_credentials_origin_ = origin;
  } else if (op_.redirect_count == 1 && !address_credentials_origin_.empty() &&
             origin != address_credentials_origin_) {
    // Credentials an address gave are for its origin: a later operation
    // elsewhere goes without them.
    request.SetUsername("");
    request.SetPassword("");
    request.SetBasicAuthentication(false);
    request.SetAuthHandler(nullptr);
    address_credentials_origin_.clear();
  }
}

}  // namespace ah
