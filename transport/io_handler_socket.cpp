#include "transport/io_handler_socket.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "framework/sysutils.h"
#include "framework/threads.h"
#include "transport/exceptions.h"

namespace ah {

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Start() { thread_ = std::thread([this] { Execute(); }); }

void TIdConnectThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TIdConnectThread::Execute() {
  try {
    // A socket closed under the connect by a giving-up caller reports
    // one of these; that is not a failure worth reporting.
    TheStack()->CheckSocketResult(target_handle_->ConnectToPeer(target_handle_->Family()),
                                  {Id_WSAEBADF, Id_WSAENOTSOCK});
  } catch (const std::exception& e) {
    failure_text_ = e.what();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  finished_changed_.notify_all();
}

void TIdConnectThread::SleepUnlessFinished(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_changed_.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                             [this] { return finished_.load(); });
}

int RemainingMs(int timeout, std::chrono::steady_clock::time_point start) {
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return std::max(0, timeout - int(spent.count()));
}

void CheckPortNumber(int port) {
  if (port < 1 || port > 65535) {
    throw EIdInvalidPort(Format("Port %d is not a port: ports are 1 to 65535", port));
  }
}

TIdIOHandlerSocket::TIdIOHandlerSocket(TComponent* owner) : TIdIOHandler(owner) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  CloseHandler();
  LeaveSocksInfo();
}

void TIdIOHandlerSocket::LeaveSocksInfo() {
  // Settings others keep using must not point at a handler that is gone.
  if (socks_ && socks_ != own_socks_.get()) {
    if (socks_->OwnerHandler() == this) socks_->SetOwnerHandler(nullptr);
    RemoveFreeNotification(socks_);
  }
}

void TIdIOHandlerSocket::CloseHandler() {
  if (binding_) binding_->ReleaseHandle();
}

bool TIdIOHandlerSocket::IsOpen() { return binding_ && binding_->HandleOpen(); }

void TIdIOHandlerSocket::PrepareOpen() {
  if (!binding_)
    binding_ = std::make_unique<TIdSocketHandle>();
  else
    binding_->ResetHandle(true);
}

bool TIdIOHandlerSocket::WaitReadable(int timeout) {
  if (!binding_) throw EIdConnClosedGracefully("Connection Closed Gracefully.");
  return binding_->WaitReadable(timeout);
}

int TIdIOHandlerSocket::ReceiveRaw(void* buffer, int length) {
  if (!IsOpen()) throw EIdClosedSocket("Disconnected.");
  return binding_->ReceiveRaw(buffer, length, 0);
}

int TIdIOHandlerSocket::ReceiveNow(void* buffer, int length) {
  if (!IsOpen()) throw EIdClosedSocket("Disconnected.");
  int result = binding_->ReceiveRaw(buffer, length, MSG_DONTWAIT);
  if (result == Id_SOCKET_ERROR && TheStack()->StackLastError() == Id_WSAEWOULDBLOCK) {
    return kNothingYet;
  }
  return result;
}

int TIdIOHandlerSocket::SendRaw(const void* buffer, int length) {
  if (!IsOpen()) throw EIdClosedSocket("Disconnected.");
  return binding_->SendRaw(buffer, length, 0);
}

TIdSocksInfo* TIdIOHandlerSocket::SocksInfo() {
  if (!socks_) {
    if (!own_socks_) own_socks_ = std::make_unique<TIdSocksInfo>(nullptr);
    socks_ = own_socks_.get();
    socks_->SetOwnerHandler(this);
  }
  return socks_;
}

void TIdIOHandlerSocket::SetSocksInfo(TIdSocksInfo* info) {
  LeaveSocksInfo();
  if (info && info->Owner()) {
    socks_ = info;
    FreeNotification(info);
  } else {
    socks_ = nullptr;
    TIdSocksInfo* own = SocksInfo();
    if (info) own->Assign(*info);
  }
  socks_->SetOwnerHandler(this);
}

void TIdIOHandlerSocket::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component == socks_ && socks_ != own_socks_.get()) {
    socks_ = own_socks_.get();
  }
  TIdIOHandler::Notification(component, operation);
}

