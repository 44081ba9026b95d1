#include "transport/socks_info.h"

#include <algorithm>
#include <array>

#include "transport/exceptions.h"
#include "transport/io_handler.h"
#include "transport/stack.h"

namespace ah {
namespace {

constexpr size_t kMaxField = 255;

// The one-byte length fields (and SOCKS 4's NUL-terminated ones) cannot
// carry these; sending them anyway would desynchronise the proxy.
void CheckLengthField(const std::string& value, const char* what) {
  if (value.size() > kMaxField)
    throw EIdSocksError(std::string("Socks ") + what + " is longer than 255 bytes.");
}

void CheckTerminatedField(const std::string& value, const char* what) {
  CheckLengthField(value, what);
  if (value.find('\0') != std::string::npos)
    throw EIdSocksError(std::string("Socks ") + what + " must not contain a NUL byte.");
}

void AppendPort(std::string& out, int port) {
  out += char((port >> 8) & 0xFF);
  out += char(port & 0xFF);
}

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(int timeout) {
  return timeout == WaitForever ? Clock::time_point::max()
                                : Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
}

// WaitForever for no deadline.
int MsLeft(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) return WaitForever;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return int(std::max<int64_t>(0, left.count()));
}

[[noreturn]] void NoResponse() { throw EIdSocksServerRespondError("Socks server did not respond."); }

[[noreturn]] void RaiseSocks4Code(uint8_t code) {
  switch (code) {
    case 91: throw EIdSocksRequestFailed("Request rejected or failed.");
    case 92: throw EIdSocksRequestServerFailed("Request rejected because SOCKS server cannot connect.");
    case 93:
      throw EIdSocksRequestIdentFailed(
          "Request rejected because the client program and identd report different user-ids.");
    default: throw EIdSocksUnknownError("Unknown socks error.");
  }
}

[[noreturn]] void RaiseSocks5Code(uint8_t code) {
  switch (code) {
    case 1: throw EIdSocksServerGeneralError("General SOCKS server failure.");
    case 2: throw EIdSocksServerPermissionError("Connection not allowed by ruleset.");
    case 3: throw EIdSocksServerNetUnreachableError("Network unreachable.");
    case 4: throw EIdSocksServerHostUnreachableError("Host unreachable.");
    case 5: throw EIdSocksServerConnectionRefusedError("Connection refused.");
    case 6: throw EIdSocksServerTTLExpiredError("TTL expired.");
    case 7: throw EIdSocksServerCommandError("Command not supported.");
    case 8: throw EIdSocksServerAddressError("Address type not supported.");
    default: throw EIdSocksUnknownError("Unknown socks error.");
  }
}

}  // namespace

void TIdSocksInfo::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TIdSocksInfo*>(&source)) {
    authentication_ = other->authentication_;
    host_ = other->host_;
    password_ = other->password_;
    port_ = other->port_;
    username_ = other->username_;
    version_ = other->version_;
    return;
  }
  TIdComponent::Assign(source);
}

void TIdSocksInfo::NegotiateSocks(TIdIOHandler& handler, const std::string& host, int port,
                                  int timeout) {
  switch (version_) {
    case svSocks4:
    case svSocks4A: NegotiateSocks4(handler, host, port, timeout); break;
    case svSocks5: NegotiateSocks5(handler, host, port, timeout); break;
    case svNoSocks: break;
  }
}

void TIdSocksInfo::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component == owner_handler_) owner_handler_ = nullptr;
  TIdComponent::Notification(component, operation);
}

TIdIOHandler& TIdSocksInfo::Handler() const {
  if (!owner_handler_) throw EIdSocksError("Socks negotiation needs an I/O handler.");
  return *owner_handler_;
}

void TIdSocksInfo::SendAll(TIdIOHandler& handler, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    int sent = handler.SendRaw(bytes.data() + offset, int(bytes.size() - offset));
    TheStack()->CheckSocketResult(sent);
    if (sent <= 0) NoResponse();
    offset += size_t(sent);
  }
}

