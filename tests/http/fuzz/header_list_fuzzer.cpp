// Header lists: the readers never fail on any line list, a value folded on
// write unfolds on read to the same text but for blanks, removing it takes
// its continuation lines along, and the response record reads any head.

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/exception.h"
#include "http/header_info.h"
#include "http/header_list.h"
#include "tests/support/fuzz_check.h"

namespace {

// Folding may cut at a blank or after a comma, and unfolding joins trimmed
// pieces with one space: only the bytes Trim keeps are sure to survive.
std::string NonBlank(std::string_view text) {
  std::string out;
  for (char c : text)
    if (uint8_t(c) > ' ') out += c;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ah;
  ah::fuzz::InputParts parts(data, size);
  const std::string_view head = parts.Next();
  const std::string_view value_part = parts.Next();
  const int width = 1 + parts.Byte() % 100;

  TIdHeaderList list;
  list.SetText(head);
  TStringList values;
  for (int i = -1; i <= list.Count(); ++i) {
    const std::string name = list.NameOfLine(i);
    list.ValueOfLine(i);
    if (i >= 0 && i < list.Count()) AH_FUZZ_CHECK(name.size() <= list[i].size());
  }
  list.ExtractValues("Set-cookie", &values);
  for (int i = 0; i < values.Count(); ++i) AH_FUZZ_CHECK(values[i].size() <= head.size());

  const std::string_view name = "X-Fuzz-Probe";
  std::string value;
  for (char c : value_part)
    if (c != '\r' && c != '\n') value += c;
  if (list.IndexOfHeader(name) < 0 && !value.empty()) {
    const int count = list.Count();
    list.SetFoldWidth(width);
    list.SetHeaderValue(name, value);
    AH_FUZZ_CHECK(NonBlank(list.HeaderValue(name)) == NonBlank(value));
    list.SetHeaderValue(name, "");
    AH_FUZZ_CHECK(list.IndexOfHeader(name) < 0);
    AH_FUZZ_CHECK(list.Count() == count);
  }
  TIdHeaderList::FoldText(value_part, "\r\n ", "\t ,", width);

  TIdResponseHeaderInfo response;
  response.HeaderLines().SetText(head);
  try {
    response.ParseHeaderLines();
  } catch (const EConvertError&) {
    // A Content-Range that is not numbers is the one head that raises.
    AH_FUZZ_CHECK(!response.HeaderLines().HeaderValue("Content-Range").empty());
  }
  // A negative length ("-2" as sent) is no length: the body runs to the close.
  AH_FUZZ_CHECK(response.LengthKnown() == (response.ContentLength() >= 0));
  TIdRequestHeaderInfo request;
  request.HeaderLines().SetText(head);
  request.ParseHeaderLines();
  request.ComposeHeaderLines();
  return 0;
}
