// Random and truncated inputs for every reader of received text: none may
// crash, hang or raise anything but the failures they are documented to
// raise.

#include <gtest/gtest.h>

#include <random>

#include "framework/exception.h"
#include "framework/streams.h"
#include "http/authentication.h"
#include "http/coder_mime.h"
#include "http/header_info.h"
#include "http/header_list.h"
#include "http/uri.h"

namespace ah {
namespace {

constexpr int kRounds = 1500;

// Pieces that steer the generator into the separators the parsers cut at.
const char* const kPieces[] = {
    "://", "/",  "\\", "?", "=", "#", "@", ":", " ", "\t", "\r\n", "\r\n ", "\r\n\t", ",",
    "\"",  "-",  "bytes ", "Content-Range: ", "Content-Length: ", "Expires: ", "Range: ",
    "WWW-Authenticate: ", "Date: ", "Basic ", "realm=", "GMT", "Sun, 06 Nov 1994 08:49:37",
    "99999999999", "-1", "86400", "0x", "$", "==", "A", "z", "9", "+",
};

std::string RandomText(std::mt19937& rng) {
  std::string text;
  const int parts = int(rng() % 24);
  for (int i = 0; i < parts; ++i) {
    if (rng() % 3 == 0) {
      text += char(rng() % 256);
    } else {
      text += kPieces[rng() % (sizeof(kPieces) / sizeof(kPieces[0]))];
    }
  }
  return text;
}

template <typename Check>
void ForInputs(uint32_t seed, Check check) {
  std::mt19937 rng(seed);
  for (int i = 0; i < kRounds; ++i) {
    std::string text = RandomText(rng);
    check(text);
    check(text.substr(0, text.size() / 2));
  }
}

TEST(ParserFuzz, URIParsingNeverFails) {
  ForInputs(1, [](const std::string& text) {
    TIdURI uri;
    ASSERT_NO_THROW(uri.ParseURI(text)) << testing::PrintToString(text);
    try {
      uri.GetURI();
    } catch (const EIdURIException&) {
    }
    TIdURI::EncodeFormValue(text);
  });
}

TEST(ParserFuzz, HeaderListReadersNeverFail) {
  ForInputs(2, [](const std::string& text) {
    TIdHeaderList list;
    list.SetText(text);
    TStringList values;
    ASSERT_NO_THROW({
      for (int i = -1; i <= list.Count(); ++i) {
        list.NameOfLine(i);
        list.ValueOfLine(i);
      }
      list.HeaderValue("Content-Range");
      list.ExtractValues("Set-cookie", &values);
      list.SetHeaderValue("X-Fuzz", text);
      list.SetHeaderValue("X-Fuzz", "");
      TIdHeaderList::FoldText(text, "\r\n ", "\t ,", 5);
    }) << testing::PrintToString(text);
  });
}

TEST(ParserFuzz, HeaderRecordsRaiseOnlyTheContentRangeConversion) {
  ForInputs(3, [](const std::string& text) {
    TIdResponseHeaderInfo response;
    response.HeaderLines().SetText(text);
    try {
      response.ParseHeaderLines();
    } catch (const EConvertError& e) {
      EXPECT_NE(response.HeaderLines().HeaderValue("Content-Range"), "")
          << e.Message() << " for " << testing::PrintToString(text);
    }
    TIdRequestHeaderInfo request;
    request.HeaderLines().SetText(text);
    ASSERT_NO_THROW(request.ParseHeaderLines()) << testing::PrintToString(text);
    ASSERT_NO_THROW(request.ComposeHeaderLines()) << testing::PrintToString(text);
  });
}

TEST(ParserFuzz, BasicChallengesNeverFail) {
  ForInputs(5, [](const std::string& text) {
    TIdBasicAuthentication auth;
    TStringList challenges;
    challenges.SetText("Basic " + text);
    auth.SetChallenges(challenges);
    ASSERT_NO_THROW({
      auth.DecideNext();
      auth.AuthorizationText();
    }) << testing::PrintToString(text);
  });
}

TEST(ParserFuzz, DecoderRaisesOnlyForUnevenSizes) {
  ForInputs(4, [](const std::string& text) {
    TIdDecoderMIME decoder;
    TStringStream out;
    try {
      decoder.DecodeToStream(text, out);
      EXPECT_EQ(text.size() % 4, 0u);
      EXPECT_LE(out.DataString().size(), text.size() / 4 * 3);
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Uneven size in DecodeToStream.");
      EXPECT_NE(text.size() % 4, 0u);
    }
  });
}

}  // namespace
}  // namespace ah
