#pragma once
// The socket stack: the one object through which the transport calls the
// operating system's sockets. Ports are host order in and out, addresses are
// text (dotted IPv4, or IPv6 without brackets), failing calls return -1 and
// leave a per-thread error code (the Windows Sockets numbering, so messages
// read the same everywhere).
//
// TIdStackPosix calls the POSIX socket interface directly; there is no
// run-time library binding to do on Linux. Its name look-ups are in
// stack_resolve.cpp, the other calls in stack_posix.cpp.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/strings.h"

struct sockaddr;

namespace ah {

using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
constexpr int Id_SOCKET_ERROR = -1;
constexpr int Id_PF_INET = 2;
constexpr int Id_PF_INET6 = 23;
constexpr int Id_SOCK_STREAM = 1;
constexpr int Id_IPPROTO_TCP = 6;
constexpr int Id_TCP_NODELAY = 1;

// The Windows Sockets error numbers the transport tests for by value.
constexpr int Id_WSAEINTR = 10004;
constexpr int Id_WSAEBADF = 10009;
constexpr int Id_WSAEINVAL = 10022;
constexpr int Id_WSAEWOULDBLOCK = 10035;
constexpr int Id_WSAENOTSOCK = 10038;
constexpr int Id_WSAEAFNOSUPPORT = 10047;
constexpr int Id_WSAEADDRINUSE = 10048;
constexpr int Id_WSAECONNABORTED = 10053;
constexpr int Id_WSAECONNRESET = 10054;
constexpr int Id_WSAESHUTDOWN = 10058;
constexpr int Id_WSAETIMEDOUT = 10060;
constexpr int Id_WSAECONNREFUSED = 10061;
constexpr int Id_WSAHOST_NOT_FOUND = 11001;

// "Socket Error # %d\r\n%s" with the code's text (empty for unknown codes).
std::string SocketErrorMessage(int code);
// The Windows Sockets number for a POSIX errno value; unmapped values
// become 20000 + errno, which has no text.
int WSACodeFromErrno(int err);

// Four parts cut at ".", each an integer 0..255 by the framework's reading.
bool IsDottedIPv4(std::string_view text);
// Assumes a dotted address; a part that is not an integer raises EConvertError.
std::array<uint8_t, 4> ParseIPv4(std::string_view text);
std::string FormatIPv4(const std::array<uint8_t, 4>& bytes);
// An IPv6 address in text, such as "::1" (no brackets, no zone).
bool IsIPv6Literal(std::string_view text);
// Id_PF_INET6 for an IPv6 address in text, else Id_PF_INET.
int AddressFamily(std::string_view ip);
// The text of an IPv4 or IPv6 socket address, with its port and family
// (Id_PF_INET, Id_PF_INET6) when asked for.
std::string FormatSocketAddress(const sockaddr* address, int* port = nullptr,
                                int* family = nullptr);

// A set of at most 64 socket handles for StackSelect.
class TIdSocketList {
 public:
  virtual ~TIdSocketList() = default;
  // EIdStackSetSizeExceeded "Set Size Exceeded." when full.
  virtual void AddSocket(TIdStackSocketHandle handle) = 0;
  // Absent handles are ignored; the last handle fills the gap.
  virtual void RemoveSocket(TIdStackSocketHandle handle) = 0;
  virtual int SocketCount() const = 0;
  // EIdStackSetSizeExceeded "Set Size Exceeded." outside 0..count-1.
  virtual TIdStackSocketHandle SocketAt(int index) const = 0;
  virtual void Clear() = 0;
};

class TIdSocketListPosix : public TIdSocketList {
 public:
  static constexpr int kCapacity = 64;
  void AddSocket(TIdStackSocketHandle handle) override;
  void RemoveSocket(TIdStackSocketHandle handle) override;
  int SocketCount() const override { return count_; }
  TIdStackSocketHandle SocketAt(int index) const override;
  void Clear() override { count_ = 0; }

 private:
  int count_ = 0;
  std::array<TIdStackSocketHandle, kCapacity> handles_{};
};

class TIdStack {
 public:
  TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;
  virtual ~TIdStack() = default;

  virtual void FillLocalAddresses() = 0;
  std::string FirstLocalAddress();
  // Filled anew on each call; owned by the stack.
  TStrings& LocalAddressList();

