#include "http/response_reader.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "http/exceptions.h"
#include "transport/ssl_io_handler_socket.h"

namespace ah {
namespace {

// Hexadecimal digits only: a chunk size that fails to read only because it
// does not fit in 64 bits.
bool IsTooLargeHex(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return !TryStrToInt64("$" + std::string(text));
}

}  // namespace

std::vector<std::string> HeaderElements(const TIdHeaderList& lines, std::string_view name) {
  TStringList values;
  lines.ExtractValues(name, &values);
  std::vector<std::string> elements;
  for (int i = 0; i < values.Count(); ++i) {
    for (std::string rest = values.Get(i); !rest.empty();) {
      std::string one = Trim(TakeToken(rest, ","));
      if (!one.empty()) elements.push_back(std::move(one));
    }
  }
  return elements;
}

namespace {

// Every Content-Length, on its own lines and in comma lists, must be the
// same plain decimal number: with two lengths the end of the body is
// whichever a reader believes, and a proxy on the way may believe the
// other one; a sign, a "$" or "0x" is no length at all. -1 when there is
// none.
int64_t AnnouncedLength(const TIdHeaderList& lines) {
  const std::vector<std::string> values = HeaderElements(lines, "Content-Length");
  if (values.empty()) {
    if (lines.IndexOfHeader("Content-Length") >= 0) {
      throw EIdHTTPMalformedResponse("Content-Length is not a number");
    }
    return -1;
  }
  for (const std::string& one : values) {
    if (!std::all_of(one.begin(), one.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      throw EIdHTTPMalformedResponse("Content-Length is not a number");
    }
    if (one != values.front()) throw EIdHTTPMalformedResponse("Content-Length values disagree");
  }
  std::optional<int64_t> length = TryStrToInt64(values.front());
  if (!length) throw EIdHTTPMalformedResponse("Content-Length does not fit in 64 bits");
  return *length;
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

[[noreturn]] void CutShort() { throw EIdConnClosedGracefully("Connection Closed Gracefully."); }

}  // namespace

void TIdResponseReader::ReadHead(TIdHTTPResponse& response,
                                 const std::function<void(TIdHTTPResponse&)>& after_head) {
  // Until its line arrives, no reply has begun.
  response.SetStatusLine("");
  // One budget for the interim heads too, so endless 100s end as well.
  int64_t budget = kMaxResponseHead;
  do {
    ReadOneHead(response, budget);
    if (after_head) after_head(response);
    // Every interim reply but a switch of protocols, which this client never
    // asks for, is followed by the final one.
  } while (response.StatusCode() / 100 == 1 && response.StatusCode() != 101);
}

void TIdResponseReader::ReadOneHead(TIdHTTPResponse& response, int64_t& budget) {
  response.SetStatusLine(ReceiveHeadLine(budget));
  ReadHeaderLines(response, budget);
}

void TIdResponseReader::ReadHeaderLines(TIdHTTPResponse& response, int64_t& budget) {
  TIdHeaderList& lines = response.HeaderLines();
  lines.Clear();
  for (std::string line = ReceiveHeadLine(budget); !line.empty(); line = ReceiveHeadLine(budget)) {
    lines.Add(line);
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
  // The server closed in the middle of the line: a head cut short is no
  // head at all, whatever its lines said so far.
  if (connection_.LineTimedOut()) CutShort();
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
  const TIdHeaderList& lines = response.HeaderLines();
  const std::vector<std::string> codings = HeaderElements(lines, "Transfer-Encoding");
  if (!codings.empty()) {
    // The final coding frames the body, whatever a Content-Length says;
    // any other than chunked leaves only the close to end it.
    if (SameText(codings.back(), "chunked")) {
      ReadChunkedBody(body);
    } else {
      ReadUntilClose(body);
    }
    return true;
  }
  const int64_t length = AnnouncedLength(lines);
  response.SetContentLength(length);
  if (length > 0) ReceiveBodyPart(body, length);
  if (length < 0) ReadUntilClose(body);
  return true;
}

void TIdResponseReader::ReadUntilClose(TStream& body) {
  connection_.ReceiveToStream(body, -1, true);
  // Over TLS only close_notify tells the end of the body from a cut.
  auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(connection_.IOHandler());
  if (tls && tls->ClosedWithoutNotify()) {
    throw EIdSSLProtocolReplyError(
        0, "TLS failure: the server closed without close_notify; the body may be cut short");
  }
}

void TIdResponseReader::ReadChunkedBody(TStream& body) {
  connection_.ReportStatus(hsStatusText, "Chunk Started");
  // Small chunks already received are gathered into one write: a body of
  // many one-byte chunks must not cost a write (and a size reservation) per
  // chunk.
  constexpr int64_t kGather = 64 * 1024;
  std::string gathered;
  auto flush = [&] {
    if (gathered.empty()) return;
    std::string out = std::move(gathered);
    gathered.clear();
    body.WriteBuffer(out.data(), int64_t(out.size()));
  };
  try {
    for (int64_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
      TIdManagedBuffer& in = connection_.InputBuffer();
      if (size <= kGather && in.Size() >= size) {
        gathered.append(in.Memory(), size_t(size));
        in.DropBytes(int32_t(size));
        if (int64_t(gathered.size()) >= kGather) flush();
      } else {
        flush();
        ReceiveBodyPart(body, size);
      }
      if (!connection_.ReceiveLine().empty()) {
        throw EIdHTTPMalformedResponse("Chunk longer than its size");
      }
    }
  } catch (...) {
    // What arrived is the caller's, also when the body breaks off.
    flush();
    throw;
  }
  flush();
  // The trailer section, to its empty line, so none of it is left behind for
  // the next reply; a close before that line cuts the message short.
  int64_t budget = kMaxResponseHead;
  while (!ReceiveHeadLine(budget).empty()) {
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
  if (connection_.LineTimedOut()) CutShort();
  // A chunk extension may follow the size with or without a space before
  // its ";"; either way the size ends there.
  size_t end = line.find_first_of(" \t;");
  if (end != std::string::npos) line.resize(end);
  // Anything but a size leaves no way to find where the body ends.
  std::optional<int64_t> size = TryStrToInt64("$" + line);
  if (!size) {
    throw EIdHTTPMalformedResponse(IsTooLargeHex(line)
                                       ? "Chunk size does not fit in 64 bits"
                                       : "Chunk size is not a number");
  }
  return *size;
}

}  // namespace ah
