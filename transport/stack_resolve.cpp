// The socket stack's name look-ups: host names to addresses (bounded by a
// time-out when one is given), addresses to names, and the machine's own
// addresses.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "framework/sysutils.h"
#include "transport/exceptions.h"
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

// The addresses of host in the resolver's order; 0 or the stack's error code.
int LookUp(const std::string& host, int family, std::vector<std::string>& out) {
  addrinfo hints{};
  hints.ai_family = family == Id_PF_INET ? AF_INET : family == Id_PF_INET6 ? AF_INET6 : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // Either family, but not one the machine has no address of (loopback
  // aside). Asked for one family, glibc would answer none at all then.
  if (hints.ai_family == AF_UNSPEC) hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* answer = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
  if (rc != 0) return CodeFromAddrInfoError(rc);
  for (addrinfo* a = answer; a; a = a->ai_next)
    if (a->ai_family == AF_INET || a->ai_family == AF_INET6) out.push_back(FormatSocketAddress(a->ai_addr));
  ::freeaddrinfo(answer);
  return out.empty() ? Id_WSAHOST_NOT_FOUND : 0;
}

// getaddrinfo cannot be bounded: it runs on a worker of its own, which the
// caller may leave behind. The worker and the caller share this record; the
// last one to let go frees it.
struct PendingLookUp {
  std::string host;
  int family = 0;
  int code = 0;
  std::vector<std::string> addresses;
  std::atomic<bool> answered{false};
  // Readable once the answer is in, so the wait is one of the stack's.
  int ready = -1;
  ~PendingLookUp() {
    if (ready >= 0) ::close(ready);
  }
};

}  // namespace

std::string FormatSocketAddress(const sockaddr* address, int* port, int* family) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    if (port) *port = ntohs(in6->sin6_port);
    if (family) *family = Id_PF_INET6;
    return text;
  }
  const auto* in = reinterpret_cast<const sockaddr_in*>(address);
  const auto* b = reinterpret_cast<const uint8_t*>(&in->sin_addr.s_addr);
  if (port) *port = ntohs(in->sin_port);
  if (family) *family = Id_PF_INET;
  return FormatIPv4({b[0], b[1], b[2], b[3]});
}

bool IsIPv6Literal(std::string_view text) {
  in6_addr address{};
  return text.find(':') != std::string_view::npos &&
         ::inet_pton(AF_INET6, std::string(text).c_str(), &address) == 1;
}

int AddressFamily(std::string_view ip) { return IsIPv6Literal(ip) ? Id_PF_INET6 : Id_PF_INET; }

std::vector<std::string> TIdStackPosix::StackResolveHost(const std::string& host, int family,
                                                         int timeout) {
  std::vector<std::string> out;
  const int code =
      timeout == -2 ? LookUp(host, family, out) : LookUpWithin(host, family, timeout, out);
  if (code != 0) {
    SetLastError(code);
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  return out;
}

int TIdStackPosix::LookUpWithin(const std::string& host, int family, int timeout,
                                std::vector<std::string>& out) {
  auto pending = std::make_shared<PendingLookUp>();
  pending->host = host;
  pending->family = family;
  pending->ready = ::eventfd(0, EFD_CLOEXEC);
  if (pending->ready < 0) return WSACodeFromErrno(errno);
  try {
    std::thread([pending] {
      pending->code = LookUp(pending->host, pending->family, pending->addresses);
      pending->answered.store(true, std::memory_order_release);
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t ignored = ::write(pending->ready, &one, sizeof one);
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: an unbounded look-up beats none.
    return LookUp(host, family, out);
  }
  TIdSocketListPosix ready;
  ready.AddSocket(pending->ready);
  // Stopping the program cuts this wait short too (10004).
  if (StackSelect(&ready, nullptr, nullptr, timeout) == Id_SOCKET_ERROR) return StackLastError();
  if (!pending->answered.load(std::memory_order_acquire))
    throw EIdConnectTimeout("Connect timed out.");
  out = std::move(pending->addresses);
  return pending->code;
}

void TIdStackPosix::FillLocalAddresses() {
  if (!local_address_cache_) local_address_cache_ = std::make_unique<TStringList>();
  local_address_cache_->Clear();
  for (const auto& a : StackResolveHost(StackHostName(), Id_PF_INET, -2))
    local_address_cache_->Add(a);
}

std::string TIdStackPosix::StackHostByName(const std::string& host) {
  return StackResolveHost(host, Id_PF_INET, -2).front();
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
