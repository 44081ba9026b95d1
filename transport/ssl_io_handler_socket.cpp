#include "transport/ssl_io_handler_socket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <chrono>
#include <mutex>

#include "framework/sysutils.h"
#include "framework/threads.h"
#include "transport/exceptions.h"
#include "transport/stack.h"
#include "transport/system_trust.h"

namespace ah {

namespace {

constexpr int kWouldBlock = 10035;

// The bytes of a session travel through the stack like every other socket
// call, so sends never raise SIGPIPE and failures leave the stack's error
// code for the connection to read.
struct BioState {
  TIdStackSocketHandle socket = Id_INVALID_SOCKET;
  // Set while a readable wait or a closing notify must not block.
  bool nonblocking = false;
  bool eof = false;
  // A socket call failed; its code is the stack's last error.
  bool failed = false;
};

int BioWrite(BIO* bio, const char* data, int length) {
  auto* state = static_cast<BioState*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  int n = TheStack()->StackSend(state->socket, data, length, state->nonblocking ? MSG_DONTWAIT : 0);
  if (n < 0) {
    if (TheStack()->StackLastError() == kWouldBlock)
      BIO_set_retry_write(bio);
    else
      state->failed = true;
  }
  return n;
}

int BioRead(BIO* bio, char* data, int length) {
  auto* state = static_cast<BioState*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  int n = TheStack()->StackReceive(state->socket, data, length,
                                   state->nonblocking ? MSG_DONTWAIT : 0);
  if (n == 0) state->eof = true;
  if (n < 0) {
    if (TheStack()->StackLastError() == kWouldBlock)
      BIO_set_retry_read(bio);
    else
      state->failed = true;
  }
  return n;
}

long BioCtrl(BIO* bio, int command, long, void*) {
  auto* state = static_cast<BioState*>(BIO_get_data(bio));
  switch (command) {
    case BIO_CTRL_FLUSH: return 1;
    // Lets OpenSSL tell a peer that closed without close_notify from one
    // that is merely slow.
    case BIO_CTRL_EOF: return state && state->eof ? 1 : 0;
    default: return 0;
  }
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* StackBioMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ah stack socket");
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_ctrl(m, BioCtrl);
    BIO_meth_set_create(m, BioCreate);
    return m;
  }();
  return method;
}

// OpenSSL's reason for the last failure, without the error-code prefix.
std::string OpenSSLReason() {
  unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) return {};
  const char* reason = ERR_reason_error_string(code);
  if (reason) return reason;
  char buffer[256];
  ERR_error_string_n(code, buffer, sizeof buffer);
  return buffer;
}

using Clock = std::chrono::steady_clock;

// The part of a time-out (ms, WaitForever, 0 = poll) left after start.
int Remaining(int timeout, Clock::time_point start) {
  if (timeout < 0) return WaitForever;
  auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return std::max(0, timeout - int(spent.count()));
}

}  // namespace

class TIdTLSSession {
 public:
  ~TIdTLSSession() {
    FreeSession();
    FreeContext();
  }

  void FreeSession() {
    if (ssl) SSL_free(ssl);  // frees the BIO too
    ssl = nullptr;
    io = BioState();
    handshaken = false;
    fatal = false;
    deferred_socket_error = 0;
    deferred_failure.clear();
  }

  void FreeContext() {
    if (resumable) SSL_SESSION_free(resumable);
    resumable = nullptr;
    resumable_key.clear();
    // Sessions the running connection still receives belong to the old
    // settings.
    session_key.clear();
    if (ctx) SSL_CTX_free(ctx);
    ctx = nullptr;
  }

  static int ExIndex() {
    static int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
  }

  // Keeps the newest session the server hands out for the peer the running
  // session talks to, so the next connection there can resume it.
  static int NewSession(SSL* ssl, SSL_SESSION* session) {
    auto* self = static_cast<TIdTLSSession*>(SSL_get_ex_data(ssl, ExIndex()));
    if (!self || self->session_key.empty()) return 0;
    if (self->resumable) SSL_SESSION_free(self->resumable);
    self->resumable = session;
    self->resumable_key = self->session_key;
    return 1;
  }

  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BioState io;
  bool handshaken = false;
  // After a fatal TLS error no close_notify may be sent.
  bool fatal = false;
  // What a readable wait ran into, reported by the next receive.
  int deferred_socket_error = 0;
  std::string deferred_failure;
  std::string session_key;
  SSL_SESSION* resumable = nullptr;
  std::string resumable_key;
};

