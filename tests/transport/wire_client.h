#pragma once
// A client connected to a scripted server on 127.0.0.1, for tests that read
// and write over a real socket.

#include "tests/support/scripted_server.h"
#include "transport/tcp_client.h"

namespace ah::test {

struct Wire {
  ScriptedServer server;
  TIdTCPClient client{nullptr};
  explicit Wire(Script script) : server({std::move(script)}) {
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.OpenConnection();
  }
};

}  // namespace ah::test
