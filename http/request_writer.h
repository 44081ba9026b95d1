#pragma once
// Composing a request head from the request record, refusing anything that
// would end or split a line of it, and writing it and the body out.

#include <string>
#include <string_view>

#include "http/header_list.h"
#include "http/http_records.h"
#include "transport/tcp_connection.h"

namespace ah {

// Whether a request of this method carries the body source.
bool SendsBody(TIdHTTPMethod method);

// The request target as it goes out: a space becomes %20; any other control
// byte raises EIdHTTPInvalidRequest.
std::string WireTarget(std::string_view target);
// Raises EIdHTTPInvalidRequest for a host that holds a space or a control
// byte.
void CheckHostName(std::string_view host);
// Raises EIdHTTPInvalidRequest when a value the caller set would not fit on
// its header line.
void CheckRequestFields(const TIdHTTPRequest& request);
// The same for every line about to go out, named by its header.
void CheckHeaderLines(const TIdHeaderList& lines);

// The header lines from the record's fields, less a Content-Type for a
// GET, HEAD or CONNECT, which have no body for it to describe.
void ComposeRequestHead(TIdHTTPRequest& request);

// The request line, every non-empty header line and the empty line, in one
// buffered write. The header lines must be composed already.
void SendRequestHead(TIdTCPConnection& connection, const TIdHTTPRequest& request,
                     TIdHTTPProtocolVersion version);
// The body source of a POST or PUT, from its first byte.
void SendRequestBody(TIdTCPConnection& connection, const TIdHTTPRequest& request);

}  // namespace ah