TIdSSLIOHandlerSocket::TIdSSLIOHandlerSocket(TComponent* owner)
    : TIdIOHandlerSocket(owner), tls_(std::make_unique<TIdTLSSession>()) {}

TIdSSLIOHandlerSocket::~TIdSSLIOHandlerSocket() { CloseHandler(); }

void TIdSSLIOHandlerSocket::SetCAFile(std::string value) {
  ca_file_ = std::move(value);
  tls_->FreeContext();
}

void TIdSSLIOHandlerSocket::SetVerifyHostName(std::string value) {
  verify_host_name_ = std::move(value);
  tls_->FreeContext();
}

void TIdSSLIOHandlerSocket::SetInsecure(bool value) {
  insecure_ = value;
  tls_->FreeContext();
}

bool TIdSSLIOHandlerSocket::TLSActive() const { return tls_->ssl && tls_->handshaken; }

std::string TIdSSLIOHandlerSocket::SessionDescription() const {
  if (!TLSActive()) return {};
  return std::string(SSL_get_version(tls_->ssl)) + " " +
         SSL_CIPHER_get_name(SSL_get_current_cipher(tls_->ssl));
}

bool TIdSSLIOHandlerSocket::SessionReused() const {
  return TLSActive() && SSL_session_reused(tls_->ssl) == 1;
}

void TIdSSLIOHandlerSocket::DropSession(bool notify_peer) {
  TIdTLSSession& t = *tls_;
  if (!t.ssl) return;
  if (notify_peer && t.handshaken && !t.fatal && IsOpen()) {
    // One try: a peer that does not take it at once is not waited for.
    t.io.nonblocking = true;
    SSL_shutdown(t.ssl);
    ERR_clear_error();
  }
  t.FreeSession();
}

void TIdSSLIOHandlerSocket::CloseHandler() {
  DropSession(true);
  TIdIOHandlerSocket::CloseHandler();
}

void TIdSSLIOHandlerSocket::PrepareOpen() {
  DropSession(false);
  TIdIOHandlerSocket::PrepareOpen();
}

void TIdSSLIOHandlerSocket::ConnectToServer(const std::string& host, int port, int timeout,
                                            int port_high, int port_low, int bound_port,
                                            const std::string& bound_ip) {
  DropSession(false);
  closed_without_notify_ = false;
  TIdIOHandlerSocket::ConnectToServer(host, port, timeout, port_high, port_low, bound_port,
                                      bound_ip);
  server_name_ = host;
  server_port_ = port;
  handshake_timeout_ = timeout > 0 ? timeout : 0;
  if (!pass_through_) StartTLS(handshake_timeout_);
}

void TIdSSLIOHandlerSocket::SetPassThrough(bool value) {
  if (value == pass_through_) return;
  pass_through_ = value;
  if (!value && IsOpen() && !tls_->ssl) {
    StartTLS(handshake_timeout_);
  } else if (value && tls_->ssl) {
    CloseHandler();
  }
}

// The peer as messages name it and as sessions are kept for.
std::string TIdSSLIOHandlerSocket::HandshakePeer() const {
  const std::string& name = verify_host_name_.empty() ? server_name_ : verify_host_name_;
  return name + ":" + IntToStr(server_port_);
}

void TIdSSLIOHandlerSocket::FailHandshake(const std::string& reason, long code) {
  tls_->fatal = true;
  const std::string where = HandshakePeer();
  CloseHandler();
  throw EIdSSLProtocolReplyError(int(code), "TLS handshake with " + where + " failed: " + reason);
}

void TIdSSLIOHandlerSocket::StartTLS(int timeout) {
  const std::string name = verify_host_name_.empty() ? server_name_ : verify_host_name_;
  // OpenSSL takes an empty name as "check no name" and verifies the chain
  // only: anyone with any valid certificate would pass.
  if (name.empty() && !insecure_) FailHandshake("no server name to check the certificate against");
  // A server that takes the connection and never answers the hello must
  // not hold the caller for ever.
  if (timeout <= 0) timeout = handshake_timeout_limit_;
  ERR_clear_error();
  if (!tls_->ctx) PrepareContext();
  NewSession(name);
  RunHandshake(timeout);
}

