#include "http/public_suffix.h"

#include <libpsl.h>

#include "framework/sysutils.h"
#include "http/protocol_utils.h"

namespace ah {
namespace {

// The newer of libpsl's built-in list and the system's; loaded once and
// kept for the process's lifetime.
const psl_ctx_t* List() {
  static const psl_ctx_t* list = [] {
    const psl_ctx_t* latest = psl_latest(nullptr);
    return latest ? latest : psl_builtin();
  }();
  return list;
}

std::string Normalized(std::string_view domain) {
  if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  return LowerCase(domain);
}

}  // namespace

bool IsPublicSuffix(std::string_view domain) {
  const std::string name = Normalized(domain);
  if (name.empty()) return true;
  if (const psl_ctx_t* list = List()) return psl_is_public_suffix(list, name.c_str()) != 0;
  // Without any list only the rule every list implies holds: a single label.
  return name.find('.') == std::string::npos;
}

std::string RegistrableDomain(std::string_view domain) {
  std::string name = Normalized(domain);
  if (name.empty() || IsIPAddress(name)) return name;
  const psl_ctx_t* list = List();
  if (const char* registrable = list ? psl_registrable_domain(list, name.c_str()) : nullptr)
    return registrable;
  return name;
}

}  // namespace ah