  virtual TIdStackSocketHandle StackAccept(TIdStackSocketHandle socket, std::string& ip,
                                           int& port) = 0;
  // Empty ip binds the family's any-address. The family (Id_PF_INET,
  // Id_PF_INET6) is the socket's; an ip not of it fails with 10022.
  virtual int StackBind(TIdStackSocketHandle socket, int family, int port,
                        const std::string& ip) = 0;
  virtual int StackCloseSocket(TIdStackSocketHandle socket) = 0;
  virtual int StackConnect(TIdStackSocketHandle socket, int family, int port,
                           const std::string& ip) = 0;
  // Raises EIdSocketError (11001 "Host not found." for an unknown name).
  virtual std::string StackHostByName(const std::string& host) = 0;
  // The addresses of a host name in the resolver's order: of family
  // Id_PF_INET or Id_PF_INET6, or of both for 0. A look-up without an
  // answer after timeout ms (-2: no limit) raises EIdConnectTimeout
  // "Connect timed out."; a failed one EIdSocketError.
  virtual std::vector<std::string> StackResolveHost(const std::string& host, int family,
                                                    int timeout) = 0;
  virtual std::string StackHostName() = 0;
  virtual std::string StackHostByAddress(const std::string& ip) = 0;
  // A known service's port, else the name read as a number; otherwise
  // EIdInvalidServiceName "%s is not a valid service.".
  virtual int StackServicePort(const std::string& name) = 0;
  // The official name then the aliases; empty when the port has none.
  virtual std::unique_ptr<TStringList> StackServiceNames(int port) = 0;
  virtual uint16_t StackHostToNet16(uint16_t value) = 0;
  virtual int StackListen(TIdStackSocketHandle socket, int backlog) = 0;
  virtual uint16_t StackNetToHost16(uint16_t value) = 0;
  virtual uint32_t StackHostToNet32(uint32_t value) = 0;
  virtual uint32_t StackNetToHost32(uint32_t value) = 0;
  // Bytes received, 0 when the peer closed, -1 on error.
  virtual int StackReceive(TIdStackSocketHandle socket, void* buffer, int length, int flags) = 0;
  virtual int StackReceiveFrom(TIdStackSocketHandle socket, void* buffer, int length, int flags,
                               std::string& ip, int& port) = 0;
  // Each present list is replaced by its ready handles. Time-out in ms,
  // -2 waits without limit, 0 polls. Returns the number of ready entries,
  // 0 on time-out, -1 on error.
  virtual int StackSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                          int timeout) = 0;
  // A peer that has gone never raises a signal: the send fails instead.
  virtual int StackSend(TIdStackSocketHandle socket, const void* buffer, int length,
                        int flags) = 0;
  virtual int StackSendTo(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                          const std::string& ip, int port) = 0;
  virtual int StackSetOption(TIdStackSocketHandle socket, int level, int option,
                             const void* value, int length) = 0;
  virtual TIdStackSocketHandle StackSocket(int family, int type, int protocol) = 0;
  virtual int StackShutdown(TIdStackSocketHandle socket, int how) = 0;
  virtual std::string SocketErrorText(int code) { return SocketErrorMessage(code); }
  // The calling thread's last socket error code.
  virtual int StackLastError() = 0;
  // Failures go through CheckSocketResult.
  virtual void StackPeerName(TIdStackSocketHandle socket, int& family, std::string& ip,
                             int& port) = 0;
  virtual void StackSocketName(TIdStackSocketHandle socket, int& family, std::string& ip,
                               int& port) = 0;
  virtual int StackGetOption(TIdStackSocketHandle socket, int level, int option, void* value,
                             int& length) = 0;
  virtual std::string FormatIPv4(const std::array<uint8_t, 4>& bytes) {
    return ah::FormatIPv4(bytes);
  }
  virtual std::array<uint8_t, 4> ParseIPv4(std::string_view text) { return ah::ParseIPv4(text); }

