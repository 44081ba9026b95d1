#pragma once
// Downloads in tests go to 127.0.0.1 directly, whatever proxy the
// environment names.

#include <cstdlib>

namespace ah {

inline void DropProxyEnvironment() {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    unsetenv(name);
}

}  // namespace ah
