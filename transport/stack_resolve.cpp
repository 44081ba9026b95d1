// The socket stack's name look-ups: host names to addresses, addresses to
// names, and the machine's own addresses.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <vector>

#include "transport/stack.h"

namespace ah {
namespace {

int CodeFromAddrInfoError(int rc) {
  switch (rc) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return 11002;
    case EAI_SYSTEM: return WSACodeFromErrno(errno);
    default: return 11003;
  }
}

std::vector<std::string> LookUpIPv4(const std::string& host, int& error_code) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &answer);
  std::vector<std::string> out;
  if (rc != 0) {
    error_code = CodeFromAddrInfoError(rc);
    return out;
  }
  for (addrinfo* a = answer; a; a = a->ai_next) {
    if (a->ai_family != AF_INET) continue;
    const auto* b = reinterpret_cast<const uint8_t*>(
        &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    out.push_back(FormatIPv4({b[0], b[1], b[2], b[3]}));
  }
  freeaddrinfo(answer);
  if (out.empty()) error_code = Id_WSAHOST_NOT_FOUND;
  return out;
}

}  // namespace

void TIdStackPosix::FillLocalAddresses() {
  if (!local_address_cache_) local_address_cache_ = std::make_unique<TStringList>();
  local_address_cache_->Clear();
  int code = 0;
  auto addresses = LookUpIPv4(StackHostName(), code);
  if (addresses.empty()) {
    SetLastError(code);
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  for (const auto& a : addresses) local_address_cache_->Add(a);
}

std::string TIdStackPosix::StackHostByName(const std::string& host) {
  int code = 0;
  auto addresses = LookUpIPv4(host, code);
  if (addresses.empty()) {
    SetLastError(code);
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  return addresses.front();
}

std::string TIdStackPosix::StackHostByAddress(const std::string& ip) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(IPv4ToAddress(ip));
  char host[NI_MAXHOST] = {};
  int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host, sizeof host,
                         nullptr, 0, NI_NAMEREQD);
  if (rc != 0) {
    SetLastError(CodeFromAddrInfoError(rc));
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  return host;
}

}  // namespace ah
