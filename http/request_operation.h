#pragma once
// What one request operation of the client knows while it runs, from the
// caller's call to its end: the caller's arguments, the requests sent, the
// answers given to challenges, where the credentials belong, and whether a
// reply is half read. The client keeps the last one for the facts it
// reports afterwards.

#include <cstdint>
#include <string>

#include "framework/streams.h"
#include "http/credential_scope.h"
#include "http/http_records.h"

namespace ah {

struct TIdHTTPOperation {
  // As the caller gave them.
  TIdHTTPMethod method = hmGet;
  std::string url;
  TStream* response_stream = nullptr;
  // Where the body begins in response_stream.
  int64_t start = 0;

  // Requests sent, less in-process authorization retries; 0 between
  // operations.
  int redirect_count = 0;
  // Answers given to server and proxy challenges. They run for the whole
  // operation: a wrong password behind a redirect must not start afresh
  // with every redirect.
  int auth_attempts = 0;
  int proxy_auth_attempts = 0;
  TIdCredentialScope credentials;

  // The last request went out on a connection an earlier one had used.
  bool reused = false;
  // Set from the moment a request head goes out until its reply has been
  // read to its end; a failure in between closes the connection.
  bool exchange_unfinished = false;
  // Whether a redirect was followed, and whether any reply carried a cookie.
  bool redirected = false;
  bool set_cookie = false;
};

}  // namespace ah
