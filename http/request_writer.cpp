#include "http/request_writer.h"

#include <algorithm>
#include <utility>

#include "http/exceptions.h"

namespace ah {
namespace {

const char* MethodWord(TIdHTTPMethod method) {
  switch (method) {
    case hmHead: return "HEAD ";
    case hmGet: return "GET ";
    case hmPost: return "POST ";
    case hmOptions: return "OPTIONS ";
    case hmTrace: return "TRACE ";
    case hmPut: return "PUT ";
    case hmDelete: return "DELETE ";
    case hmConnect: return "CONNECT ";
  }
  return "GET ";
}

const char* VersionText(TIdHTTPProtocolVersion version) {
  return version == pv1_0 ? "1.0" : "1.1";
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// A header value may hold a tab, nothing else below a space.
bool FitsOnAHeaderLine(std::string_view value) {
  return std::none_of(value.begin(), value.end(), [](char c) {
    return c != '\t' && IsControl(static_cast<unsigned char>(c));
  });
}

[[noreturn]] void RefuseHeader(std::string_view name) {
  std::string shown;
  for (char c : name) shown += IsControl(static_cast<unsigned char>(c)) ? '?' : c;
  throw EIdHTTPInvalidRequest("The request is not sent: header \"" + shown +
                              "\" holds a control character");
}

}  // namespace

bool SendsBody(TIdHTTPMethod method) { return method == hmPost || method == hmPut; }

std::string WireTarget(std::string_view target) {
  std::string out;
  out.reserve(target.size());
  for (char c : target) {
    if (c == ' ') {
      out += "%20";
    } else if (IsControl(static_cast<unsigned char>(c))) {
      throw EIdHTTPInvalidRequest("The request is not sent: its target holds a control character");
    } else {
      out += c;
    }
  }
  return out;
}

void CheckHostName(std::string_view host) {
  if (std::any_of(host.begin(), host.end(), [](char c) {
        return c == ' ' || IsControl(static_cast<unsigned char>(c));
      })) {
    throw EIdHTTPInvalidRequest(
        "The request is not sent: the host name holds a space or a control character");
  }
}

void CheckHeaderLines(const TIdHeaderList& lines) {
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string& line = lines[i];
    if (!FitsOnAHeaderLine(line)) RefuseHeader(line.substr(0, line.find(':')));
  }
}

void CheckRequestFields(const TIdHTTPRequest& r) {
  const std::pair<const char*, const std::string*> fields[] = {
      {"Connection", &r.Connection()},           {"Content-Version", &r.ContentVersion()},
      {"Content-Encoding", &r.ContentEncoding()}, {"Content-Language", &r.ContentLanguage()},
      {"Content-Type", &r.ContentType()},         {"Cache-control", &r.CacheControl()},
      {"Pragma", &r.Pragma()},                    {"Proxy-Connection", &r.ProxyConnection()},
      {"Accept", &r.Accept()},                    {"Accept-Charset", &r.AcceptCharSet()},
      {"Accept-Encoding", &r.AcceptEncoding()},   {"Accept-Language", &r.AcceptLanguage()},
      {"From", &r.From()},                        {"Referer", &r.Referer()},
      {"User-Agent", &r.UserAgent()},
  };
  for (const auto& [name, value] : fields) {
    if (!FitsOnAHeaderLine(*value)) RefuseHeader(name);
  }
  CheckHeaderLines(r.CustomHeaders());
}

void ComposeRequestHead(TIdHTTPRequest& request) {
  request.ComposeHeaderLines();
  const TIdHTTPMethod method = request.RequestMethod();
  if (method == hmGet || method == hmHead || method == hmConnect) {
    request.HeaderLines().SetHeaderValue("Content-Type", "");
  }
}

void SendRequestHead(TIdTCPConnection& connection, const TIdHTTPRequest& request,
                     TIdHTTPProtocolVersion version) {
  connection.BeginSendBuffering(-1);
  try {
    connection.SendLine(std::string(MethodWord(request.RequestMethod())) + request.RequestURL() +
                        " HTTP/" + VersionText(version));
    const TIdHeaderList& lines = request.HeaderLines();
    for (int i = 0; i < lines.Count(); ++i) {
      const std::string& line = lines[i];
      if (!line.empty()) connection.SendLine(line);
    }
    connection.SendLine("");
  } catch (...) {
    connection.ClearSendBuffer();
    connection.EndSendBuffering();
    throw;
  }
  connection.EndSendBuffering();
}

void SendRequestBody(TIdTCPConnection& connection, const TIdHTTPRequest& request) {
  TStream* source = request.BodySource();
  if (SendsBody(request.RequestMethod()) && source) connection.SendStream(*source);
}

}  // namespace ah
