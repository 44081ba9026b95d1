#include "http/authentication.h"

#include <mutex>
#include <utility>
#include <vector>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "http/coder_mime.h"

namespace ah {

namespace {

struct TAuthListObject {
  const TIdAuthenticationClass* auth_class;
};

struct AuthSchemeRegistry {
  std::mutex lock;
  // Unsorted: lookups are by a linear, case-insensitive scan.
  std::vector<std::pair<std::string, std::unique_ptr<TAuthListObject>>> entries;

  AuthSchemeRegistry() {
    entries.emplace_back("Basic", std::make_unique<TAuthListObject>(
                                      TAuthListObject{
                                          TIdAuthenticationClass::Of<TIdBasicAuthentication>()}));
  }

  TAuthListObject* Find(std::string_view name) {
    for (auto& [entry_name, object] : entries)
      if (SameText(entry_name, name)) return object.get();
    return nullptr;
  }
};

AuthSchemeRegistry& Registry() {
  static AuthSchemeRegistry registry;
  return registry;
}

}  // namespace

void RegisterAuthScheme(std::string_view name, const TIdAuthenticationClass* cls) {
  auto& registry = Registry();
  std::lock_guard guard(registry.lock);
  if (TAuthListObject* existing = registry.Find(name))
    throw EIdAlreadyRegisteredAuthenticationMethod(
        Format("This authentication method is already registered with class name %s.",
               existing->auth_class->ClassName()));
  registry.entries.emplace_back(std::string(name),
                                std::make_unique<TAuthListObject>(TAuthListObject{cls}));
}

const TIdAuthenticationClass* FindAuthScheme(std::string_view name) {
  auto& registry = Registry();
  std::lock_guard guard(registry.lock);
  TAuthListObject* found = registry.Find(name);
  return found ? found->auth_class : nullptr;
}

namespace {

// A credential exactly as stored: what follows the name and the separator,
// not trimmed and not joined with any line below.
std::string StoredCredential(const TIdHeaderList& lines, std::string_view name) {
  const int index = lines.IndexOfHeader(name);
  if (index < 0) return {};
  const std::string& line = lines[index];
  const std::string& separator = lines.ValueSeparator();
  size_t start = line.find(separator.empty() ? ':' : separator[0]);
  if (start == std::string::npos) return {};
  if (line.compare(start, separator.size(), separator) == 0) {
    start += separator.size();
  } else {
    start += 1;
  }
  return line.substr(start);
}

}  // namespace

TIdAuthentication::TIdAuthentication() : credential_lines_(std::make_unique<TIdHeaderList>()) {
  // A long password is one line, not a header folded at blanks.
  credential_lines_->SetFoldOnWrite(false);
}

TIdAuthentication::~TIdAuthentication() = default;

void TIdAuthentication::StoreUserName(std::string_view text) {
  credential_lines_->SetHeaderValue("Username", text);
}

void TIdAuthentication::StorePassword(std::string_view text) {
  credential_lines_->SetHeaderValue("Password", text);
}

std::string TIdAuthentication::CurrentUserName() const {
  return StoredCredential(*credential_lines_, "username");
}

std::string TIdAuthentication::CurrentPassword() const {
  return StoredCredential(*credential_lines_, "password");
}

void TIdAuthentication::SetChallenges(const TStrings& list) {
  if (!challenge_lines_) challenge_lines_ = std::make_unique<TIdHeaderList>();
  challenge_lines_->Assign(list);
}

std::string TIdAuthentication::ChallengeFor(std::string_view scheme) const {
  if (!challenge_lines_) return {};
  for (const auto& line : challenge_lines_->Lines())
    if (std::string_view(line).substr(0, scheme.size()) == scheme) return line;
  return {};
}

AuthNextStep TIdBasicAuthentication::DecideNext() {
  std::string s = ChallengeFor("Basic");
  TakeToken(s, " ");
  while (!s.empty()) {
    std::string piece = TakeToken(s, ", ");
    if (size_t eq = piece.find('='); eq != std::string::npos)
      piece.replace(eq, 1, credential_lines_->ValueSeparator());
    credential_lines_->Add(piece);
  }
  // The realm comes quoted; its first and last characters are dropped.
  const std::string realm = credential_lines_->HeaderValue("realm");
  realm_text_ = realm.size() > 2 ? realm.substr(1, realm.size() - 2) : std::string();
  if (step_index_ == 0) return CurrentUserName().empty() ? StepAskCredentials : StepSendRequest;
  return StepFail;
}

std::string TIdBasicAuthentication::AuthorizationText() {
  return "Basic " + TIdEncoderMIME::EncodeTextOnce(CurrentUserName() + ":" + CurrentPassword());
}

}  // namespace ah
