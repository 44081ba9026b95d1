#include "tests/support/tls_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace ah::test {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  char reason[256] = "";
  ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
  throw std::runtime_error("test certificates: " + what + ": " + reason);
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  if (!ext) Fail("extension " + value);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

void WritePem(const std::string& path, X509* cert, X509* issuer) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) throw std::runtime_error("cannot write " + path);
  PEM_write_X509(f, cert);
  if (issuer) PEM_write_X509(f, issuer);
  std::fclose(f);
}

void WriteKey(const std::string& path, EVP_PKEY* key) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) throw std::runtime_error("cannot write " + path);
  PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
}

bool IsAddress(const std::string& name) {
  in_addr a;
  return inet_pton(AF_INET, name.c_str(), &a) == 1;
}

}  // namespace

struct TestCertificates::Authority {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  ~Authority() {
    X509_free(cert);
    EVP_PKEY_free(key);
  }
};

namespace {

X509* NewCertificate(int serial, EVP_PKEY* key, const std::string& common_name, long from_s,
                     long to_s) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), from_s);
  X509_gmtime_adj(X509_getm_notAfter(cert), to_s);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                             0);
  return cert;
}

std::unique_ptr<TestCertificates::Authority> NewAuthority(const std::string& common_name,
                                                          int serial) {
  auto a = std::make_unique<TestCertificates::Authority>();
  a->key = EVP_EC_gen("P-256");
  if (!a->key) Fail("key");
  a->cert = NewCertificate(serial, a->key, common_name, -3600, 30L * 86400);
  X509_set_issuer_name(a->cert, X509_get_subject_name(a->cert));
  AddExtension(a->cert, a->cert, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(a->cert, a->cert, NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(a->cert, a->cert, NID_subject_key_identifier, "hash");
  if (!X509_sign(a->cert, a->key, EVP_sha256())) Fail("sign authority");
  return a;
}

}  // namespace

TestCertificates::TestCertificates() {
  char pattern[] = "/tmp/ah-tls-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  ca_ = NewAuthority("album-harvester test authority", serial_++);
  WritePem(CAFile(), ca_->cert, nullptr);
}

TestCertificates::~TestCertificates() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

CertificateFiles TestCertificates::Issue(const std::string& stem,
                                         const std::vector<std::string>& names,
                                         Validity validity) {
  return IssueWith(*ca_, stem, names, validity);
}

CertificateFiles TestCertificates::IssueByStranger(const std::string& stem,
                                                   const std::vector<std::string>& names) {
  if (!stranger_) stranger_ = NewAuthority("a stranger's authority", serial_++);
  return IssueWith(*stranger_, stem, names, kValid);
}

CertificateFiles TestCertificates::IssueWith(Authority& issuer, const std::string& stem,
                                             const std::vector<std::string>& names,
                                             Validity validity) {
  long from = -3600, to = 7L * 86400;
  if (validity == kExpired) from = -10L * 86400, to = -86400;
  if (validity == kNotYetValid) from = 86400, to = 10L * 86400;
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) Fail("key");
  X509* cert = NewCertificate(serial_++, key, names.empty() ? stem : names.front(), from, to);
  X509_set_issuer_name(cert, X509_get_subject_name(issuer.cert));
  AddExtension(cert, issuer.cert, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert, issuer.cert, NID_key_usage, "critical,digitalSignature");
  AddExtension(cert, issuer.cert, NID_ext_key_usage, "serverAuth");
  AddExtension(cert, issuer.cert, NID_authority_key_identifier, "keyid");
  std::string alt;
  for (const std::string& n : names) {
    if (!alt.empty()) alt += ",";
    alt += (IsAddress(n) ? "IP:" : "DNS:") + n;
  }
  if (!alt.empty()) AddExtension(cert, issuer.cert, NID_subject_alt_name, alt);
  if (!X509_sign(cert, issuer.key, EVP_sha256())) Fail("sign");
  CertificateFiles files{folder_ + "/" + stem + ".pem", folder_ + "/" + stem + ".key"};
  WritePem(files.cert_file, cert, issuer.cert);
  WriteKey(files.key_file, key);
  X509_free(cert);
  EVP_PKEY_free(key);
  return files;
}

