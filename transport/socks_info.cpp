#include "transport/socks_info.h"

namespace ah {

void TIdSocksInfo::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TIdSocksInfo*>(&source)) {
    authentication_ = other->authentication_;
    host_ = other->host_;
    password_ = other->password_;
    port_ = other->port_;
    username_ = other->username_;
    version_ = other->version_;
    return;
  }
  TIdComponent::Assign(source);
}

void TIdSocksInfo::NegotiateSocks(const std::string&, int) {}

}  // namespace ah
