#pragma once
// Pluggable HTTP authentication: a process-wide registry of schemes by
// name, the scheme base class and the Basic scheme.

#include <memory>
#include <string>
#include <string_view>

#include "framework/persistent.h"
#include "http/exceptions.h"
#include "http/header_list.h"

namespace ah {

enum AuthNextStep {
  StepAskCredentials = 0,  // the program must supply or confirm credentials
  StepSendRequest = 1,     // send the request again with the authorization
  StepFail = 2,            // give up
};

class TIdAuthentication;

// Stands for a scheme class: it names the class and creates instances of
// it, which is what the client needs of a class found in the registry.
class TIdAuthenticationClass {
 public:
  using Factory = std::unique_ptr<TIdAuthentication> (*)();
  constexpr TIdAuthenticationClass(const char* class_name, Factory factory)
      : class_name_(class_name), factory_(factory) {}
  const char* ClassName() const { return class_name_; }
  std::unique_ptr<TIdAuthentication> Create() const { return factory_(); }

  // The class object of T (one per type, for the program's lifetime).
  template <typename T>
  static const TIdAuthenticationClass* Of() {
    static const TIdAuthenticationClass cls(
        T::StaticClassName(), []() -> std::unique_ptr<TIdAuthentication> {
          return std::make_unique<T>();
        });
    return &cls;
  }

 private:
  const char* class_name_;
  Factory factory_;
};

// The registry holds "Basic" from the start. Names compare ignoring case.
// A second registration of a name raises
// EIdAlreadyRegisteredAuthenticationMethod naming the registered class.
void RegisterAuthScheme(std::string_view name, const TIdAuthenticationClass* cls);
// The class registered under name; null when none.
const TIdAuthenticationClass* FindAuthScheme(std::string_view name);

class TIdAuthentication : public TPersistent {
 public:
  AH_CLASS_NAME(TIdAuthentication)
  TIdAuthentication();
  ~TIdAuthentication() override;

  virtual AuthNextStep DecideNext() = 0;
  virtual int StepCount() const { return 0; }
  virtual void StorePassword(std::string_view text);
  virtual void StoreUserName(std::string_view text);
  virtual void ResetSteps() {}
  virtual std::string AuthorizationText() = 0;

  AuthNextStep NextStep() { return DecideNext(); }
  std::string CurrentUserName() const;
  std::string CurrentPassword() const;
  // ChallengeLines becomes a copy of the list.
  void SetChallenges(const TStrings& list);
  // The first challenge line that begins with scheme (byte-exact), whole.
  std::string ChallengeFor(std::string_view scheme) const;

  int StepIndex() const { return step_index_; }
  void SetStepIndex(int i) { step_index_ = i; }
  // Owned. Holds "Username", "Password", "Authorization" and the
  // parameters of the challenge.
  TIdHeaderList& CredentialLines() { return *credential_lines_; }
  const TIdHeaderList& CredentialLines() const { return *credential_lines_; }
  // Owned; null until challenges are first set.
  TIdHeaderList* ChallengeLines() const { return challenge_lines_.get(); }

 protected:
  int step_index_ = 0;
  std::unique_ptr<TIdHeaderList> credential_lines_;
  std::unique_ptr<TIdHeaderList> challenge_lines_;
};

class TIdBasicAuthentication : public TIdAuthentication {
 public:
  AH_CLASS_NAME(TIdBasicAuthentication)
  TIdBasicAuthentication() = default;

  // Reads the parameters of the "Basic" challenge into CredentialLines
  // (on every call) and the realm into RealmText.
  AuthNextStep DecideNext() override;
  int StepCount() const override { return 1; }
  void ResetSteps() override { step_index_ = 0; }
  // "Basic " + Base64 of user name, ":" and password.
  std::string AuthorizationText() override;

  const std::string& RealmText() const { return realm_text_; }

 private:
  std::string realm_text_;
};

}  // namespace ah