TlsScript& TlsScript::StartTls() {
  steps_.push_back({Step::kStartTls, {}, 0});
  return *this;
}
TlsScript& TlsScript::Send(std::string bytes) {
  steps_.push_back({Step::kSend, std::move(bytes), 0});
  return *this;
}
TlsScript& TlsScript::SendPattern(int64_t count) {
  std::string bytes(size_t(count), '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char('a' + i % 26);
  return Send(std::move(bytes));
}
TlsScript& TlsScript::ReadUntil(std::string marker) {
  steps_.push_back({Step::kReadUntil, std::move(marker), 0});
  return *this;
}
TlsScript& TlsScript::ReadBytes(int64_t count) {
  steps_.push_back({Step::kReadBytes, {}, count});
  return *this;
}
TlsScript& TlsScript::Echo() {
  steps_.push_back({Step::kEcho, {}, 0});
  return *this;
}
TlsScript& TlsScript::Sleep(int milliseconds) {
  steps_.push_back({Step::kSleep, {}, milliseconds});
  return *this;
}
TlsScript& TlsScript::Close() {
  steps_.push_back({Step::kClose, {}, 0});
  return *this;
}
TlsScript& TlsScript::CloseWithoutNotify() {
  steps_.push_back({Step::kCloseWithoutNotify, {}, 0});
  return *this;
}
TlsScript& TlsScript::StaySilent() {
  steps_.push_back({Step::kStaySilent, {}, 0});
  return *this;
}

struct TlsServer::Connection {
  int fd = -1;
  SSL* ssl = nullptr;
  std::string plain;
  std::string received;
  bool handshake_ok = false;
  bool close_notify = false;
  bool done = false;
  std::thread thread;
};

namespace {

int ListenOnLoopback(int& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || listen(fd, 16) < 0) {
    close(fd);
    throw std::runtime_error("bind/listen failed");
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

// False when the stop pipe fired first.
bool WaitReadable(int fd, int stop_fd) {
  pollfd p[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
  for (;;) {
    int rc = poll(p, 2, -1);
    if (rc < 0 && errno == EINTR) continue;
    return rc > 0 && !p[1].revents;
  }
}

}  // namespace

TlsServer::TlsServer(const CertificateFiles& certificate, std::vector<TlsScript> scripts,
                     TlsServerOptions options)
    : scripts_(std::move(scripts)) {
  if (scripts_.empty()) scripts_.push_back(TlsScript().Close());
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, certificate.cert_file.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, certificate.key_file.c_str(), SSL_FILETYPE_PEM) != 1)
    Fail("server context");
  if (options.max_version) {
    // Old protocols need the lowest security level to be offered at all.
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
    SSL_CTX_set_min_proto_version(ctx, 0);
    SSL_CTX_set_max_proto_version(ctx, options.max_version);
  }
  ctx_ = ctx;
  if (pipe2(stop_pipe_, O_CLOEXEC) < 0) throw std::runtime_error("pipe failed");
  listen_fd_ = ListenOnLoopback(port_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TlsServer::~TlsServer() {
  (void)!write(stop_pipe_[1], "x", 1);
  acceptor_.join();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    // Unblocks a handshake or write that waits for the client.
    for (auto& c : connections_) shutdown(c->fd, SHUT_RDWR);
  }
  for (auto& c : connections_) {
    if (c->thread.joinable()) c->thread.join();
    if (c->ssl) SSL_free(c->ssl);
    if (c->fd >= 0) close(c->fd);
  }
  close(listen_fd_);
  close(stop_pipe_[0]);
  close(stop_pipe_[1]);
  SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

void TlsServer::AcceptLoop() {
  while (WaitReadable(listen_fd_, stop_pipe_[0])) {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> guard(mutex_);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    size_t index = connections_.size();
    const TlsScript& script = scripts_[std::min(index, scripts_.size() - 1)];
    Connection* raw = c.get();
    connections_.push_back(std::move(c));
    raw->thread = std::thread([this, raw, &script] { Play(*raw, script); });
    changed_.notify_all();
  }
}

void TlsServer::Play(Connection& c, const TlsScript& script) {
  // OpenSSL writes with write(2): a client that is gone must not end the
  // test process. A blocked SIGPIPE stays pending on this thread only.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  const int stop = stop_pipe_[0];
  auto finish = [&] {
    std::lock_guard<std::mutex> guard(mutex_);
    c.done = true;
    changed_.notify_all();
  };
  // One read into the record (plain or TLS); false when the client closed.
  auto receive_some = [&]() -> bool {
    char buffer[65536];
    if (!c.ssl) {
      if (!WaitReadable(c.fd, stop)) return false;
      ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      std::lock_guard<std::mutex> guard(mutex_);
      c.plain.append(buffer, size_t(n));
      return true;
    }
    if (SSL_pending(c.ssl) == 0 && !WaitReadable(c.fd, stop)) return false;
    int n = SSL_read(c.ssl, buffer, sizeof buffer);
    if (n <= 0) {
      if (SSL_get_error(c.ssl, n) == SSL_ERROR_ZERO_RETURN) {
        std::lock_guard<std::mutex> guard(mutex_);
        c.close_notify = true;
      }
      return false;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    c.received.append(buffer, size_t(n));
    return true;
  };
  auto held = [&]() -> size_t {
    std::lock_guard<std::mutex> guard(mutex_);
    return c.ssl ? c.received.size() : c.plain.size();
  };
  auto holds = [&](const std::string& marker, size_t from) {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string& s = c.ssl ? c.received : c.plain;
    return s.find(marker, from) != std::string::npos;
  };
  auto send = [&](const std::string& bytes) -> bool {
    if (!c.ssl) return ::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                       ssize_t(bytes.size());
    return SSL_write(c.ssl, bytes.data(), int(bytes.size())) == int(bytes.size());
  };
  auto start_tls = [&]() -> bool {
    c.ssl = SSL_new(static_cast<SSL_CTX*>(ctx_));
    SSL_set_fd(c.ssl, c.fd);
    bool ok = SSL_accept(c.ssl) == 1;
    ERR_clear_error();
    std::lock_guard<std::mutex> guard(mutex_);
    c.handshake_ok = ok;
    return ok;
  };

  const auto& steps = script.Steps();
  bool tls_first = true;
  for (const auto& s : steps)
    if (s.kind == TlsScript::Step::kStartTls) tls_first = false;
  if (tls_first && !start_tls()) return finish();

  for (const auto& step : steps) {
    using K = TlsScript::Step;
    bool go_on = true;
    switch (step.kind) {
      case K::kStartTls: go_on = start_tls(); break;
      case K::kSend: go_on = send(step.bytes); break;
      case K::kReadUntil: {
        size_t from = held();
        while (!holds(step.bytes, from) && (go_on = receive_some())) {
        }
        break;
      }
      case K::kReadBytes: {
        size_t target = held() + size_t(step.count);
        while (held() < target && (go_on = receive_some())) {
        }
        break;
      }
      case K::kEcho: {
        size_t sent = held();
        while (receive_some()) {
          std::string more;
          {
            std::lock_guard<std::mutex> guard(mutex_);
            more = c.received.substr(sent);
          }
          sent += more.size();
          if (!send(more)) break;
        }
        go_on = false;
        break;
      }
      case K::kSleep: std::this_thread::sleep_for(std::chrono::milliseconds(step.count)); break;
      case K::kClose:
        if (c.ssl) SSL_shutdown(c.ssl);
        shutdown(c.fd, SHUT_WR);
        go_on = false;
        break;
      case K::kCloseWithoutNotify:
        shutdown(c.fd, SHUT_WR);
        go_on = false;
        break;
      case K::kStaySilent:
        while (receive_some()) {
        }
        go_on = false;
        break;
    }
    if (!go_on) break;
  }
  finish();
}

int TlsServer::AcceptedCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return int(connections_.size());
}

bool TlsServer::WaitForAccepted(int count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return int(connections_.size()) >= count; });
}

TlsServer::Connection& TlsServer::WaitDone(int index, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    return int(connections_.size()) > index && connections_[size_t(index)]->done;
  });
  if (int(connections_.size()) <= index) throw std::runtime_error("no such connection");
  return *connections_[size_t(index)];
}

std::string TlsServer::Received(int index, std::chrono::milliseconds timeout) {
  Connection& c = WaitDone(index, timeout);
  std::lock_guard<std::mutex> guard(mutex_);
  return c.received;
}

std::string TlsServer::ReceivedPlain(int index) {
  Connection& c = WaitDone(index, std::chrono::seconds(5));
  std::lock_guard<std::mutex> guard(mutex_);
  return c.plain;
}

bool TlsServer::HandshakeSucceeded(int index) {
  Connection& c = WaitDone(index, std::chrono::seconds(5));
  std::lock_guard<std::mutex> guard(mutex_);
  return c.handshake_ok;
}

bool TlsServer::ClientSentCloseNotify(int index) {
  Connection& c = WaitDone(index, std::chrono::seconds(5));
  std::lock_guard<std::mutex> guard(mutex_);
  return c.close_notify;
}

}  // namespace ah::test
