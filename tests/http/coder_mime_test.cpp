#include "http/coder_mime.h"

#include <gtest/gtest.h>

#include "framework/streams.h"
#include "transport/exceptions.h"

namespace ah {
namespace {

std::string Decode(std::string_view text) {
  TIdDecoderMIME decoder;
  TStringStream out;
  decoder.DecodeToStream(text, out);
  return out.DataString();
}

TEST(CoderMIME, EncodesAndDecodesTheRfc4648Vectors) {
  struct Case {
    std::string plain, encoded;
  } cases[] = {
      {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {std::string("\0\xFF\xFE", 3), "AP/+"},
      {"user:", "dXNlcjo="},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TIdEncoderMIME::EncodeTextOnce(c.plain), c.encoded) << "input: " << c.plain;
    EXPECT_EQ(Decode(c.encoded), c.plain) << "input: " << c.encoded;
  }
}

TEST(CoderMIME, EveryByteValueRoundTrips) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += char(i);
  for (size_t n = 0; n <= all.size(); n += 37) {
    std::string part = all.substr(0, n);
    EXPECT_EQ(Decode(TIdEncoderMIME::EncodeTextOnce(part)), part) << "length " << n;
  }
}

TEST(CoderMIME, ExplicitByteCountMustBeAMultipleOfThree) {
  TIdEncoderMIME encoder;
  for (int64_t count : {1, 2, 4, 5, 7}) {
    TStringStream in("abcdefgh");
    try {
      encoder.Encode(in, count);
      ADD_FAILURE() << "no exception for byte count " << count;
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Uneven size in Encode.");
    }
  }
  TStringStream four("abcd");
  EXPECT_EQ(encoder.Encode(four, TIdEncoder::kEncodeToEnd), "YWJjZA==");
}

TEST(CoderMIME, ByteCountIsCappedAtTheBytesLeftFromThePosition) {
  TIdEncoderMIME encoder;
  TStringStream in("xxabcdef");
  in.SetPosition(2);
  EXPECT_EQ(encoder.Encode(in, 3), "YWJj");
  EXPECT_EQ(encoder.Encode(in, 300), "ZGVm");
  EXPECT_EQ(encoder.Encode(in, 3), "");
}

TEST(CoderMIME, DecoderRejectsUnevenSizesOnly) {
  for (std::string text : {"a", "abc", "abcde", "Zg="}) {
    try {
      Decode(text);
      ADD_FAILURE() << "no exception for input " << text;
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Uneven size in DecodeToStream.");
    }
  }
  // Characters outside the table never raise.
  EXPECT_EQ(Decode("!!!!").size(), 3u);
  EXPECT_EQ(Decode(std::string("\0\x80\xFF~", 4)).size(), 3u);
}

TEST(CoderMIME, DecodeTableMapsCharactersToPositions) {
  TIdDecodeTable table;
  TIdDecoder4to3::BuildDecodeTable("AB", table);
  EXPECT_EQ(table['A' - 1], 0);
  EXPECT_EQ(table['B' - 1], 1);
  EXPECT_EQ(table['C' - 1], 255);
  const auto& mime = TIdDecoderMIME::MIMEDecodeTable();
  EXPECT_EQ(mime['/' - 1], 63);
  EXPECT_EQ(mime['=' - 1], 255);
}

TEST(CoderMIME, DecoderWritesNothingForEmptyText) {
  TIdDecoderMIME decoder;
  TStringStream out("keep");
  out.SetPosition(4);
  decoder.DecodeToStream("", out);
  EXPECT_EQ(out.DataString(), "keep");
}

}  // namespace
}  // namespace ah
