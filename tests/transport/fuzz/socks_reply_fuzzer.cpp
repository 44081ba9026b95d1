// SOCKS 4, 4A and 5 handshakes against whatever a proxy answers: a refusal
// or a short answer is one of the transport's failures, and a granted
// connection has read exactly the proxy's answer and no byte of what the
// server sends after it.
//
// Input: a byte choosing the version (4, 4A, 5, 5 with a login), a byte
// choosing how receives cut the stream, then the proxy's bytes.

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/exception.h"
#include "tests/support/fuzz_check.h"
#include "tests/transport/fuzz/scripted_peer.h"
#include "transport/socks_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ah;
  ah::fuzz::InputParts input(data, size);
  const uint8_t choice = input.Byte() % 4;
  const uint8_t cut_seed = input.Byte();
  const std::string_view answer = input.Rest();

  ah::fuzz::ScriptedPeer peer(answer, cut_seed);
  peer.ConnectToServer("127.0.0.1", 1080, 0, 0, 0, 0, "");
  TIdSocksInfo socks(nullptr);
  socks.SetOwnerHandler(&peer);
  socks.SetVersion(choice == 0 ? svSocks4 : choice == 1 ? svSocks4A : svSocks5);
  socks.SetUsername("fuzz");
  socks.SetPassword("secret");
  if (choice == 3) socks.SetAuthentication(saUsernamePassword);

  bool granted = false;
  try {
    // A literal address: SOCKS 4 resolves it here without asking anyone.
    socks.NegotiateSocks(choice == 0 ? "127.0.0.1" : "fuzz.invalid", 80);
    granted = true;
  } catch (const Exception&) {
  }
  AH_FUZZ_CHECK(peer.Sent()[0] == (choice < 2 ? 4 : 5));
  if (granted) {
    if (choice < 2) {
      AH_FUZZ_CHECK(peer.Position() == 8);
      AH_FUZZ_CHECK(answer[1] == 90);
    } else {
      // Method choice, login status, reply head and the longest address.
      const size_t longest = 2 + (choice == 3 ? 2 : 0) + 5 + 255 + 2;
      AH_FUZZ_CHECK(peer.Position() <= longest);
      AH_FUZZ_CHECK(answer[1] == (choice == 3 ? 2 : 0));
    }
  }
  return 0;
}
