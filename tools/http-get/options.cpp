#include "tools/http-get/options.h"

#include <charconv>
#include <cmath>

#include "framework/sysutils.h"

namespace ah {
namespace {

// HOST:PORT, the port cut at the last ":".
bool ReadHostPort(const std::string& text, std::string& host, int& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  auto number = ReadDecimal(text.substr(colon + 1), 1, 65535);
  if (!number) return false;
  host = text.substr(0, colon);
  port = *number;
  return true;
}

}  // namespace

const char* HttpGetUsage() {
  return "usage: http-get [-o FILE] [--timeout SECONDS] [--proxy HOST:PORT] "
         "[--user NAME:PASSWORD] [--socks4|--socks4a|--socks5 HOST:PORT] "
         "[--socks-user NAME:PASSWORD] [--cacert FILE] [--insecure] "
         "[--post-form NAME=VALUE ...] [-v] URL [URL ...]";
}

const char* HttpGetHelp() {
  return "usage: http-get [OPTIONS] URL [URL ...]\n"
         "GETs every URL in order through one client (the kept-alive connection, cookies and\n"
         "redirects carry over) and writes every body, in order, to standard output.\n"
         "\n"
         "  -o FILE                   write the bodies to FILE, created or truncated once;\n"
         "                            - is standard output\n"
         "  --timeout SECONDS         connect and idle read time-out, fractions allowed;\n"
         "                            0 or none: wait without limit\n"
         "  --proxy HOST:PORT         go through an HTTP proxy (https through CONNECT)\n"
         "  --user NAME:PASSWORD      answer Basic authorization challenges\n"
         "  --socks4 HOST:PORT        reach the servers through a SOCKS 4 proxy\n"
         "  --socks4a HOST:PORT       ... a SOCKS 4A proxy (it resolves the host names)\n"
         "  --socks5 HOST:PORT        ... a SOCKS 5 proxy\n"
         "  --socks-user NAME:PASSWORD  the SOCKS 4 user id, or the SOCKS 5 login\n"
         "  --cacert FILE             trust the certificates in FILE besides the system's\n"
         "  --insecure                check no TLS certificate or host name (local tests only)\n"
         "  --post-form NAME=VALUE    post this form line (repeatable) to the one URL\n"
         "  -v                        connection events and status lines on stderr\n"
         "  -h, --help                this help\n"
         "\n"
         "Exit status: 0 every request succeeded; 1 a network or protocol error, or too many\n"
         "redirects (one line on stderr); 2 a usage error.\n";
}

namespace {

// Seconds with an optional fraction, as whole milliseconds (a positive value
// is at least 1 ms).
std::optional<int> ReadSeconds(const std::string& text) {
  double seconds = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, seconds, std::chars_format::fixed);
  if (text.empty() || ec != std::errc() || ptr != end || !(seconds >= 0) ||
      seconds > 2147483.0) {
    return std::nullopt;
  }
  return int(std::ceil(seconds * 1000));
}

}  // namespace

namespace {

bool TakesValue(const std::string& arg) {
  return arg == "-o" || arg == "--timeout" || arg == "--proxy" || arg == "--user" ||
         arg == "--post-form" || arg == "--socks4" || arg == "--socks4a" || arg == "--socks5" ||
         arg == "--socks-user" || arg == "--cacert";
}

// NAME:PASSWORD, cut at the first ":"; the name may not be empty.
bool ReadNamePassword(const std::string& text, std::string& name, std::string& password) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  name = text.substr(0, colon);
  password = text.substr(colon + 1);
  return true;
}

// Stores the value of a flag that takes one; the usage error, or empty.
std::string TakeValue(const std::string& arg, const std::string& value, HttpGetOptions& o) {
  if (arg == "-o") {
    if (value.empty()) return "-o needs a file name";
    o.output_file = value == "-" ? std::string() : value;
  } else if (arg == "--timeout") {
    auto ms = ReadSeconds(value);
    if (!ms) return "--timeout wants seconds, not " + value;
    o.read_timeout_ms = *ms;
  } else if (arg == "--proxy") {
    if (!ReadHostPort(value, o.proxy_host, o.proxy_port)) {
      return "--proxy wants HOST:PORT, not " + value;
    }
  } else if (arg == "--socks4" || arg == "--socks4a" || arg == "--socks5") {
    if (o.socks_version != 0) return "give only one of --socks4, --socks4a, --socks5";
    if (!ReadHostPort(value, o.socks_host, o.socks_port)) {
      return arg + " wants HOST:PORT, not " + value;
    }
    o.socks_version = arg == "--socks4" ? 4 : arg == "--socks4a" ? 40 : 5;
  } else if (arg == "--socks-user" || arg == "--user") {
    std::string name, password;
    if (!ReadNamePassword(value, name, password)) {
      return arg + " wants NAME:PASSWORD, not " + value;
    }
    if (arg == "--user") {
      o.user_name = std::move(name);
      o.password = std::move(password);
    } else {
      o.socks_user = std::move(name);
      o.socks_password = std::move(password);
    }
  } else if (arg == "--cacert") {
    if (value.empty()) return "--cacert needs a file name";
    o.ca_file = value;
  } else {  // --post-form
    if (value.find('=') == std::string::npos || value[0] == '=') {
      return "--post-form wants NAME=VALUE, not " + value;
    }
    o.form_lines.push_back(value);
  }
  return {};
}

// What the flags say together; the usage error, or empty.
std::string CheckTogether(const HttpGetOptions& o) {
  if (o.urls.empty()) return "no URL given";
  if (o.socks_user && o.socks_version == 0) {
    return "--socks-user needs --socks4, --socks4a or --socks5";
  }
  if (!o.form_lines.empty() && o.urls.size() != 1) return "--post-form posts to exactly one URL";
  return {};
}

}  // namespace

HttpGetArguments ParseHttpGetArguments(const std::vector<std::string>& args) {
  HttpGetArguments result;
  HttpGetOptions& o = result.options;
  bool only_urls = false;
  for (size_t i = 0; i < args.size() && result.error.empty(); ++i) {
    const std::string& arg = args[i];
    if (only_urls || arg.empty() || arg[0] != '-') {
      o.urls.push_back(arg);
    } else if (arg == "--") {
      only_urls = true;
    } else if (arg == "-v") {
      o.verbose = true;
    } else if (arg == "-h" || arg == "--help") {
      result.help = true;
      return result;
    } else if (arg == "--insecure") {
      o.insecure = true;
    } else if (!TakesValue(arg)) {
      result.error = "unknown option " + arg;
    } else if (i + 1 >= args.size()) {
      result.error = arg + " needs a value";
    } else {
      result.error = TakeValue(arg, args[++i], o);
    }
  }
  if (result.error.empty()) result.error = CheckTogether(o);
  return result;
}

}  // namespace ah
