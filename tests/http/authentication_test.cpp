#include "http/authentication.h"

#include <gtest/gtest.h>

#include "http/coder_mime.h"

namespace ah {
namespace {

class TTestAuthentication : public TIdAuthentication {
 public:
  AH_CLASS_NAME(TTestAuthentication)
  AuthNextStep DecideNext() override { return StepFail; }
  std::string AuthorizationText() override { return "Test"; }
};

TEST(AuthRegistry, BasicIsRegisteredFromTheStart) {
  for (const char* name : {"Basic", "basic", "BASIC"}) {
    const TIdAuthenticationClass* cls = FindAuthScheme(name);
    ASSERT_NE(cls, nullptr) << name;
    EXPECT_STREQ(cls->ClassName(), "TIdBasicAuthentication");
    auto auth = cls->Create();
    EXPECT_NE(dynamic_cast<TIdBasicAuthentication*>(auth.get()), nullptr);
  }
  EXPECT_EQ(FindAuthScheme("Digest"), nullptr);
}

TEST(AuthRegistry, SecondRegistrationOfANameNamesTheRegisteredClass) {
  for (const char* name : {"Basic", "bAsIc"}) {
    try {
      RegisterAuthScheme(name, TIdAuthenticationClass::Of<TTestAuthentication>());
      ADD_FAILURE() << "no exception for " << name;
    } catch (const EIdAlreadyRegisteredAuthenticationMethod& e) {
      EXPECT_EQ(e.Message(),
                "This authentication method is already registered with class name "
                "TIdBasicAuthentication.");
    }
  }
  EXPECT_STREQ(FindAuthScheme("Basic")->ClassName(), "TIdBasicAuthentication");
}

TEST(AuthRegistry, NewSchemesCanBeRegisteredAndCreated) {
  RegisterAuthScheme("X-Test", TIdAuthenticationClass::Of<TTestAuthentication>());
  const TIdAuthenticationClass* cls = FindAuthScheme("x-test");
  ASSERT_NE(cls, nullptr);
  EXPECT_STREQ(cls->ClassName(), "TTestAuthentication");
  EXPECT_EQ(cls->Create()->AuthorizationText(), "Test");
}

TEST(Authentication, CredentialsLiveInCredentialLines) {
  TIdBasicAuthentication auth;
  auth.StoreUserName("bob");
  auth.StorePassword("pw");
  EXPECT_EQ(auth.CredentialLines().Text(), "Username: bob\r\nPassword: pw\r\n");
  EXPECT_EQ(auth.CurrentUserName(), "bob");
  EXPECT_EQ(auth.CurrentPassword(), "pw");
  auth.StorePassword("");
  EXPECT_EQ(auth.CredentialLines().Count(), 1);
  EXPECT_EQ(auth.CurrentPassword(), "");
}

TEST(Authentication, ChallengeForMatchesTheLineStartByteExact) {
  TIdBasicAuthentication auth;
  EXPECT_EQ(auth.ChallengeLines(), nullptr);
  EXPECT_EQ(auth.ChallengeFor("Basic"), "");
  TStringList challenges({"Digest realm=\"d\"", "basic realm=\"lower\"", "Basic realm=\"x\""});
  auth.SetChallenges(challenges);
  ASSERT_NE(auth.ChallengeLines(), nullptr);
  EXPECT_EQ(auth.ChallengeFor("Basic"), "Basic realm=\"x\"");
  EXPECT_EQ(auth.ChallengeFor("NTLM"), "");
}

TEST(BasicAuthentication, AuthorizationTextEncodesUserColonPassword) {
  struct Case {
    std::string user, password, expected;
  } cases[] = {
      {"Aladdin", "open sesame", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
      {"user", "", "Basic dXNlcjo="},
      {"", "", "Basic Og=="},
      // Byte for byte: blanks, separators and long values stay as given.
      {" u ", "  pass  ", "Basic IHUgOiAgcGFzcyAg"},
      {"a:b", "x: y", "Basic YTpiOng6IHk="},
      {"u", "\t", "Basic dToJ"},
      {"u", std::string(60, 'w') + " , " + std::string(60, 'w'),
       "Basic " + TIdEncoderMIME::EncodeTextOnce("u:" + std::string(60, 'w') + " , " +
                                                 std::string(60, 'w'))},
  };
  for (const auto& c : cases) {
    TIdBasicAuthentication auth;
    auth.StoreUserName(c.user);
    auth.StorePassword(c.password);
    EXPECT_EQ(auth.CurrentUserName(), c.user);
    EXPECT_EQ(auth.CurrentPassword(), c.password);
    EXPECT_EQ(auth.AuthorizationText(), c.expected) << c.user << ":" << c.password;
  }
  // A challenge parameter that starts with a blank does not join the
  // password line above it.
  TIdBasicAuthentication auth;
  auth.StoreUserName("u");
  auth.StorePassword("pw ");
  auth.SetChallenges(TStringList({"Basic realm=\"r\",  x"}));
  auth.DecideNext();
  EXPECT_EQ(auth.CurrentPassword(), "pw ");
}

TEST(BasicAuthentication, DecideNextAsksForCredentialsUntilAUserNameIsKnown) {
  TIdBasicAuthentication auth;
  EXPECT_EQ(auth.StepCount(), 1);
  EXPECT_EQ(auth.NextStep(), StepAskCredentials);
  auth.StoreUserName("bob");
  EXPECT_EQ(auth.NextStep(), StepSendRequest);
  EXPECT_EQ(auth.NextStep(), StepSendRequest);
  auth.SetStepIndex(1);
  EXPECT_EQ(auth.NextStep(), StepFail);
  auth.ResetSteps();
  EXPECT_EQ(auth.StepIndex(), 0);
}

TEST(BasicAuthentication, ReadsTheRealmOfTheBasicChallenge) {
  struct Case {
    std::vector<std::string> challenges;
    std::string realm;
  } cases[] = {
      {{"Basic realm=\"x\""}, "x"},
      {{"Basic realm=\"Site Login\", charset=\"UTF-8\""}, "Site Login"},
      {{"Basic charset=\"UTF-8\", realm=\"second\""}, "second"},
      {{"Digest realm=\"no\"", "Basic realm=\"yes\""}, "yes"},
      {{"Basic"}, ""},
      {{"Basic realm="}, ""},
      {{"Basic realm=x"}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) {
    TIdBasicAuthentication auth;
    auth.SetChallenges(TStringList(c.challenges));
    auth.DecideNext();
    EXPECT_EQ(auth.RealmText(), c.realm)
        << "input: " << (c.challenges.empty() ? "" : c.challenges.back());
  }
}

TEST(BasicAuthentication, ChallengeParametersBecomeCredentialLines) {
  TIdBasicAuthentication auth;
  auth.StoreUserName("bob");
  auth.SetChallenges(TStringList({"Basic realm=\"r\", a=b=c"}));
  auth.DecideNext();
  EXPECT_EQ(auth.CredentialLines().Text(), "Username: bob\r\nrealm: \"r\"\r\na: b=c\r\n");
  auth.DecideNext();
  EXPECT_EQ(auth.CredentialLines().Count(), 5);
  EXPECT_EQ(auth.RealmText(), "r");
}

}  // namespace
}  // namespace ah
