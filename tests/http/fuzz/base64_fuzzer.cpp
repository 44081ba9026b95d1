// Base64: any bytes encode to the alphabet with "=" fill and decode back;
// any text decodes without raising but for a length that is not a multiple
// of 4, into at most three bytes per four characters.

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/streams.h"
#include "http/coder_mime.h"
#include "transport/exceptions.h"
#include "tests/support/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ah;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const std::string encoded = TIdEncoderMIME::EncodeTextOnce(input);
  AH_FUZZ_CHECK(encoded.size() == (size + 2) / 3 * 4);
  const size_t text_end = encoded.find('=');
  AH_FUZZ_CHECK(encoded.find_first_not_of(kIdBase64CharTable) == text_end);
  if (text_end != std::string::npos) {
    AH_FUZZ_CHECK(encoded.size() - text_end <= 2);
    AH_FUZZ_CHECK(encoded.find_first_not_of('=', text_end) == std::string::npos);
  }
  TIdDecoderMIME decoder;
  TStringStream decoded;
  decoder.DecodeToStream(encoded, decoded);
  AH_FUZZ_CHECK(decoded.DataString() == input);

  TStringStream out;
  try {
    decoder.DecodeToStream(input, out);
    AH_FUZZ_CHECK(size % 4 == 0);
  } catch (const EIdException& e) {
    AH_FUZZ_CHECK(e.Message() == "Uneven size in DecodeToStream.");
    AH_FUZZ_CHECK(size % 4 != 0);
  }
  AH_FUZZ_CHECK(out.DataString().size() <= size / 4 * 3);
  return 0;
}
