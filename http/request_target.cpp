// Resolving the address of a request against the previous one: the target
// the request line carries, the Host header and the announced body length.

#include "framework/sysutils.h"
#include "http/http_client.h"
#include "http/protocol_utils.h"
#include "http/request_writer.h"

namespace ah {

void TIdCustomHTTP::ResolveRequestTarget(TIdHTTPRequest& request) {
  TIdURI& target = *target_uri_;
  TIdURI u(request.RequestURL());
  if (!u.Username().empty()) {
    request.SetUsername(u.Username());
    request.SetPassword(u.Password());
  }
  target.SetUsername(request.Username());
  target.SetPassword(request.Password());
  target.SetPath(MergeRelativePath(target.Path(), u.Path(), "/"));
  target.SetDocument(u.Document());
  target.SetParams(u.Params());
  if (!u.Host().empty()) target.SetHost(u.Host());
  CheckHostName(target.Host());
  // A reference without a scheme (a relative redirect) stays on the scheme
  // it was resolved against: falling back to http would send what belongs to
  // an https site, form and cookies included, in clear text.
  if (!u.Protocol().empty())
    target.SetProtocol(u.Protocol());
  else if (target.Protocol().empty())
    target.SetProtocol("http");
  if (!u.Port().empty()) {
    target.SetPort(u.Port());
  } else {
    int previous = StrToIntDef(target.Port(), 0);
    if (previous == 0 || previous == 80 || previous == 443) {
      if (SameText(target.Protocol(), "http")) {
        target.SetPort("80");
      } else if (SameText(target.Protocol(), "https")) {
        target.SetPort("443");
      } else {
        throw EIdUnknownProtocol("");
      }
    }
  }
  request.SetRequestURL(WireTarget(target.Path() + target.Document() + target.Params()));
  TIdHTTPMethod method = request.RequestMethod();
  if (method == hmOptions && u.Document() == "*") request.SetRequestURL("*");
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
  request.SetHost(target.Port() == "80" ? target.Host() : target.Host() + ":" + target.Port());
}

}  // namespace ah
