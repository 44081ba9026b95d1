#pragma once
// Keeps the credentials of one request operation with the scheme, host and
// port they were given for. The first request of an operation names that
// address; a redirect elsewhere puts the request record's user name,
// password, basic flag and authorization handler aside, so nothing of them
// reaches the other server, and a redirect back brings them back. Whatever
// a foreign server was answered with is dropped on the way back and at the
// end of the operation.

#include <memory>
#include <string>

#include "http/authentication.h"
#include "http/http_records.h"
#include "http/uri.h"

namespace ah {

class TIdCredentialScope {
 public:
  // Starts an operation; the next Enter names its address.
  void Begin();
  // Called before each request's target is resolved (which may take
  // credentials from the URL).
  void BeforeResolve(const TIdHTTPRequest& request);
  // Called once target holds the address the request goes to; also keeps
  // target's user information in step with the request record.
  void Enter(TIdHTTPRequest& request, TIdURI& target);
  // Ends the operation: the record holds the credentials of its address.
  void End(TIdHTTPRequest& request);

 private:
  struct Credentials {
    std::string username;
    std::string password;
    bool basic = false;
    std::unique_ptr<TIdAuthentication> handler;
  };
  static std::string AddressOf(const TIdURI& target);
  void Restore(TIdHTTPRequest& request);

  bool started_ = false;
  std::string origin_;
  // The address of the last request when it was not the origin.
  std::string foreign_;
  bool away_ = false;
  Credentials before_;
  Credentials kept_;
};

}  // namespace ah
