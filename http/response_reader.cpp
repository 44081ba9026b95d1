#include "http/response_reader.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "http/exceptions.h"
#include "transport/ssl_io_handler_socket.h"

namespace ah {
namespace {

// Digits only (hexadecimal ones when hex), after an optional "+": a number
// that fails to read only because it does not fit in 64 bits.
bool IsTooLargeNumber(std::string_view text, bool hex) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!(hex ? std::isxdigit(u) : std::isdigit(u))) return false;
  }
  return !TryStrToInt64(hex ? "$" + std::string(text) : std::string(text));
}

// Every Content-Length, on its own lines and in comma lists, must say the
// same: with two lengths the end of the body is whichever a reader believes,
// and a proxy on the way may believe the other one.
void CheckContentLengthsAgree(const TIdHeaderList& lines) {
  TStringList values;
  lines.ExtractValues("Content-Length", &values);
  std::string first;
  for (int i = 0; i < values.Count(); ++i) {
    for (std::string rest = values.Get(i); !rest.empty();) {
      const std::string one = Trim(TakeToken(rest, ","));
      if (one.empty()) continue;
      if (first.empty()) first = one;
      if (one != first) throw EIdHTTPMalformedResponse("Content-Length values disagree");
    }
  }
}

// Passes the first limit bytes written through to the target; a write
// beyond them raises Full, which ends the read that wrote it.
class LimitedStream : public TStream {
 public:
  struct Full {};
  LimitedStream(TStream& target, int64_t limit)
      : target_(target), end_(target.Position() + limit) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t room = std::max<int64_t>(0, end_ - target_.Position());
    target_.WriteBuffer(buffer, std::min(count, room));
    if (count > room) throw Full();
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    return target_.Seek(offset, origin);
  }
  int64_t Size() override { return target_.Size(); }
  // A reservation ahead of the data never goes past the limit.
  void SetSize(int64_t size) override { target_.SetSize(std::min(size, end_)); }

 private:
  TStream& target_;
  int64_t end_;
};

}  // namespace

void TIdResponseReader::ReadHead(TIdHTTPResponse& response,
                                 const std::function<void(TIdHTTPResponse&)>& after_head) {
  // One budget for the interim heads too, so endless 100s end as well.
  int64_t budget = kMaxResponseHead;
  do {
    ReadOneHead(response, budget);
    if (after_head) after_head(response);
  } while (response.StatusCode() == 100);
}

void TIdResponseReader::ReadOneHead(TIdHTTPResponse& response, int64_t& budget) {
  response.SetStatusLine(ReceiveHeadLine(budget));
  ReadHeaderLines(response, budget);
}

void TIdResponseReader::ReadHeaderLines(TIdHTTPResponse& response, int64_t& budget) {
  TIdHeaderList& lines = response.HeaderLines();
  lines.Clear();
  try {
    for (;;) {
      std::string line = ReceiveHeadLine(budget);
      if (line.empty()) break;
      lines.Add(line);
    }
  } catch (EIdConnClosedGracefully&) {
    connection_.CloseConnection();
  }
  response.ParseHeaderLines();
}

std::string TIdResponseReader::ReceiveHeadLine(int64_t& budget) {
  auto too_large = [] {
    throw EIdHTTPMalformedResponse("Response head larger than the limit of 4 MiB");
  };
  // The line limit stands, but never beyond what is left of the head's.
  int32_t limit = connection_.MaxLineLength();
  const bool by_budget = limit <= 0 || limit > budget;
  if (by_budget) limit = int32_t(std::clamp<int64_t>(budget, 1, kMaxResponseHead));
  std::string line;
  try {
    line = connection_.ReceiveLine("\n", UseReadTimeout, limit);
  } catch (const EIdReadLnMaxLineLengthExceeded&) {
    if (by_budget) too_large();
    throw;
  }
  // Counted with a CR LF, whichever line end the server used.
  budget -= int64_t(line.size()) + 2;
  if (budget < 0) too_large();
  return line;
}

