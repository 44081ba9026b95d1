// Response heads and bodies as the client reads them off the wire: the
// status line, the header lines, then the body by length, by chunks or
// until the server closes, redirects and kept-alive connections included.
//
// Input: an options byte, a byte choosing how receives cut the stream,
// then either the raw bytes the server sends, one part per reply turn
// (the reply reader takes the first turn over a bare connection, then two
// GETs of the client read them all: any failure must be one of the
// client's exceptions, and no body holds more than was sent), or a body
// that the target frames itself, which the reply reader must hand back
// byte for byte (twice over one kept-alive connection where the framing
// allows it).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/exception.h"
#include "http/http_client.h"
#include "http/response_reader.h"
#include "transport/tcp_client.h"
#include "tests/transport/fuzz/scripted_peer.h"
#include "tests/support/fuzz_check.h"

namespace {

enum Options : uint8_t {
  kHttp10 = 1 << 0,
  kRedirects = 1 << 1,
  kFramed = 1 << 2,
  // Framed mode: 0 length, 1 chunks, 2 until close, 3 chunks and close.
  kFramingShift = 3,
};

std::string Hex(size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), digits[n % 16]);
    n /= 16;
  } while (n);
  return text;
}

// The body framed as a server would send it, the chunk sizes drawn from
// the body's own bytes.
std::string Framed(std::string_view body, int framing) {
  std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
  switch (framing) {
    case 0:
      return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
             std::string(body);
    case 2:
      return head + "Connection: close\r\n\r\n" + std::string(body);
    default: {
      std::string out = head + "Transfer-Encoding: chunked\r\n";
      if (framing == 3) out += "Connection: close\r\n";
      out += "\r\n";
      for (size_t at = 0; at < body.size();) {
        const size_t n = std::min<size_t>(body.size() - at, 1 + uint8_t(body[at]) % 200);
        out += Hex(n) + (n % 3 == 0 ? ";ext=1" : "") + "\r\n";
        out.append(body.substr(at, n));
        out += "\r\n";
        at += n;
      }
      return out + "0\r\n\r\n";
    }
  }
}

void OpenOver(ah::TIdTCPClient& connection, ah::TIdIOHandler& peer) {
  connection.SetIOHandler(&peer);
  connection.SetHost("fuzz.invalid");
  connection.SetPort(80);
  connection.OpenConnection();
}

// One reply read straight off a connection; false when it failed with one
// of the library's own exceptions.
bool ReadOneReply(ah::TIdTCPClient& connection, ah::TStringStream& body) {
  ah::TIdHTTPResponse response(nullptr);
  response.SetBodyStream(&body);
  ah::TIdResponseReader reader(connection);
  try {
    reader.ReadHead(response, nullptr);
    return reader.ReadBody(response, ah::hmGet) && response.StatusCode() == 200;
  } catch (const ah::Exception&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ah;
  ah::fuzz::InputParts input(data, size);
  const uint8_t options = input.Byte();
  const uint8_t cut_seed = input.Byte();
  const std::string_view rest = input.Rest();
  const bool framed = options & kFramed;
  const int framing = (options >> kFramingShift) & 3;
  // A length or chunks on HTTP/1.1 keep the connection: the same reply
  // comes twice on it, and the first read must stop where its frame ends.
  const bool kept_alive = framed && framing < 2 && !(options & kHttp10);
  const std::string reply = framed ? Framed(rest, framing) : std::string();
  std::vector<std::string_view> turns;
  if (framed) {
    turns.assign(kept_alive ? 2 : 1, reply);
  } else {
    ah::fuzz::InputParts parts(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
    while (!parts.Empty()) turns.push_back(parts.Next());
  }
  size_t total = 0;
  for (std::string_view turn : turns) total += turn.size();

  if (framed) {
    ah::fuzz::ScriptedPeer peer(turns, cut_seed);
    TIdTCPClient connection(nullptr);
    OpenOver(connection, peer);
    for (int i = 0; i < (kept_alive ? 2 : 1); ++i) {
      // The peer answers request by request.
      connection.SendText("GET / HTTP/1.1\r\n\r\n");
      TStringStream body;
      AH_FUZZ_CHECK(ReadOneReply(connection, body));
      AH_FUZZ_CHECK(body.DataString() == rest);
    }
    AH_FUZZ_CHECK(peer.Position() == total);
    connection.SetIOHandler(nullptr);
    return 0;
  }
  {
    ah::fuzz::ScriptedPeer peer(turns.empty() ? std::string_view() : turns[0], cut_seed);
    TIdTCPClient connection(nullptr);
    OpenOver(connection, peer);
    TStringStream body;
    ReadOneReply(connection, body);
    AH_FUZZ_CHECK(body.DataString().size() <= total);
    connection.SetIOHandler(nullptr);
  }

  ah::fuzz::ScriptedPeer peer(turns, cut_seed);
  TIdHTTP client(nullptr);
  client.SetIOHandler(&peer);
  client.SetProtocolVersion(options & kHttp10 ? pv1_0 : pv1_1);
  client.SetHandleRedirects(options & kRedirects);
  for (const char* address : {"http://fuzz.invalid/a/b?c=d", "/second"}) {
    std::string text;
    try {
      client.GetText(address, text);
    } catch (const Exception&) {
      // Refused statuses, closed connections, lines too long, bad ports:
      // the client's own failures.
    }
    AH_FUZZ_CHECK(text.size() <= total);
  }
  AH_FUZZ_CHECK(peer.Sent().rfind("GET ", 0) == 0);
  AH_FUZZ_CHECK(peer.Connects() <= 2 * (client.RedirectMaximum() + 2));
  client.SetIOHandler(nullptr);
  return 0;
}
