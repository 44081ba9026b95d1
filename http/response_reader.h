#pragma once
// Reading one reply off a connection: the status line, the head with its
// interim replies, and the body by its length, by chunks or until the
// server closes, within the bounds that keep a hostile server from holding
// memory or time without end. It knows nothing of redirects, challenges or
// routes: the request loop decides what a reply means.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/streams.h"
#include "http/http_records.h"
#include "transport/tcp_connection.h"

namespace ah {

// The comma-separated elements of every line of that header, trimmed, the
// empty ones dropped.
std::vector<std::string> HeaderElements(const TIdHeaderList& lines, std::string_view name);

class TIdResponseReader {
 public:
  // The most a response head may take, interim heads and line ends included.
  static constexpr int64_t kMaxResponseHead = 4 * 1024 * 1024;

  explicit TIdResponseReader(TIdTCPConnection& connection) : connection_(connection) {}

  // Heads until a final one; after_head sees every head read, interim ones
  // included. Raises EIdHTTPMalformedResponse past kMaxResponseHead, and
  // EIdConnClosedGracefully when the server closes before the head ends.
  void ReadHead(TIdHTTPResponse& response,
                const std::function<void(TIdHTTPResponse&)>& after_head);
  // The status line and header lines of one reply, taken from budget.
  void ReadOneHead(TIdHTTPResponse& response, int64_t& budget);
  // The header lines up to the empty line, parsed into response.
  void ReadHeaderLines(TIdHTTPResponse& response, int64_t& budget);
  // Reads the body of a reply to method into the response's stream, framed
  // by the final Transfer-Encoding (chunked, or else until close), or else by
  // the Content-Length (decimal digits; raises EIdHTTPMalformedResponse for
  // any other or for values that disagree), or else until close; nothing
  // for replies that carry none (204, 304, any reply to HEAD). With a limit
  // of 0 or more, at most that many body bytes reach the stream. False when
  // the body was not read to its end (past the limit, or a 1xx reply, after
  // which more follows): the connection then holds bytes of this reply.
  bool ReadBody(TIdHTTPResponse& response, TIdHTTPMethod method, int64_t limit = -1);
  // Raises EIdHTTPMalformedResponse for a size line that is no hexadecimal
  // number or does not fit in 64 bits.
  int64_t ReadChunkSize();

 private:
  // A line of a response head, taken from what is left of its budget.
  std::string ReceiveHeadLine(int64_t& budget);
  // Chunks to the last one, then the trailer section to its empty line.
  void ReadChunkedBody(TStream& body);
  // count bytes of a body; when the server closes first, the bytes that
  // arrived go to body before EIdConnClosedGracefully passes on.
  void ReceiveBodyPart(TStream& body, int64_t count);
  bool ReadFramedBody(TIdHTTPResponse& response, TStream& body);
  void ReadUntilClose(TStream& body);

  TIdTCPConnection& connection_;
};

}  // namespace ah
