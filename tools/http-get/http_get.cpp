#include "tools/http-get/http_get.h"

#include <unistd.h>

#include <memory>

#include "framework/strings.h"
#include "framework/sysutils.h"
#include "http/http_client.h"
#include "transport/ssl_io_handler_socket.h"
#include "tools/http-get/output_stream.h"

namespace ah {
namespace {

constexpr int32_t kReceiveBlock = 256 * 1024;

class TooManyRedirects : public Exception {
 public:
  using Exception::Exception;
};

// Messages such as "Socket Error # 10061\r\nConnection refused." keep to
// one line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  std::string out;
  for (char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

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

}  // namespace

int RunHttpGet(const HttpGetOptions& options, std::ostream& err) {
  std::string current_url;
  try {
    std::unique_ptr<TOutputFdStream> output =
        options.output_file.empty()
            ? std::make_unique<TOutputFdStream>(STDOUT_FILENO, false)
            : TOutputFdStream::Create(options.output_file);

    // Referenced by the client, so it outlives it. The TLS handler carries
    // plain http too (in pass-through) and SOCKS underneath either.
    TIdSSLIOHandlerSocket tls(nullptr);
    tls.SetCAFile(options.ca_file);
    if (options.insecure) {
      tls.SetInsecure(true);
      err << "http-get: --insecure: TLS certificates and host names are not checked\n";
    }
    TIdHTTP http(nullptr);
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
    if (options.socks_version != 0) {
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
    if (options.verbose) {
      http.SetOnStatus([&](TComponent*, TIdStatus, const std::string& text) {
        err << "* " << OneLine(text) << '\n';
      });
      tls.SetOnStatus(http.OnStatus());
      http.SetOnRedirect([&](TIdCustomHTTP* sender, std::string& dest, int&, bool&,
                             TIdHTTPMethod&) {
        err << "< " << sender->Response().StatusLine() << '\n' << "* Redirect to " << dest << '\n';
      });
    }
    // Every request ends with its status line under -v; a redirect that
    // still stands at the end is the limit reached, not a result.
    auto finish = [&] {
      TIdHTTPResponse& response = http.Response();
      if (options.verbose) err << "< " << response.StatusLine() << '\n';
      const int code = response.StatusCode();
      if ((code / 100 == 3 && code != 304) || !response.Location().empty()) {
        throw TooManyRedirects("too many redirects: gave up after " +
                               std::to_string(http.RedirectMaximum()) + " requests");
      }
    };

    if (!options.form_lines.empty()) {
      current_url = options.urls.front();
      TStringList lines(options.form_lines);
      http.PostFormToStream(current_url, &lines, output.get());
      finish();
    } else {
      for (const std::string& url : options.urls) {
        current_url = url;
        http.GetToStream(url, output.get());
        finish();
      }
    }
    return 0;
  } catch (const EIdHTTPProtocolException& e) {
    if (options.verbose) err << "< " << e.Message() << '\n';
    err << "http-get: " << current_url << ": " << e.Message() << '\n';
  } catch (const Exception& e) {
    err << "http-get: " << (current_url.empty() ? "" : current_url + ": ") << OneLine(e.Message())
        << '\n';
  } catch (const std::exception& e) {
    err << "http-get: " << OneLine(e.what()) << '\n';
  }
  return 1;
}

}  // namespace ah
