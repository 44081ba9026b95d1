#pragma once
// Base64 (RFC 2045 alphabet, "=" fill, no line breaks): the encoder the
// Basic scheme uses and its decoder counterpart.

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "framework/component.h"
#include "framework/streams.h"

namespace ah {

class TIdEncoder : public TComponent {
 public:
  AH_CLASS_NAME(TIdEncoder)
  // The byte count meaning "up to the end of the stream".
  static constexpr int64_t kEncodeToEnd = std::numeric_limits<int64_t>::max();

  explicit TIdEncoder(TComponent* owner = nullptr) : TComponent(owner) {}
  // Encodes byte_count bytes from the stream's position.
  virtual std::string Encode(TStream& stream, int64_t byte_count) = 0;
  std::string EncodeText(std::string_view text);
};

class TIdEncoder3to4 : public TIdEncoder {
 public:
  AH_CLASS_NAME(TIdEncoder3to4)
  using TIdEncoder::TIdEncoder;
  // An explicit byte count must be a multiple of 3, else EIdException
  // "Uneven size in Encode.".
  std::string Encode(TStream& stream, int64_t byte_count) override;

  const std::string& CharTable() const { return char_table_; }
  void SetCharTable(std::string table) { char_table_ = std::move(table); }
  char PadChar() const { return pad_char_; }
  void SetPadChar(char c) { pad_char_ = c; }

 protected:
  std::string char_table_;
  char pad_char_ = '=';
};

class TIdEncoderMIME : public TIdEncoder3to4 {
 public:
  AH_CLASS_NAME(TIdEncoderMIME)
  explicit TIdEncoderMIME(TComponent* owner = nullptr);
  // Creates a coder, encodes the text's bytes and frees the coder.
  static std::string EncodeTextOnce(std::string_view text);
};

// Entry c - 1 holds the 6-bit value of character code c (1..127), 255 for
// characters outside the table.
using TIdDecodeTable = std::array<uint8_t, 127>;

extern const char kIdBase64CharTable[];  // "A..Za..z0..9+/"

class TIdDecoder : public TComponent {
 public:
  AH_CLASS_NAME(TIdDecoder)
  explicit TIdDecoder(TComponent* owner = nullptr) : TComponent(owner) {}
};

class TIdDecoder4to3 : public TIdDecoder {
 public:
  AH_CLASS_NAME(TIdDecoder4to3)
  using TIdDecoder::TIdDecoder;
  static void BuildDecodeTable(std::string_view characters, TIdDecodeTable& table);
  // Text whose length is not a multiple of 4 raises EIdException "Uneven
  // size in DecodeToStream.". Characters outside the table never raise:
  // they count as 0 bits.
  void DecodeToStream(std::string_view text, TStream& stream) const;

  const TIdDecodeTable& DecodeTable() const { return table_; }
  void SetDecodeTable(const TIdDecodeTable& table) { table_ = table; }
  char PadChar() const { return pad_char_; }
  void SetPadChar(char c) { pad_char_ = c; }

 protected:
  TIdDecodeTable table_{};
  char pad_char_ = '=';
};

// The decoder set up with the MIME table (built once) and "=".
class TIdDecoderMIME : public TIdDecoder4to3 {
 public:
  AH_CLASS_NAME(TIdDecoderMIME)
  explicit TIdDecoderMIME(TComponent* owner = nullptr);
  static const TIdDecodeTable& MIMEDecodeTable();
};

}  // namespace ah