bool TIdResponseReader::ReadBody(TIdHTTPResponse& response, TIdHTTPMethod method,
                                 int64_t limit) {
  TStream* target = response.BodyStream();
  if (!target) return true;
  const int code = response.StatusCode();
  // An interim reply is followed by the final one (or by another protocol).
  if (code >= 100 && code < 200) return false;
  if (code == 204 || code == 304 || method == hmHead) return true;
  CheckContentLengthsAgree(response.HeaderLines());
  std::optional<LimitedStream> limited;
  if (limit >= 0) limited.emplace(*target, limit);
  TStream& body = limited ? static_cast<TStream&>(*limited) : *target;
  try {
    return ReadFramedBody(response, body);
  } catch (const LimitedStream::Full&) {
    return false;
  }
}

bool TIdResponseReader::ReadFramedBody(TIdHTTPResponse& response, TStream& body) {
  if (response.ContentLength() > 0) {
    ReceiveBodyPart(body, response.ContentLength());
    return true;
  }
  if (response.HeaderLines().HeaderValue("Transfer-Encoding").find("chunked") !=
      std::string::npos) {
    ReadChunkedBody(body);
    return true;
  }
  if (!response.LengthKnown()) {
    // A length too large to hold is no reason to take whatever comes until
    // the server closes as the body.
    const std::string announced = Trim(response.HeaderLines().HeaderValue("Content-Length"));
    if (IsTooLargeNumber(announced, false)) {
      throw EIdHTTPMalformedResponse("Content-Length does not fit in 64 bits");
    }
    connection_.ReceiveToStream(body, -1, true);
    // Over TLS only close_notify tells the end of the body from a cut.
    auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(connection_.IOHandler());
    if (tls && tls->ClosedWithoutNotify()) {
      throw EIdSSLProtocolReplyError(
          0, "TLS failure: the server closed without close_notify; the body may be cut short");
    }
  }
  return true;
}

void TIdResponseReader::ReadChunkedBody(TStream& body) {
  connection_.ReportStatus(hsStatusText, "Chunk Started");
  for (int64_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
    ReceiveBodyPart(body, size);
    if (!connection_.ReceiveLine().empty()) {
      throw EIdHTTPMalformedResponse("Chunk longer than its size");
    }
  }
  // The trailer section, to its empty line, so none of it is left behind for
  // the next reply. The body is whole already: a close here cuts nothing.
  int64_t budget = kMaxResponseHead;
  try {
    while (!ReceiveHeadLine(budget).empty()) {
    }
  } catch (const EIdConnClosedGracefully&) {
  }
}

void TIdResponseReader::ReceiveBodyPart(TStream& body, int64_t count) {
  try {
    connection_.ReceiveToStream(body, count, false);
  } catch (const EIdConnClosedGracefully&) {
    // Whatever arrived is the caller's; the close still says it is not all.
    TIdManagedBuffer& rest = connection_.InputBuffer();
    if (rest.Size() > 0) {
      body.WriteBuffer(rest.Memory(), rest.Size());
      rest.Empty();
    }
    throw;
  }
}

int64_t TIdResponseReader::ReadChunkSize() {
  std::string line = Trim(connection_.ReceiveLine());
  // The server closed in the middle of the line.
  if (connection_.LineTimedOut()) throw EIdConnClosedGracefully("Connection Closed Gracefully.");
  // A chunk extension may follow the size with or without a space before
  // its ";"; either way the size ends there.
  size_t end = line.find_first_of(" \t;");
  if (end != std::string::npos) line.resize(end);
  // Anything but a size leaves no way to find where the body ends.
  std::optional<int64_t> size = TryStrToInt64("$" + line);
  if (!size) {
    throw EIdHTTPMalformedResponse(IsTooLargeNumber(line, true)
                                       ? "Chunk size does not fit in 64 bits"
                                       : "Chunk size is not a number");
  }
  return *size;
}

}  // namespace ah