void TIdIOHandlerSocket::ConnectToServer(const std::string& host, int port, int timeout,
                                         int port_high, int port_low, int bound_port,
                                         const std::string& bound_ip) {
  TIdSocksInfo* socks = SocksInfo();
  std::string target_host = host;
  int target_port = port;
  if (socks->Version() != svNoSocks) {
    target_host = socks->Host();
    target_port = socks->Port();
    CheckPortNumber(target_port);
  }
  if (!binding_) PrepareOpen();
  // A connect time-out bounds the whole way: look-up, connect and SOCKS.
  const auto start = std::chrono::steady_clock::now();
  auto left = [&] { return timeout > 0 ? RemainingMs(timeout, start) : WaitForever; };
  TIdStack* stack = TheStack();
  if (!stack->IsDottedIPv4(target_host) && !IsIPv6Literal(target_host))
    ReportStatus(hsResolving, target_host);
  const std::vector<std::string> addresses = stack->ResolveHostAddresses(target_host, left());
  const LocalEnd local{bound_ip, bound_port, port_low, port_high};
  ConnectToAddresses(addresses, target_port, timeout, start, local);
  socks->NegotiateSocks(*this, host, port, left());
}

void TIdIOHandlerSocket::ConnectToAddresses(const std::vector<std::string>& addresses, int port,
                                            int timeout, std::chrono::steady_clock::time_point start,
                                            const LocalEnd& local) {
  for (size_t i = 0; i < addresses.size(); ++i) {
    const size_t untried = addresses.size() - i;
    int share = timeout;
    if (timeout > 0) {
      // Each address gets its part of what is left, so one that never
      // answers leaves time for the others.
      const int left = RemainingMs(timeout, start);
      if (left == 0) throw EIdConnectTimeout("Connect timed out.");
      share = std::max(1, left / int(untried));
    }
    try {
      ConnectToAddress(addresses[i], port, share, local);
      return;
    } catch (const EIdException& e) {
      // Refused, unreachable, timed out, or a family this machine lacks:
      // the next address may do. A stop ends the connect at once.
      const auto* socket_error = dynamic_cast<const EIdSocketError*>(&e);
      if (untried == 1 || (socket_error && socket_error->SocketErrorCode() == Id_WSAEINTR)) throw;
    }
  }
}

void TIdIOHandlerSocket::ConnectToAddress(const std::string& ip, int port, int timeout,
                                          const LocalEnd& local) {
  TIdSocketHandle& b = *binding_;
  b.AllocateHandle(Id_SOCK_STREAM, 0, AddressFamily(ip));
  b.SetIP(local.ip);
  b.SetPort(local.port);
  b.SetClientPortMin(local.port_low);
  b.SetClientPortMax(local.port_high);
  b.BindLocal();
  b.SetPeerAddress(ip, port);
  if (!use_nagle_) b.SetOption(Id_IPPROTO_TCP, Id_TCP_NODELAY, 1);
  ReportStatus(hsConnecting, ip);

  if (timeout != UseReadTimeout && timeout != 0)
    ConnectWithTimeout(timeout);
  else if (AntiFreezeInUse())
    ConnectWithTimeout(120000);
  else
    TheStack()->CheckSocketResult(b.ConnectToPeer(b.Family()));
}

void TIdIOHandlerSocket::ConnectWithTimeout(int timeout) {
  auto thread = std::make_unique<TIdConnectThread>(binding_.get());
  thread->Start();
  int slice = 125;
  if (AntiFreezeInUse()) slice = std::min(TheAntiFreeze()->IdleTimeOut(), 125);
  int remaining = timeout == WaitForever ? slice + 1 : timeout;
  // A connect that is made at once is not kept waiting for the slice.
  while (slice < remaining) {
    thread->SleepUnlessFinished(slice);
    remaining = timeout == WaitForever ? slice + 1 : remaining - slice;
    KeepResponsive(true);
    if (thread->Finished()) {
      remaining = 0;
      break;
    }
    if (WaitsInterrupted()) break;
  }
  if (!WaitsInterrupted()) thread->SleepUnlessFinished(remaining);
  if (!thread->Finished()) {
    thread->Terminate();
    // Closing the socket makes the blocked connect return.
    CloseHandler();
    thread->WaitFor();
    if (WaitsInterrupted()) TheStack()->ThrowSocketError(Id_WSAEINTR);
    throw EIdConnectTimeout("Connect timed out.");
  }
  thread->WaitFor();
  if (!thread->FailureText().empty()) throw EIdConnectException(thread->FailureText());
}

}  // namespace ah
