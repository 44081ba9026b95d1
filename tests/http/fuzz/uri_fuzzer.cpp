// Addresses: parsing never fails, composing fails only without protocol or
// host, composing a parsed address is stable under another parse, and the
// form encoding decodes back to its input.

#include <cstdint>
#include <string>

#include "http/uri.h"
#include "tests/support/fuzz_check.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string DecodeFormValue(const std::string& encoded) {
  std::string out;
  for (size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      AH_FUZZ_CHECK(i + 2 < encoded.size());
      const int high = HexValue(encoded[i + 1]), low = HexValue(encoded[i + 2]);
      AH_FUZZ_CHECK(high >= 0 && low >= 0);
      out += char(high * 16 + low);
      i += 2;
    } else {
      const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
      AH_FUZZ_CHECK(plain);
      out += c;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ah;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const unsigned all = IncludeUserInfo | IncludeBookmark;

  TIdURI uri;
  uri.ParseURI(text);
  AH_FUZZ_CHECK(uri.URIText().size() == text.size());
  std::string composed;
  try {
    composed = uri.ComposeURI(all);
    AH_FUZZ_CHECK(!uri.Protocol().empty() && !uri.Host().empty());
  } catch (const EIdURIException&) {
    AH_FUZZ_CHECK(uri.Protocol().empty() || uri.Host().empty());
  }
  // The user information ends at the first "@", so a host or port holding
  // one reads differently once the empty user information is left out.
  const bool ambiguous = uri.Username().empty() && (uri.Host() + uri.Port()).find('@') != std::string::npos;
  if (!composed.empty() && !ambiguous) {
    TIdURI again(composed);
    AH_FUZZ_CHECK(again.ComposeURI(all) == composed);
    // GetURI leaves the fragment out, and a fragment taken from the document
    // leaves a "#" in the query, so only the full composition is stable.
    uri.GetURI();
    AH_FUZZ_CHECK(uri.URIText() == composed);
  }

  AH_FUZZ_CHECK(DecodeFormValue(TIdURI::EncodeFormValue(text)) == text);
  return 0;
}
