#pragma once
// The system's trusted certificates for a TLS context, where OpenSSL's
// default paths name them, with the certificate bundle read on first need.

#include <openssl/ssl.h>

namespace ah {

// Adds the system's certificates to what the context trusts: the hashed
// directory, the store, and the bundle file, which is parsed only when a
// chain needs an issuer that nothing trusted so far holds. Parsing the
// bundle's some 150 certificates costs more than a handshake, and a chain
// that ends in a CA file of the caller's never needs them.
void TrustSystemCertificates(SSL_CTX* ctx);

}  // namespace ah