void TIdSSLIOHandlerSocket::PrepareContext() {
  TIdTLSSession& t = *tls_;
  t.ctx = SSL_CTX_new(TLS_client_method());
  if (!t.ctx) FailHandshake(OpenSSLReason());
  SSL_CTX_set_min_proto_version(t.ctx, TLS1_2_VERSION);
  // A peer that just closes its socket ends the stream like close_notify
  // would: HTTP bodies read until close rely on it.
  SSL_CTX_set_options(t.ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_COMPRESSION |
                                 SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(t.ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                              SSL_MODE_AUTO_RETRY);
  // Records are read a few at a time, not as a header and a body each.
  SSL_CTX_set_read_ahead(t.ctx, 1);
  SSL_CTX_set_default_read_buffer_len(t.ctx, 64 * 1024);
  TrustSystemCertificates(t.ctx);
  ERR_clear_error();
  if (!ca_file_.empty() && SSL_CTX_load_verify_locations(t.ctx, ca_file_.c_str(), nullptr) != 1) {
    std::string reason = OpenSSLReason();
    SSL_CTX_free(t.ctx);
    t.ctx = nullptr;
    FailHandshake("cannot load trusted certificates from \"" + ca_file_ + "\" (" + reason + ")");
  }
  SSL_CTX_set_verify(t.ctx, insecure_ ? SSL_VERIFY_NONE : SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_session_cache_mode(t.ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(t.ctx, &TIdTLSSession::NewSession);
}

void TIdSSLIOHandlerSocket::NewSession(const std::string& name) {
  TIdTLSSession& t = *tls_;
  t.FreeSession();
  t.ssl = SSL_new(t.ctx);
  if (!t.ssl) FailHandshake(OpenSSLReason());
  BIO* bio = BIO_new(StackBioMethod());
  if (!bio) FailHandshake(OpenSSLReason());
  t.io.socket = SocketBinding()->SocketHandle();
  BIO_set_data(bio, &t.io);
  SSL_set_bio(t.ssl, bio, bio);
  SSL_set_ex_data(t.ssl, TIdTLSSession::ExIndex(), &t);
  SSL_set_connect_state(t.ssl);

  // Server name indication carries host names only, never addresses.
  const bool is_address = TheStack()->IsDottedIPv4(name) || IsIPv6Literal(name);
  if (!name.empty() && !is_address) SSL_set_tlsext_host_name(t.ssl, name.c_str());
  if (!insecure_) {
    X509_VERIFY_PARAM* param = SSL_get0_param(t.ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    int ok = is_address ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str())
                        : X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
    if (ok != 1) FailHandshake("the host name \"" + name + "\" cannot be checked");
  }
  t.session_key = HandshakePeer() + (insecure_ ? " insecure" : "");
  if (t.resumable && t.resumable_key == t.session_key) SSL_set_session(t.ssl, t.resumable);
}

void TIdSSLIOHandlerSocket::RunHandshake(int timeout) {
  TIdTLSSession& t = *tls_;
  // A time-out bounds the whole handshake; without one it blocks like a
  // plain connect.
  t.io.nonblocking = timeout > 0;
  const auto start = Clock::now();
  for (;;) {
    ERR_clear_error();
    int rc = SSL_connect(t.ssl);
    if (rc == 1) break;
    int error = SSL_get_error(t.ssl, rc);
    if (!t.io.nonblocking || (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE))
      FailHandshake(HandshakeFailure());
    int left = Remaining(timeout, start);
    if (left == 0) FailHandshake("timed out");
    // Handshake messages are small: a write that would block is retried
    // after a short wait rather than a writable wait.
    if (error == SSL_ERROR_WANT_READ) {
      if (!SocketBinding()->WaitReadable(left) && Remaining(timeout, start) == 0)
        FailHandshake("timed out");
    } else {
      SleepMs(1);
    }
  }
  t.io.nonblocking = false;
  t.handshaken = true;
}

std::string TIdSSLIOHandlerSocket::HandshakeFailure() {
  TIdTLSSession& t = *tls_;
  long verify = SSL_get_verify_result(t.ssl);
  if (!insecure_ && verify != X509_V_OK) {
    ERR_clear_error();
    FailHandshake(std::string("certificate verify failed (") +
                      X509_verify_cert_error_string(verify) + ")",
                  verify);
  }
  std::string reason = OpenSSLReason();
  if (reason.empty() && t.io.failed) reason = SocketErrorMessage(TheStack()->StackLastError());
  if (reason.empty()) reason = "the server closed the connection";
  return reason;
}

bool TIdSSLIOHandlerSocket::WaitReadable(int timeout) {
  TIdTLSSession& t = *tls_;
  if (!t.ssl || !IsOpen()) return TIdIOHandlerSocket::WaitReadable(timeout);
  if (SSL_pending(t.ssl) > 0 || !t.deferred_failure.empty() || t.deferred_socket_error) return true;
  const auto start = Clock::now();
  // Raw bytes OpenSSL holds may complete a record without another wait.
  bool wait_first = SSL_has_pending(t.ssl) == 0;
  for (;;) {
    if (wait_first) {
      int left = Remaining(timeout, start);
      if (!SocketBinding()->WaitReadable(left)) return false;
    }
    wait_first = true;
    // Readable on the socket is not readable for the caller: the bytes may
    // be a partial record or a record without data (a session ticket).
    char probe;
    t.io.nonblocking = true;
    ERR_clear_error();
    int rc = SSL_peek(t.ssl, &probe, 1);
    int error = rc > 0 ? SSL_ERROR_NONE : SSL_get_error(t.ssl, rc);
    t.io.nonblocking = false;
    if (rc > 0) return true;
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (timeout >= 0 && Remaining(timeout, start) == 0) return false;
      continue;
    }
    if (error == SSL_ERROR_SYSCALL && t.io.failed) {
      t.deferred_socket_error = TheStack()->StackLastError();
    } else if (error != SSL_ERROR_ZERO_RETURN && error != SSL_ERROR_SYSCALL) {
      t.deferred_failure = OpenSSLReason();
      if (t.deferred_failure.empty()) t.deferred_failure = "protocol error";
    }
    // A close (or what ended the stream) is for the next receive to report.
    return true;
  }
}

int TIdSSLIOHandlerSocket::ReceiveRaw(void* buffer, int length) {
  TIdTLSSession& t = *tls_;
  if (!t.ssl) return TIdIOHandlerSocket::ReceiveRaw(buffer, length);
  if (!IsOpen()) throw EIdClosedSocket("Disconnected.");
  if (t.deferred_socket_error) {
    int code = t.deferred_socket_error;
    t.fatal = true;
    CloseHandler();
    TheStack()->ThrowSocketError(code);
  }
  if (!t.deferred_failure.empty()) FailRead(t.deferred_failure);
  if (length <= 0) return 0;
  return ReadDecrypted(buffer, length, false);
}

int TIdSSLIOHandlerSocket::ReceiveNow(void* buffer, int length) {
  TIdTLSSession& t = *tls_;
  if (!t.ssl) return TIdIOHandlerSocket::ReceiveNow(buffer, length);
  // What a wait held back is for ReceiveRaw to raise.
  if (!t.deferred_failure.empty() || t.deferred_socket_error || length <= 0) return kNothingYet;
  if (!IsOpen()) throw EIdClosedSocket("Disconnected.");
  return ReadDecrypted(buffer, length, true);
}

int TIdSSLIOHandlerSocket::ReadDecrypted(void* buffer, int length, bool now) {
  TIdTLSSession& t = *tls_;
  ERR_clear_error();
  t.io.failed = false;
  t.io.nonblocking = now;
  int rc = SSL_read(t.ssl, buffer, length);
  t.io.nonblocking = false;
  if (rc > 0) return rc;
  switch (SSL_get_error(t.ssl, rc)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      if (now) return kNothingYet;
      break;
    case SSL_ERROR_ZERO_RETURN:
      // A close_notify ends the stream before the socket's end is read; an
      // end of the socket that OpenSSL was told to take as one did not.
      closed_without_notify_ = t.io.eof;
      return 0;
    case SSL_ERROR_SYSCALL:
      if (t.io.failed) {
        t.fatal = true;
        return -1;  // the stack holds the code
      }
      closed_without_notify_ = true;
      return 0;
    default:
      break;
  }
  std::string reason = OpenSSLReason();
  FailRead(reason.empty() ? "protocol error" : reason);
}

void TIdSSLIOHandlerSocket::FailRead(const std::string& reason) {
  tls_->fatal = true;
  CloseHandler();
  throw EIdSSLProtocolReplyError(0, "TLS failure: " + reason);
}

int TIdSSLIOHandlerSocket::SendRaw(const void* buffer, int length) {
  TIdTLSSession& t = *tls_;
  if (!t.ssl) return TIdIOHandlerSocket::SendRaw(buffer, length);
  if (!IsOpen()) throw EIdClosedSocket("Disconnected.");
  if (length <= 0) return 0;
  ERR_clear_error();
  t.io.failed = false;
  int rc = SSL_write(t.ssl, buffer, length);
  if (rc > 0) return rc;
  int error = SSL_get_error(t.ssl, rc);
  if (error == SSL_ERROR_SYSCALL && t.io.failed) {
    t.fatal = true;
    return -1;  // the stack holds the code
  }
  std::string reason = OpenSSLReason();
  t.fatal = true;
  CloseHandler();
  throw EIdSSLProtocolReplyError(0, "TLS failure: " + (reason.empty() ? "send failed" : reason));
}

}  // namespace ah