int TIdSocksInfo::ReceiveUpTo(TIdIOHandler& handler, uint8_t* buffer, int count,
                              Deadline deadline) {
  int got = 0;
  while (got < count) {
    const int left = MsLeft(deadline);
    if (left != WaitForever && !handler.WaitReadable(left))
      throw EIdConnectTimeout("Connect timed out.");
    int n = handler.ReceiveRaw(buffer + got, count - got);
    TheStack()->CheckSocketResult(n);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

void TIdSocksInfo::ReceiveExactly(TIdIOHandler& handler, uint8_t* buffer, int count,
                                  Deadline deadline) {
  int got;
  try {
    got = ReceiveUpTo(handler, buffer, count, deadline);
  } catch (const EIdSocksError&) {
    throw;
  } catch (const EIdConnectTimeout&) {
    throw;
  } catch (const std::exception&) {
    NoResponse();
  }
  if (got < count) NoResponse();
}

void TIdSocksInfo::NegotiateSocks4(TIdIOHandler& handler, const std::string& host, int port,
                                   int timeout) {
  const Deadline deadline = DeadlineAfter(timeout);
  const bool socks4a = version_ == svSocks4A;
  CheckTerminatedField(username_, "user id");
  if (socks4a) CheckTerminatedField(host, "host name");

  // +----+----+----+----+----+----+----+----+----+----+....+----+
  // | VN | CD | DSTPORT |      DSTIP        | USERID       |NULL|  (+ HOST, NULL for 4A)
  // +----+----+----+----+----+----+----+----+----+----+....+----+
  //    4    1      2              4           variable       1
  std::string request;
  request += char(4);
  request += char(1);
  AppendPort(request, port);
  if (socks4a) {
    // 0.0.0.x with x non-zero tells the proxy a name follows.
    request += std::string("\0\0\0\1", 4);
  } else {
    TIdStack* stack = TheStack();
    const std::string address = stack->ResolveHostAddresses(host, MsLeft(deadline), Id_PF_INET)[0];
    for (uint8_t b : stack->ParseIPv4(address)) request += char(b);
  }
  request += username_;
  request += char(0);
  if (socks4a) {
    request += host;
    request += char(0);
  }
  SendAll(handler, request);

  // +----+----+----+----+----+----+----+----+
  // | VN | CD | DSTPORT |      DSTIP        |
  // +----+----+----+----+----+----+----+----+
  std::array<uint8_t, 8> reply{};
  int got;
  try {
    got = ReceiveUpTo(handler, reply.data(), int(reply.size()), deadline);
  } catch (const EIdConnectTimeout&) {
    throw;
  } catch (const std::exception&) {
    NoResponse();
  }
  if (got < 2) NoResponse();
  if (reply[1] != 90) RaiseSocks4Code(reply[1]);
  // Granted, but the proxy closed before finishing its answer: the
  // onward connection is already gone.
  if (got < int(reply.size())) NoResponse();
}

void TIdSocksInfo::NegotiateSocks5(TIdIOHandler& handler, const std::string& host, int port,
                                   int timeout) {
  const Deadline deadline = DeadlineAfter(timeout);
  const bool login = authentication_ == saUsernamePassword;
  CheckLengthField(host, "host name");
  if (login) {
    CheckLengthField(username_, "user name");
    CheckLengthField(password_, "password");
  }
  Socks5Authenticate(handler, deadline);
  Socks5Connect(handler, host, port, deadline);
}

void TIdSocksInfo::Socks5Authenticate(TIdIOHandler& handler, Deadline deadline) {
  const bool login = authentication_ == saUsernamePassword;
  // +----+----------+----------+
  // |VER | NMETHODS | METHODS  |
  // +----+----------+----------+
  //    5      1        0 or 2
  const uint8_t method = login ? 2 : 0;
  SendAll(handler, std::string{char(5), char(1), char(method)});

  // +----+--------+
  // |VER | METHOD |
  // +----+--------+
  uint8_t answer[2];
  ReceiveExactly(handler, answer, 2, deadline);
  if (answer[1] != method || answer[1] == 255)
    throw EIdSocksAuthMethodError("Invalid socks authentication method.");
  if (!login) return;

  // +----+------+----------+------+----------+
  // |VER | ULEN |  UNAME   | PLEN |  PASSWD  |
  // +----+------+----------+------+----------+
  //    1     1    1 to 255     1    1 to 255
  std::string request;
  request += char(1);
  request += char(username_.size());
  request += username_;
  request += char(password_.size());
  request += password_;
  SendAll(handler, request);

  // +----+--------+
  // |VER | STATUS |
  // +----+--------+
  ReceiveExactly(handler, answer, 2, deadline);
  if (answer[1] != 0) throw EIdSocksAuthError("Authentication error to socks server.");
}

void TIdSocksInfo::Socks5Connect(TIdIOHandler& handler, const std::string& host, int port,
                                 Deadline deadline) {
  // +----+-----+-------+------+----------+----------+
  // |VER | CMD |  RSV  | ATYP | DST.ADDR | DST.PORT |
  // +----+-----+-------+------+----------+----------+
  //    5    1      0      3    len, name      2
  // The name goes as given: the proxy resolves it.
  std::string request{char(5), char(1), char(0), char(3), char(host.size())};
  request += host;
  AppendPort(request, port);
  SendAll(handler, request);

  // +----+-----+-------+------+----------+----------+
  // |VER | REP |  RSV  | ATYP | BND.ADDR | BND.PORT |
  // +----+-----+-------+------+----------+----------+
  // Read up to the first address byte, which for a name is its length.
  uint8_t head[5];
  ReceiveExactly(handler, head, 5, deadline);
  if (head[1] != 0) RaiseSocks5Code(head[1]);
  int rest;
  switch (head[3]) {
    case 1: rest = 3 + 2; break;
    case 3: rest = head[4] + 2; break;
    case 4: rest = 15 + 2; break;
    default: rest = 2; break;
  }
  // The bound address is of no use to a client; it only has to be consumed
  // so the server's first bytes are not taken for part of it.
  uint8_t discard[255 + 2];
  ReceiveExactly(handler, discard, rest, deadline);
}

}  // namespace ah
