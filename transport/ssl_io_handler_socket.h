#pragma once
// The TLS I/O handler: a socket handler that runs TLS (OpenSSL) over its
// connected socket when pass-through is off, and passes bytes unchanged when
// it is on. The HTTP client asks two things of it: whether the connection's
// handler is of this class, and to switch between the two.
//
// Where TLS starts: right after the TCP connect (and any SOCKS handshake)
// when pass-through is already off, or on an open connection the moment
// pass-through is switched off (after a CONNECT through an HTTP proxy).
// Raw receive and send keep the socket handler's contract (bytes, 0 when the
// peer closed, -1 with the stack's error code), so the buffered connection
// works unchanged; bytes OpenSSL has already decrypted count as readable.
//
// Security by default: TLS 1.2 or newer, the system's trusted certificates,
// certificate and host name checks, SNI. A failed handshake or check raises
// EIdSSLProtocolReplyError with OpenSSL's reason and leaves the handler
// closed, before a byte of the caller's data went out.

#include <memory>
#include <string>

#include "transport/io_handler_socket.h"

namespace ah {

class TIdTLSSession;

class TIdSSLIOHandlerSocket : public TIdIOHandlerSocket {
 public:
  AH_CLASS_NAME(TIdSSLIOHandlerSocket)
  explicit TIdSSLIOHandlerSocket(TComponent* owner);
  ~TIdSSLIOHandlerSocket() override;

  // Sends close_notify (best effort, never blocking) and frees the TLS
  // state, then closes the socket.
  void CloseHandler() override;
  void ConnectToServer(const std::string& host, int port, int timeout, int port_high,
                       int port_low, int bound_port, const std::string& bound_ip) override;
  void PrepareOpen() override;
  bool WaitReadable(int timeout) override;
  int ReceiveRaw(void* buffer, int length) override;
  int SendRaw(const void* buffer, int length) override;
  // Over TLS, the data of records that arrived whole; kNothingYet before
  // anything the caller could read has come.
  int ReceiveNow(void* buffer, int length) override;

  bool PassThrough() const { return pass_through_; }
  // Off on an open plain connection runs the handshake there. On while TLS
  // runs closes the connection: a TLS session cannot fall back to plain
  // text on the same socket, so the next request connects anew.
  virtual void SetPassThrough(bool value);

  // True while a TLS session carries the connection's bytes.
  bool TLSActive() const;
  // The protocol and cipher of the running session ("TLSv1.3
  // TLS_AES_256_GCM_SHA384"); empty without one.
  std::string SessionDescription() const;
  // Whether the running session resumed an earlier one (no full handshake).
  bool SessionReused() const;
  // Whether the last session ended with the peer closing its socket without
  // a close_notify; such an end reads as a close like any other, but what
  // was read until it may have been cut short. Cleared by the next connect.
  bool ClosedWithoutNotify() const { return closed_without_notify_; }

  // The name the next handshake sends (SNI) and checks the certificate
  // against. Every connect sets it to the host connected to; after a CONNECT
  // through a proxy the caller names the origin server here before
  // switching pass-through off.
  const std::string& ServerName() const { return server_name_; }
  void SetServerName(std::string value) { server_name_ = std::move(value); }
  // The same with the port that messages name (the origin's behind a proxy).
  void SetServerName(std::string value, int port) {
    server_name_ = std::move(value);
    server_port_ = port;
  }

  // Settings, read when the next handshake starts.
  //
  // A PEM file of certificates trusted besides the system's.
  const std::string& CAFile() const { return ca_file_; }
  void SetCAFile(std::string value);
  // For tests and local experiments: the name checked and sent instead of
  // ServerName (a certificate made for "test.example" served on 127.0.0.1).
  const std::string& VerifyHostName() const { return verify_host_name_; }
  void SetVerifyHostName(std::string value);
  // No certificate or host name checks at all: anyone on the path can read
  // and change the traffic. For local experiments only.
  bool Insecure() const { return insecure_; }
  void SetInsecure(bool value);
  // The longest a handshake may take when the connection sets no time-out
  // of its own, in ms (60 s).
  int HandshakeTimeout() const { return handshake_timeout_limit_; }
  void SetHandshakeTimeout(int value) { handshake_timeout_limit_ = value; }

 private:
  friend class TIdTLSSession;

  // The handshake in its steps: the shared context, a new session for
  // the peer, the exchange itself; any failure closes the handler.
  void StartTLS(int timeout);
  void PrepareContext();
  void NewSession(const std::string& name);
  void RunHandshake(int timeout);
  // OpenSSL's reason, or the certificate check's verdict (raised at once).
  std::string HandshakeFailure();
  std::string HandshakePeer() const;
  [[noreturn]] void FailHandshake(const std::string& reason, long code = 0);
  void DropSession(bool notify_peer);
  // SSL_read, without waiting when now (kNothingYet then).
  int ReadDecrypted(void* buffer, int length, bool now);
  [[noreturn]] void FailRead(const std::string& reason);

  bool pass_through_ = true;
  std::string server_name_;
  int server_port_ = 0;
  int handshake_timeout_ = 0;
  int handshake_timeout_limit_ = 60000;
  std::string ca_file_;
  std::string verify_host_name_;
  bool insecure_ = false;
  bool closed_without_notify_ = false;
  // Owned: the OpenSSL context (settings, trust, the resumable session) and
  // the running session.
  std::unique_ptr<TIdTLSSession> tls_;
};

}  // namespace ah
