#pragma once
// The public-suffix list (libpsl with the system's list): which domains
// are shared by unrelated owners ("com", "co.uk", "github.io"), and the
// registrable domain a host belongs to. Names compare ignoring ASCII letter
// case; a leading dot is ignored.

#include <string>
#include <string_view>

namespace ah {

// True for a public suffix, including a top-level domain the list does not
// know (its implicit rule).
bool IsPublicSuffix(std::string_view domain);
// The public suffix plus one label ("a.b.example.co.uk" gives
// "example.co.uk"), lower-cased; the name itself (lower-cased, without a
// leading dot) when it is a public suffix or an IP address.
std::string RegistrableDomain(std::string_view domain);

}  // namespace ah
