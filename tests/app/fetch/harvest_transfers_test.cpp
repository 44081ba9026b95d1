#include "app/fetch/harvest_transfers.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "http/exceptions.h"

namespace ah {
namespace {

TEST(ClientFailures, EachExceptionTellsWhatKindOfFailureItIs) {
  struct Case {
    std::function<void()> raise;
    TransferError error;
    int status;
    std::string message;
  } cases[] = {
      {[] { throw EIdHTTPProtocolException(503, "HTTP/1.1 503 Service Unavailable", "body"); },
       TransferError::kStatus, 503, "HTTP/1.1 503 Service Unavailable"},
      {[] { throw EIdSocketError(10061, "Socket Error # 10061\r\nConnection refused."); },
       TransferError::kConnection, 0, "Socket Error # 10061\r\nConnection refused."},
      {[] { throw EIdSocketError(11001, "Socket Error # 11001\r\nHost not found."); },
       TransferError::kAddress, 0, "Socket Error # 11001\r\nHost not found."},
      {[] { throw EIdReadTimeout("Read Timeout"); }, TransferError::kTimeout, 0, "Read Timeout"},
      {[] { throw EIdConnectTimeout("Connect timed out."); }, TransferError::kTimeout, 0, "Connect timed out."},
      {[] { throw EIdConnClosedGracefully("Connection Closed Gracefully."); }, TransferError::kConnection, 0,
       "Connection Closed Gracefully."},
      {[] { throw EIdSSLProtocolReplyError(18, "certificate verify failed"); }, TransferError::kCertificate, 0,
       "certificate verify failed"},
      {[] { throw EIdSSLProtocolReplyError(0, "unexpected eof"); }, TransferError::kConnection, 0,
       "unexpected eof"},
      {[] { throw EIdUnknownProtocol(""); }, TransferError::kAddress, 0, "EIdUnknownProtocol"},
      {[] { throw EIdURIException("Host field is empty"); }, TransferError::kAddress, 0, "Host field is empty"},
      {[] { throw EIdHTTPBodyTooLarge("The body is larger than 8 bytes."); }, TransferError::kTooLarge, 0,
       "The body is larger than 8 bytes."},
      {[] { throw EIdException("Undefined situation"); }, TransferError::kOther, 0, "Undefined situation"},
      {[] { throw std::runtime_error("odd"); }, TransferError::kOther, 0, "odd"},
  };
  for (const auto& c : cases) {
    TransferFailure failure;
    try {
      c.raise();
    } catch (...) {
      failure = FailureOfCurrentException();
    }
    EXPECT_EQ(failure.error, c.error) << c.message;
    EXPECT_EQ(failure.status, c.status) << c.message;
    EXPECT_EQ(failure.message, c.message);
  }
}

TEST(ImageBodies, AreKnownByTheirSignatureOrAnImageContentType) {
  using namespace std::string_view_literals;
  for (std::string_view head : {"\xFF\xD8\xFF\xE0"sv, "\x89PNG\r\n\x1A\n"sv, "GIF89a"sv,
                                "RIFF\x10\0\0\0WEBPVP8 "sv, "BM\x36\0"sv, "II*\0"sv, "MM\0*"sv,
                                "\0\0\0\x1C" "ftypavif"sv, "\0\0\0\x18" "ftypheic"sv})
    EXPECT_TRUE(IsImageBody(head, "text/html")) << head;
  // A video, a sound, and an error page.
  for (std::string_view head : {"\0\0\0\x18" "ftypisom"sv, "RIFF\x10\0\0\0WAVEfmt "sv, "<!DOCTYPE html>"sv})
    EXPECT_FALSE(IsImageBody(head, "text/html; charset=utf-8")) << head;
  EXPECT_TRUE(IsImageBody("<html>", "Image/JPEG"));
  EXPECT_TRUE(IsImageBody("", " image/webp; q=1"));
  EXPECT_FALSE(IsImageBody("<html>", "image/"));
}

}  // namespace
}  // namespace ah
