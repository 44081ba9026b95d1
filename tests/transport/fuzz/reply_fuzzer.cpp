// Numeric reply records: a reply read off the wire (one line, or "ddd-"
// lines up to the "ddd " one) and one parsed from lines never fail but for
// the transport's own errors, copy whole, and a reply checked against the
// allowed codes either has one of them or is refused with its code.
//
// Input: a byte choosing how receives cut the stream, then the stream.

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/exception.h"
#include "framework/strings.h"
#include "tests/support/fuzz_check.h"
#include "tests/transport/fuzz/scripted_peer.h"
#include "transport/exceptions.h"
#include "transport/rfc_reply.h"
#include "transport/tcp_connection.h"

namespace {

void CheckCopy(const ah::TIdRFCReply& reply) {
  ah::TIdRFCReply copy;
  copy.Assign(reply);
  AH_FUZZ_CHECK(copy.NumericCode() == reply.NumericCode());
  AH_FUZZ_CHECK(copy.TextCode() == reply.TextCode());
  AH_FUZZ_CHECK(copy.Text().Text() == reply.Text().Text());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ah;
  ah::fuzz::InputParts input(data, size);
  const uint8_t cut_seed = input.Byte();
  const std::string_view stream = input.Rest();

  TStringList lines;
  lines.SetText(stream);
  TIdRFCReply parsed;
  parsed.ParseReplyLines(lines);
  AH_FUZZ_CHECK(parsed.Text().Count() == lines.Count());
  for (int i = 0; i < lines.Count(); ++i)
    AH_FUZZ_CHECK(parsed.Text().Get(i).size() + 4 <= std::max<size_t>(4, lines[i].size()));
  CheckCopy(parsed);

  ah::fuzz::ScriptedPeer peer(stream, cut_seed);
  TIdTCPConnection connection(nullptr);
  connection.SetIOHandler(&peer);
  peer.ConnectToServer("127.0.0.1", 21, 0, 0, 0, 0, "");
  try {
    connection.ReadReply();
    AH_FUZZ_CHECK(connection.LastReply().Text().Count() >= 1);
    CheckCopy(connection.LastReply());
    const int16_t code = connection.ReadReply({250, 354});
    AH_FUZZ_CHECK(code == 250 || code == 354);
  } catch (const EIdProtocolReplyError& e) {
    AH_FUZZ_CHECK(e.ReplyCode() == connection.LastReply().NumericCode());
  } catch (const Exception&) {
    // The connection closed or a line ran too long.
  }
  connection.SetIOHandler(nullptr);
  return 0;
}
