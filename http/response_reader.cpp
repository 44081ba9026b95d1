#include "http/response_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "http/exceptions.h"
#include "transport/ssl_io_handler_socket.h"

namespace ah {
namespace {

// The size field of a chunk's size line: what a chunk extension follows,
// with or without a space before its ";".
std::string_view ChunkSizeField(std::string_view line) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) < 33; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  return line.substr(0, line.find_first_of(" \t;"));
}

// Hexadecimal digits only, of a value that fits in 64 bits; none otherwise.
std::optional<int64_t> HexSize(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0 || value > (uint64_t(INT64_MAX) - uint64_t(digit)) / 16) return std::nullopt;
    value = value * 16 + uint64_t(digit);
  }
  return int64_t(value);
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

// Small chunks already received, gathered into one write: a body of many
// one-byte chunks must not cost a write per chunk. What is gathered goes out
// before the reader waits for more, so a slow server's chunks still reach
// the stream as they come.
class GatheredChunks {
  // A size line is short; a longer one is left to the line reading and its
  // limits.
  static constexpr ptrdiff_t kMaxSizeLine = 256;

 public:
  static constexpr size_t kCapacity = 64 * 1024;
  // A larger chunk is written where it lies: a copy of it would cost more
  // than the write saved.
  static constexpr int64_t kLargest = 8 * 1024;
  GatheredChunks(TStream& body, TIdTCPConnection& connection)
      : body_(body),
        in_(connection.InputBuffer()),
        line_limit_(connection.MaxLineLength() > 0
                        ? std::min<ptrdiff_t>(kMaxSizeLine, connection.MaxLineLength())
                        : kMaxSizeLine),
        bytes_(std::make_unique<char[]>(kCapacity)) {}
  // Moves a chunk of size bytes from the input buffer when all of it is
  // there and it is small enough; false leaves it there.
  bool Take(int64_t size) {
    if (size > kLargest || in_.Size() < size) return false;
    if (used_ + size_t(size) > kCapacity) Flush();
    std::memcpy(bytes_.get() + used_, in_.Memory(), size_t(size));
    used_ += size_t(size);
    in_.DropBytes(int32_t(size));
    return true;
  }
  // Takes the chunks that lie whole in the input buffer, each size line,
  // data and line end, without a line read for each piece. Stops before the
  // first that is not whole, not small, the last one or anything else the
  // line-by-line reading has to judge.
  void TakeWhole() {
    for (bool full = true; full;) {
      full = false;
      const char* const at = in_.Memory();
      const char* const end = at + in_.Size();
      const char* next = at;
      while (next < end) {
        const char* line_end = static_cast<const char*>(
            std::memchr(next, '\n', size_t(std::min<ptrdiff_t>(end - next, line_limit_ + 1))));
        if (!line_end) break;
        const std::optional<int64_t> size = HexSize(ChunkSizeField({next, size_t(line_end - next)}));
        const char* data = line_end + 1;
        if (!size || *size == 0 || *size > kLargest || end - data <= *size) break;
        const char* after = data + *size;
        if (*after == '\r' && after + 1 < end && after[1] == '\n') ++after;
        if (*after != '\n') break;
        full = *size > int64_t(kCapacity - used_);
        if (full) break;
        std::memcpy(bytes_.get() + used_, data, size_t(*size));
        used_ += size_t(*size);
        next = after + 1;
      }
      if (next > at) in_.DropBytes(int32_t(next - at));
      if (full) Flush();
    }
  }
  void Flush() {
    const size_t count = std::exchange(used_, 0);
    if (count > 0) body_.WriteBuffer(bytes_.get(), int64_t(count));
  }
  // Flushes unless the input buffer holds the next line already.
  void FlushBeforeWait() {
    const int64_t held = in_.Size();
    if (used_ > 0 && (held == 0 || !std::memchr(in_.Memory(), '\n', size_t(held)))) Flush();
  }

 private:
  TStream& body_;
  TIdManagedBuffer& in_;
  const ptrdiff_t line_limit_;
  std::unique_ptr<char[]> bytes_;
  size_t used_ = 0;
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
  GatheredChunks gathered(body, connection_);
  try {
    for (;;) {
      gathered.TakeWhole();
      gathered.FlushBeforeWait();
      const int64_t size = ReadChunkSize();
      if (size == 0) break;
      if (!gathered.Take(size)) {
        gathered.Flush();
        ReceiveBodyPart(body, size);
      }
      gathered.FlushBeforeWait();
      if (!connection_.ReceiveLine().empty()) {
        throw EIdHTTPMalformedResponse("Chunk longer than its size");
      }
    }
  } catch (...) {
    // What arrived is the caller's, also when the body breaks off.
    gathered.Flush();
    throw;
  }
  gathered.Flush();
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
  const std::string line = connection_.ReceiveLine();
  if (connection_.LineTimedOut()) CutShort();
  const std::string_view field = ChunkSizeField(line);
  // Anything but a size leaves no way to find where the body ends.
  std::optional<int64_t> size = HexSize(field);
  if (!size) {
    const bool hex = !field.empty() && std::all_of(field.begin(), field.end(), [](char c) {
      return std::isxdigit(static_cast<unsigned char>(c));
    });
    throw EIdHTTPMalformedResponse(hex ? "Chunk size does not fit in 64 bits"
                                       : "Chunk size is not a number");
  }
  return *size;
}

}  // namespace ah
