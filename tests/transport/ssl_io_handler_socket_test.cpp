#include "transport/ssl_io_handler_socket.h"

#include <gtest/gtest.h>

#include "transport/exceptions.h"

namespace ah {
namespace {

TEST(SslIOHandlerSocket, StartsInPassThroughAndRefusesBytesWhenSwitchedToTls) {
  TIdSSLIOHandlerSocket tls(nullptr);
  EXPECT_TRUE(tls.PassThrough());
  tls.SetPassThrough(false);
  EXPECT_FALSE(tls.PassThrough());
  char byte = 0;
  for (auto attempt : {0, 1, 2}) {
    try {
      if (attempt == 0) tls.SendRaw(&byte, 1);
      if (attempt == 1) tls.ReceiveRaw(&byte, 1);
      if (attempt == 2) tls.ConnectToServer("127.0.0.1", 1, -1, 0, 0, 0, "");
      ADD_FAILURE() << "attempt " << attempt << " went through";
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "TLS is not available") << attempt;
    }
  }
}

}  // namespace
}  // namespace ah
