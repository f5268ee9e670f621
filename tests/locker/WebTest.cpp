// The web root signs a user in with a cookie, shows that user's library with every text escaped,
// and answers the pages the uploader links to.
#include "LockerFixture.h"

namespace velmora::locker::test {
namespace {

using WebTest = LockerTest;

TEST_F(WebTest, SignInShowsTheLibraryOfThatUserOnly) {
  const std::string bytes = Bytes(2048, 1);
  ASSERT_TRUE(Upload(bytes, "Rock & <Roll>", "alice", "secret", "Party").success);
  ASSERT_TRUE(Upload(Bytes(1000, 2), "Bob only", "bob", "hunter2").success);

  const auto form = Client().Get("/");
  ASSERT_TRUE(form);
  EXPECT_NE(form->body.find("name=\"user\""), std::string::npos);
  EXPECT_NE(form->body.find("name=\"password\""), std::string::npos);

  const auto wrong = Client().Post("/signin", "user=alice&password=nope", "application/x-www-form-urlencoded");
  EXPECT_EQ(wrong->status, 401);
  EXPECT_FALSE(wrong->has_header("Set-Cookie"));

  const auto signedIn = Client().Post("/signin", "user=ALICE&password=secret", "application/x-www-form-urlencoded");
  ASSERT_EQ(signedIn->status, 303);
  const std::string cookie =
      signedIn->get_header_value("Set-Cookie").substr(0, signedIn->get_header_value("Set-Cookie").find(';'));
  httplib::Client client = Client();
  client.set_default_headers({{"Cookie", cookie}});
  const auto page = client.Get("/");
  ASSERT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Rock &amp; &lt;Roll&gt;"), std::string::npos);
  EXPECT_EQ(page->body.find("<Roll>"), std::string::npos);
  EXPECT_NE(page->body.find("Party"), std::string::npos);
  EXPECT_EQ(page->body.find("Bob only"), std::string::npos);

  const std::string key = locker_->library().ItemByHash("alice", Sha1(bytes))->entryKey;
  const auto download = client.Get(("/download/" + key).c_str());
  ASSERT_EQ(download->status, 200);
  EXPECT_TRUE(download->body == bytes);
  EXPECT_EQ(Client().Get(("/download/" + key).c_str())->status, 404) << "entry keys need the owner's session";

  ASSERT_EQ(client.Post("/signout")->status, 303);
  EXPECT_NE(client.Get("/")->body.find("name=\"password\""), std::string::npos);
}

TEST_F(WebTest, PagesTheUploaderOpensExist) {
  for (const char* path : {"/rd/terms/", "/rd/signup/?source=uploaderwin32&version=",
                           "/rd/requestpassword/?source=uploader", "/rd/download/uploader/win/", "/feedback"}) {
    const auto page = Client().Get(path);
    ASSERT_TRUE(page) << path;
    EXPECT_EQ(page->status, 200) << path;
    EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos) << path;
  }
  EXPECT_EQ(Client().Get("/no/such/page")->status, 404);
}

} // namespace
} // namespace velmora::locker::test
