// The REST methods answer at one- and two-slash paths with the envelope and refuse wrong keys,
// credentials, formats and too-old programs with distinct codes.
#include "LockerFixture.h"

namespace velmora::locker::test {
namespace {

using ApiAccessTest = LockerTest;

TEST_F(ApiAccessTest, CheckAccessSucceedsWithTheEnvelopeAtBothPathForms) {
  const Answer twoSlashes = Call("user/checkaccess", {{"_instancename", "host"}});
  EXPECT_EQ(twoSlashes.status, 200);
  ASSERT_TRUE(twoSlashes.parsed) << twoSlashes.body;
  EXPECT_TRUE(twoSlashes.success);
  EXPECT_EQ(twoSlashes.code, 0);
  EXPECT_EQ(twoSlashes.message, "");
  EXPECT_EQ(twoSlashes.Text("username"), "alice");

  httplib::MultipartFormDataItems items = {{"username", "alice", "", ""},
                                           {"hashpassword", Md5Hex("secret"), "", ""},
                                           {"format", "xml", "", ""},
                                           {"appkey", kAppKey, "", ""},
                                           {"_programversion", "1.0.0.1", "", ""}};
  const Answer oneSlash = Parse(Client().Post("/api/rest/user/checkaccess", items));
  EXPECT_TRUE(oneSlash.success) << oneSlash.body;
}

TEST_F(ApiAccessTest, UserNamesMatchInAnyLetterCaseAndTheStoredNameIsAnswered) {
  const Answer answer = Call("user/checkaccess", {}, "ALICE", "secret");
  EXPECT_TRUE(answer.success);
  EXPECT_EQ(answer.Text("username"), "alice");
}

TEST_F(ApiAccessTest, WrongCredentialsAreRefusedWith1001) {
  for (const auto& [user, password] : {std::pair{"alice", "wrong"}, {"nobody", "secret"}, {"", ""}}) {
    const Answer answer = Call("user/checkaccess", {}, user, password);
    EXPECT_EQ(answer.status, 200);
    EXPECT_FALSE(answer.success) << user;
    EXPECT_EQ(answer.code, 1001) << user;
    EXPECT_EQ(answer.message, "Invalid username or password");
  }
  // Only the upper-case digest is the one the uploader sends.
  httplib::MultipartFormDataItems items = {{"username", "alice", "", ""},
                                           {"hashpassword", "5ebe2294ecd0e0f08eab7690d2a6ee69", "", ""},
                                           {"format", "xml", "", ""},
                                           {"appkey", kAppKey, "", ""}};
  EXPECT_EQ(Parse(Client().Post("//api/rest/user/checkaccess", items)).code, 1001);
}

TEST_F(ApiAccessTest, AnEmptyPasswordIsTheDigestOfNothing) {
  locker_->AddUser("carol", "");
  EXPECT_EQ(Md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_TRUE(Call("user/checkaccess", {}, "carol", "").success);
}

TEST_F(ApiAccessTest, ApplicationKeyAndFormatAreChecked) {
  httplib::MultipartFormDataItems items = {{"username", "alice", "", ""},
                                           {"hashpassword", Md5Hex("secret"), "", ""},
                                           {"format", "xml", "", ""},
                                           {"appkey", "WRONG", "", ""}};
  const Answer badKey = Parse(Client().Post("//api/rest/sets/get", items));
  EXPECT_FALSE(badKey.success);
  EXPECT_EQ(badKey.code, 1002);
  EXPECT_FALSE(badKey.message.empty());

  items[2].content = "json";
  items[3].content = kAppKey;
  EXPECT_EQ(Parse(Client().Post("//api/rest/sets/get", items)).code, 1003);
}

TEST_F(ApiAccessTest, MinimumVersionIsComparedPartByPartAsNumbers) {
  LockerOptions options;
  options.minVersion = ParseVersion("1.2.9.0");
  Start(options);
  EXPECT_EQ(Call("user/checkaccess", {}, "alice", "secret", "1.2.8.99").code, 1300);
  EXPECT_EQ(Call("user/checkaccess", {}, "alice", "secret", "1.2").code, 1300);
  EXPECT_EQ(Call("user/checkaccess", {}, "alice", "secret", "garbage").code, 1300);
  EXPECT_TRUE(Call("user/checkaccess", {}, "alice", "secret", "1.2.9.0").success);
  EXPECT_TRUE(Call("user/checkaccess", {}, "alice", "secret", "1.2.10").success);
  // Only the sign-in is refused; the other methods do not look at the version.
  EXPECT_TRUE(Call("sets/get", {}, "alice", "secret", "1.0.0.0").success);
}

TEST_F(ApiAccessTest, VersionTextsParseOnlyWhenWellFormed) {
  EXPECT_EQ(ParseVersion("1.0.0.1"), (Version{1, 0, 0, 1}));
  EXPECT_EQ(ParseVersion("2"), (Version{2, 0, 0, 0}));
  for (const char* bad : {"", "1..2", "1.2.3.4.5", "1.a", " 1.2", "99999999999"})
    EXPECT_FALSE(ParseVersion(bad)) << bad;
}

TEST_F(ApiAccessTest, UnknownMethodsAndGetRequestsAreRefusedWithAnEnvelope) {
  const Answer unknown = Call("items/nonsense", {});
  EXPECT_EQ(unknown.status, 404);
  EXPECT_EQ(unknown.code, 1000);
  // The trailing slash is part of this method's name.
  EXPECT_EQ(Call("sets/set/getitems", {{"setkey", "x"}}).code, 1000);

  const Answer get = Parse(Client().Get("//api/rest/user/checkaccess"));
  EXPECT_EQ(get.status, 405);
  EXPECT_EQ(get.code, 1005);
}

TEST_F(ApiAccessTest, InvitationsAreRecordedForValidAddressesOnly) {
  EXPECT_TRUE(Call("misc/sendinvitation", {{"email", "friend@example.org"}}).success);
  EXPECT_FALSE(Call("misc/sendinvitation", {{"email", "not an address"}}).success);
  const auto invitations = locker_->library().Invitations();
  ASSERT_EQ(invitations.size(), 1u);
  EXPECT_EQ(invitations[0].email, "friend@example.org");
  EXPECT_EQ(invitations[0].user, "alice");
}

} // namespace
} // namespace velmora::locker::test
