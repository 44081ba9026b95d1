#include "tools/http-get/http_get.h"

#include <unistd.h>

#include <memory>
#include <string_view>

#include "framework/strings.h"
#include "framework/sysutils.h"
#include "http/http_client.h"
#include "http/uri_resolution.h"
#include "transport/ssl_io_handler_socket.h"
#include "tools/http-get/output_stream.h"

namespace ah {
namespace {

constexpr int32_t kReceiveBlock = 256 * 1024;

class TooManyRedirects : public Exception {
 public:
  using Exception::Exception;
};

// Control bytes as escapes, so that no text from a server or an address
// can end an error line early or reach the terminal as a command.
std::string Escaped(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += std::string("\\x") + kHex[u >> 4] + kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// Messages such as "Socket Error # 10061\r\nConnection refused." keep to
// one line: their line breaks become a space, other control bytes escapes.
std::string OneLineEscaped(std::string_view text) { return Escaped(OneLine(text)); }

// An address in a message: its password as "***", control bytes escaped.
std::string Shown(std::string_view address) { return Escaped(AddressForDisplay(address)); }

// Host (letter case ignored) and port, the port of an address without one
// being its scheme's.
bool SameAddress(const TIdURI& target, const TIdURI& given) {
  auto port = [](const TIdURI& uri) {
    if (!uri.Port().empty()) return StrToIntDef(uri.Port(), -1);
    return SameText(uri.Protocol(), "https") ? 443 : 80;
  };
  const auto scheme = [](const TIdURI& uri) {
    return uri.Protocol().empty() ? std::string("http") : uri.Protocol();
  };
  return SameText(scheme(target), scheme(given)) && SameText(target.Host(), given.Host()) &&
         port(target) == port(given);
}

void SetUpSocks(TIdSSLIOHandlerSocket& tls, const HttpGetOptions& options) {
  if (options.socks_version == 0) return;
  TIdSocksInfo* socks = tls.SocksInfo();
  socks->SetVersion(options.socks_version == 4    ? svSocks4
                    : options.socks_version == 40 ? svSocks4A
                                                  : svSocks5);
  socks->SetHost(options.socks_host);
  socks->SetPort(options.socks_port);
  if (options.socks_user) {
    socks->SetUsername(*options.socks_user);
    socks->SetPassword(options.socks_password);
    socks->SetAuthentication(saUsernamePassword);
  }
}

void SetUpEvents(TIdHTTP& http, TIdSSLIOHandlerSocket& tls, const HttpGetOptions& options,
                 const std::string& current_url, std::ostream& err) {
  if (options.user_name) {
    http.SetHTTPOptions(http.HTTPOptions() | hoInProcessAuth);
    http.SetOnAuthorization([&](TIdCustomHTTP* sender, TIdAuthentication* auth, bool& handled) {
      // The password is for the server the user named, not for one a
      // redirect leads to.
      if (!SameAddress(sender->TargetURI(), TIdURI(current_url))) return;
      auth->StoreUserName(*options.user_name);
      auth->StorePassword(options.password);
      handled = true;
    });
  }
  if (!options.verbose) return;
  http.SetOnStatus([&err](TComponent*, TIdStatus, const std::string& text) {
    err << "* " << OneLineEscaped(text) << '\n';
  });
  tls.SetOnStatus(http.OnStatus());
  http.SetOnRedirect([&err](TIdCustomHTTP* sender, std::string& dest, int&, bool&,
                            TIdHTTPMethod&) {
    err << "< " << Escaped(sender->Response().StatusLine()) << '\n'
        << "* Redirect to " << Shown(dest) << '\n';
  });
}

// Every request ends with its status line under -v; a redirect that still
// stands at the end is the limit reached, not a result.
void Finish(TIdHTTP& http, const HttpGetOptions& options, std::ostream& err) {
  TIdHTTPResponse& response = http.Response();
  if (options.verbose) err << "< " << Escaped(response.StatusLine()) << '\n';
  const int code = response.StatusCode();
  if ((code / 100 == 3 && code != 304) || !response.Location().empty()) {
    throw TooManyRedirects("too many redirects: gave up after " +
                           std::to_string(http.RedirectMaximum()) + " requests");
  }
}

// The address a failure belongs to: after a redirect, the one the last
// request went to, not the one the user gave.
std::string FailedAddress(TIdHTTP& http, const std::string& given) {
  if (given.empty()) return "";
  if (http.LastRequestRedirected()) {
    try {
      return Shown(http.TargetURI().ComposeURI(0)) + ": ";
    } catch (const Exception&) {
    }
  }
  return Shown(given) + ": ";
}

void Fetch(TIdHTTP& http, const HttpGetOptions& options, TOutputFdStream& output,
           std::string& current_url, std::ostream& err) {
  if (!options.form_lines.empty()) {
    current_url = options.urls.front();
    TStringList lines(options.form_lines);
    http.PostFormToStream(current_url, &lines, &output);
    Finish(http, options, err);
  } else {
    for (const std::string& url : options.urls) {
      current_url = url;
      http.GetToStream(url, &output);
      Finish(http, options, err);
    }
  }
  // An empty body still makes the file.
  if (!options.output_file.empty()) output.Open();
}

}  // namespace

int RunHttpGet(const HttpGetOptions& options, std::ostream& err) {
  std::string current_url;
  // Referenced by the client, so it outlives it. The TLS handler carries
  // plain http too (in pass-through) and SOCKS underneath either.
  TIdSSLIOHandlerSocket tls(nullptr);
  TIdHTTP http(nullptr);
  try {
    std::unique_ptr<TOutputFdStream> output =
        options.output_file.empty() ? std::make_unique<TOutputFdStream>(STDOUT_FILENO, false)
                                    : std::make_unique<TOutputFdStream>(options.output_file);
    tls.SetCAFile(options.ca_file);
    if (options.insecure) {
      tls.SetInsecure(true);
      err << "http-get: --insecure: TLS certificates and host names are not checked\n";
    }
    http.SetIOHandler(&tls);
    http.SetHandleRedirects(true);
    // Large bodies stream through in fewer, larger receives; the memory
    // held stays one block.
    http.SetRecvBufferSize(kReceiveBlock);
    if (options.read_timeout_ms) http.SetReadTimeout(*options.read_timeout_ms);
    if (!options.proxy_host.empty()) {
      http.ProxyParams().SetProxyServer(options.proxy_host);
      http.ProxyParams().SetProxyPort(options.proxy_port);
    }
    SetUpSocks(tls, options);
    SetUpEvents(http, tls, options, current_url, err);
    Fetch(http, options, *output, current_url, err);
    return 0;
  } catch (const EIdHTTPProtocolException& e) {
    if (options.verbose) err << "< " << Escaped(e.Message()) << '\n';
    err << "http-get: " << FailedAddress(http, current_url) << Escaped(e.Message()) << '\n';
  } catch (const Exception& e) {
    err << "http-get: " << FailedAddress(http, current_url) << OneLineEscaped(e.Message()) << '\n';
  } catch (const std::exception& e) {
    err << "http-get: " << OneLineEscaped(e.what()) << '\n';
  }
  return 1;
}

}  // namespace ah
