#include "http/coder_mime.h"

#include <algorithm>
#include <vector>

#include "http/read_memory_stream.h"
#include "transport/exceptions.h"

namespace ah {

const char kIdBase64CharTable[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string TIdEncoder::EncodeText(std::string_view text) {
  TIdReadMemoryStream stream(text.data(), int64_t(text.size()));
  return Encode(stream, kEncodeToEnd);
}

std::string TIdEncoder3to4::Encode(TStream& stream, int64_t byte_count) {
  if (byte_count != kEncodeToEnd && byte_count % 3 != 0)
    throw EIdException("Uneven size in Encode.");
  const int64_t left = stream.Size() - stream.Position();
  const int64_t n = std::min(byte_count, left);
  if (n <= 0) return {};
  std::vector<unsigned char> in(static_cast<size_t>(n));
  stream.ReadBuffer(in.data(), n);
  // A table shorter than 64 characters would be read past its end.
  std::string table = char_table_;
  table.resize(64, pad_char_);
  std::string out;
  out.reserve(size_t(4 * ((n + 2) / 3)));
  for (size_t i = 0; i < in.size(); i += 3) {
    const size_t rest = in.size() - i;
    const unsigned b1 = in[i], b2 = rest > 1 ? in[i + 1] : 0, b3 = rest > 2 ? in[i + 2] : 0;
    out += table[b1 >> 2];
    out += table[((b1 << 4) & 63) | (b2 >> 4)];
    out += rest > 1 ? table[((b2 << 2) & 63) | (b3 >> 6)] : pad_char_;
    out += rest > 2 ? table[b3 & 63] : pad_char_;
  }
  return out;
}

TIdEncoderMIME::TIdEncoderMIME(TComponent* owner) : TIdEncoder3to4(owner) {
  char_table_ = kIdBase64CharTable;
  pad_char_ = '=';
}

std::string TIdEncoderMIME::EncodeTextOnce(std::string_view text) {
  TIdEncoderMIME coder;
  return coder.EncodeText(text);
}

void TIdDecoder4to3::BuildDecodeTable(std::string_view characters, TIdDecodeTable& table) {
  table.fill(255);
  for (size_t i = 0; i < characters.size(); ++i) {
    const unsigned char c = characters[i];
    if (c >= 1 && c <= 127) table[c - 1] = uint8_t(i);
  }
}

void TIdDecoder4to3::DecodeToStream(std::string_view text, TStream& stream) const {
  if (text.size() % 4 != 0) throw EIdException("Uneven size in DecodeToStream.");
  auto bits = [&](char ch) -> uint32_t {
    const unsigned char c = ch;
    if (c < 1 || c > 127) return 0;
    const uint8_t v = table_[c - 1];
    return v == 255 ? 0 : (v & 63);
  };
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const uint32_t group = bits(text[i]) << 18 | bits(text[i + 1]) << 12 |
                           bits(text[i + 2]) << 6 | bits(text[i + 3]);
    out += char(group >> 16);
    if (text[i + 2] == pad_char_) continue;
    out += char(group >> 8);
    if (text[i + 3] == pad_char_) continue;
    out += char(group);
  }
  if (!out.empty()) stream.WriteBuffer(out.data(), int64_t(out.size()));
}

const TIdDecodeTable& TIdDecoderMIME::MIMEDecodeTable() {
  static const TIdDecodeTable table = [] {
    TIdDecodeTable t;
    BuildDecodeTable(kIdBase64CharTable, t);
    return t;
  }();
  return table;
}

TIdDecoderMIME::TIdDecoderMIME(TComponent* owner) : TIdDecoder4to3(owner) {
  table_ = MIMEDecodeTable();
  pad_char_ = '=';
}

}  // namespace ah