  // False when result is not -1 (the error code is not read). For -1 the
  // code is stored as the calling thread's LastErrorCode; true when it is
  // tolerated, otherwise ThrowSocketError.
  bool CheckSocketResult(int result, std::initializer_list<int> tolerated = {});
  [[noreturn]] void ThrowSocketError(int code);
  // EIdInvalidSocket "Cannot allocate socket." on failure.
  TIdStackSocketHandle NewSocketHandle(int type, int protocol, int family = Id_PF_INET);
  // "LOCALHOST" (any case) and dotted addresses are never looked up.
  std::string ResolveHostAddress(const std::string& host);
  // The addresses to try for host, in order, as StackResolveHost gives
  // them; "LOCALHOST" (any case) is 127.0.0.1 and an address is itself,
  // without a look-up (10047 when it is not of the family asked for).
  std::vector<std::string> ResolveHostAddresses(const std::string& host, int timeout = -2,
                                                int family = 0);
  bool IsDottedIPv4(std::string_view text) const { return ah::IsDottedIPv4(text); }
  uint32_t IPv4ToAddress(std::string_view text);

  // The code CheckSocketResult last stored on the calling thread: threads
  // that share the stack never read each other's failures.
  int LastErrorCode() const;

 protected:
  std::unique_ptr<TStringList> local_address_cache_;
};

class TIdStackPosix : public TIdStack {
 public:
  TIdStackPosix();
  // Sets the calling thread's last socket error code (WSASetLastError).
  void SetLastError(int code);
  void FillLocalAddresses() override;
  TIdStackSocketHandle StackAccept(TIdStackSocketHandle socket, std::string& ip,
                                   int& port) override;
  int StackBind(TIdStackSocketHandle socket, int family, int port, const std::string& ip) override;
  int StackCloseSocket(TIdStackSocketHandle socket) override;
  int StackConnect(TIdStackSocketHandle socket, int family, int port,
                   const std::string& ip) override;
  std::string StackHostByName(const std::string& host) override;
  std::vector<std::string> StackResolveHost(const std::string& host, int family,
                                            int timeout) override;
  std::string StackHostName() override;
  std::string StackHostByAddress(const std::string& ip) override;
  int StackServicePort(const std::string& name) override;
  std::unique_ptr<TStringList> StackServiceNames(int port) override;
  uint16_t StackHostToNet16(uint16_t value) override;
  int StackListen(TIdStackSocketHandle socket, int backlog) override;
  uint16_t StackNetToHost16(uint16_t value) override;
  uint32_t StackHostToNet32(uint32_t value) override;
  uint32_t StackNetToHost32(uint32_t value) override;
  int StackReceive(TIdStackSocketHandle socket, void* buffer, int length, int flags) override;
  int StackReceiveFrom(TIdStackSocketHandle socket, void* buffer, int length, int flags,
                       std::string& ip, int& port) override;
  int StackSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                  int timeout) override;
  int StackSend(TIdStackSocketHandle socket, const void* buffer, int length, int flags) override;
  int StackSendTo(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                  const std::string& ip, int port) override;
  int StackSetOption(TIdStackSocketHandle socket, int level, int option, const void* value,
                     int length) override;
  TIdStackSocketHandle StackSocket(int family, int type, int protocol) override;
  int StackShutdown(TIdStackSocketHandle socket, int how) override;
  int StackLastError() override;
  void StackPeerName(TIdStackSocketHandle socket, int& family, std::string& ip,
                     int& port) override;
  void StackSocketName(TIdStackSocketHandle socket, int& family, std::string& ip,
                       int& port) override;
  int StackGetOption(TIdStackSocketHandle socket, int level, int option, void* value,
                     int& length) override;

 private:
  // getaddrinfo on a worker thread, waited for at most timeout ms.
  int LookUpWithin(const std::string& host, int family, int timeout,
                   std::vector<std::string>& out);
};

// Creates the process's stack (TIdStackPosix).
std::unique_ptr<TIdStack> NewStack();

// Socket waits that a signal can cut short, so that a program stopped while
// a peer stays silent ends at once instead of waiting out its time-outs.
// After EnableWaitInterrupts(), InterruptWaits() makes every socket wait of
// the process, in every thread, end at once with socket error 10004
// "Interrupted system call.", the waits already under way as well as later
// ones, until ClearWaitInterrupt(). InterruptWaits() is safe in a signal
// handler; before EnableWaitInterrupts() it only marks the waits to come.
void EnableWaitInterrupts();
void InterruptWaits() noexcept;
void ClearWaitInterrupt();
bool WaitsInterrupted() noexcept;

// Sends the whole named file over the socket in the kernel. Returns the
// file's size, or 0 when the file cannot be opened or the transfer fails.
int64_t KernelSendFile(TIdStackSocketHandle socket, const std::string& file_name);

}  // namespace ah
