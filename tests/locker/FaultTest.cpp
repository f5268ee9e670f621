// Faults armed through the control interface shape exactly the requests they target, as many
// times as asked, and the statistics and request log report what the service was asked.
#include "LockerFixture.h"

#include <chrono>
#include <filesystem>

namespace velmora::locker::test {
namespace {

class Faults : public LockerTest {
public:
  Answer ArmFault(const httplib::Params& params) { return Control("faults", params); }
};

TEST_F(Faults, FailAnswersTheChosenCodeAsManyTimesAsAsked) {
  const Answer armed =
      ArmFault({{"target", "sets/get"}, {"kind", "fail"}, {"code", "777"}, {"message", "Boom"}, {"times", "2"}});
  ASSERT_EQ(armed.status, 200) << armed.body;
  for (int i = 0; i < 2; ++i) {
    const Answer failed = Call("sets/get", {});
    EXPECT_EQ(failed.status, 200);
    EXPECT_FALSE(failed.success);
    EXPECT_EQ(failed.code, 777);
    EXPECT_EQ(failed.message, "Boom");
  }
  EXPECT_TRUE(Call("sets/get", {}).success);
  EXPECT_TRUE(Call("user/checkaccess", {}).success) << "other methods are not touched";
  EXPECT_TRUE(locker_->faults().List().empty());
}

TEST_F(Faults, HttpStatusAndNonXmlAnswersReplaceTheEnvelope) {
  ArmFault({{"target", "user/checkaccess"}, {"kind", "http"}, {"status", "503"}});
  const Answer http = Call("user/checkaccess", {});
  EXPECT_EQ(http.status, 503);
  EXPECT_FALSE(http.parsed);

  ArmFault({{"target", "user/checkaccess"}, {"kind", "notxml"}});
  const Answer garbage = Call("user/checkaccess", {});
  EXPECT_EQ(garbage.status, 200);
  EXPECT_FALSE(garbage.body.empty());
  pugi::xml_document doc;
  EXPECT_FALSE(doc.load_string(garbage.body.c_str()));
}

TEST_F(Faults, AnHttpFaultCanNameARetryAfterHeader) {
  ASSERT_EQ(ArmFault({{"target", "*"}, {"kind", "http"}, {"status", "503"}, {"retryafter", "7"}}).status, 200);
  const httplib::Result answer =
      Client().Post("//api/rest/user/checkaccess", "format=xml", "application/x-www-form-urlencoded");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 503);
  EXPECT_EQ(answer->get_header_value("Retry-After"), "7");
  EXPECT_FALSE(Client()
                   .Post("//api/rest/user/checkaccess", "format=xml", "application/x-www-form-urlencoded")
                   ->has_header("Retry-After"));
  EXPECT_EQ(ArmFault({{"target", "*"}, {"kind", "http"}, {"retryafter", "1\r\nX-Other: 1"}}).status, 400);
}

TEST_F(Faults, StallDelaysTheAnswerAndThenAnswersNormally) {
  ArmFault({{"target", "*"}, {"kind", "stall"}, {"ms", "300"}});
  const auto start = std::chrono::steady_clock::now();
  const Answer answer = Call("items/get", {});
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_TRUE(answer.success);
}

TEST_F(Faults, CutEndsTheAnswerAfterTheGivenBytes) {
  ArmFault({{"target", "sets/get"}, {"kind", "cut"}, {"bytes", "40"}});
  EXPECT_TRUE(Call("sets/get", {}).transportError);
  EXPECT_TRUE(Call("sets/get", {}).success);

  const std::string bytes = Bytes(500000, 1);
  const Answer stored = Upload(bytes, "Song");
  const Answer delivered = Call("items/get/deliver", {{"entrykey", stored.Text("entrykey")}});
  ArmFault({{"target", "download"}, {"kind", "cut"}, {"bytes", "1000"}});
  EXPECT_FALSE(Client().Get(PathOf(delivered.Text("location")).c_str()));
  const auto whole = Client().Get(PathOf(delivered.Text("location")).c_str());
  ASSERT_TRUE(whole);
  EXPECT_TRUE(whole->body == bytes);
}

TEST_F(Faults, CutUploadLeavesNothingStoredAndTheAddressUsable) {
  ArmFault({{"target", "upload"}, {"kind", "cut-upload"}, {"bytes", "10000"}});
  const std::string bytes = Bytes(400000, 2);
  const Answer added = Call("items/add", {{"checkhashresponse", "404"}});
  const std::vector<Part> parts = {{"filedata", bytes, "/s.mp3", "audio/unknown"},
                                   {"metainfo", Metainfo(Sha1(bytes), "Song"), "/m.xml", "text/xml"}};
  EXPECT_TRUE(PostTo(added.Text("location"), parts).transportError);
  EXPECT_TRUE(locker_->objects().List().empty());
  EXPECT_TRUE(locker_->library().Items("").empty());
  EXPECT_TRUE(std::filesystem::is_empty(locker_->dataDir() / "incoming"));
  EXPECT_TRUE(PostTo(added.Text("location"), parts).success);
}

TEST_F(Faults, StarTargetsRestMethodsOnlyAndResetDisarms) {
  ArmFault({{"target", "*"}, {"kind", "fail"}, {"code", "42"}, {"times", "always"}});
  EXPECT_EQ(Call("user/checkaccess", {}).code, 42);
  EXPECT_EQ(Call("items/checkhashvalues", {}).code, 42);
  EXPECT_EQ(Client().Get("/download/abc")->status, 404) << "downloads are not REST methods";
  // As the README gives it: curl's -X POST sends no body and no Content-Length.
  const auto reset = velmora::test::RunCommand("curl -s -o /dev/null -w '%{http_code}' -X POST http://127.0.0.1:" +
                                               std::to_string(locker_->port()) + "/_control/faults/reset");
  ASSERT_EQ(reset.out, "200");
  EXPECT_TRUE(Call("user/checkaccess", {}).success);
  // With a body (here a form) the command works the same.
  ArmFault({{"target", "*"}, {"kind", "fail"}, {"code", "42"}});
  ASSERT_EQ(Control("faults/reset", {{"unused", "x"}}).status, 200);
  EXPECT_TRUE(Call("user/checkaccess", {}).success);
}

TEST_F(Faults, BadFaultRequestsAreRefused) {
  EXPECT_EQ(ArmFault({{"kind", "fail"}}).status, 400);
  EXPECT_EQ(ArmFault({{"target", "x"}, {"kind", "explode"}}).status, 400);
  EXPECT_EQ(ArmFault({{"target", "x"}, {"kind", "fail"}, {"times", "0"}}).status, 400);
  EXPECT_EQ(ArmFault({{"target", "x"}, {"kind", "http"}, {"status", "abc"}}).status, 400);
  EXPECT_TRUE(locker_->faults().List().empty());
}

TEST_F(Faults, StatsAndTheRequestLogShowWhatWasAsked) {
  Call("user/checkaccess", {{"_instancename", "box"}});
  Call("user/checkaccess", {}, "alice", "wrong");
  ASSERT_TRUE(Upload(Bytes(100, 3), "Song").success);

  const auto counters = locker_->stats().Snapshot();
  EXPECT_EQ(counters.at("user/checkaccess").requests, 2u);
  EXPECT_EQ(counters.at("user/checkaccess").failures, 1u);
  EXPECT_EQ(counters.at("items/add").requests, 1u);
  EXPECT_EQ(counters.at("upload").requests, 1u);

  const auto stats = Parse(Client().Get("/_control/stats"));
  EXPECT_TRUE(stats.doc->select_node("/stats/counter[@target='upload'][@requests='1']"));

  const auto log = Parse(Client().Get("/_control/requests?limit=4"));
  const auto first = log.doc->select_node("/requests/request[@target='user/checkaccess']").node();
  std::vector<std::string> names;
  for (const auto& field : first.children("field")) names.push_back(field.attribute("name").value());
  EXPECT_EQ(names, (std::vector<std::string>{"_instancename", "username", "hashpassword", "format", "appkey",
                                             "_programversion"}));
  const auto upload = log.doc->select_node("/requests/request[@target='upload']").node();
  EXPECT_STREQ(upload.child("field").attribute("filename").value(), "/music/Song.mp3");
  EXPECT_STREQ(upload.child("field").attribute("size").value(), "100");
}

TEST_F(Faults, ControlSeedsUsersObjectsAndUploadAddresses) {
  ASSERT_EQ(Control("users", {{"name", "dave"}, {"password", "pw"}}).status, 200);
  EXPECT_TRUE(Call("user/checkaccess", {}, "dave", "pw").success);

  const std::string bytes = Bytes(3000, 4);
  const auto seeded = Parse(Client().Post("/_control/objects", bytes, "application/octet-stream"));
  EXPECT_STREQ(seeded.doc->child("object").attribute("hashid").value(), Sha1(bytes).c_str());
  EXPECT_TRUE(locker_->objects().Has(Sha1(bytes)));

  const Answer address = Control("upload-address", {{"user", "dave"}, {"hash", Sha1(bytes)}});
  const std::string location = address.doc->child("location").child_value();
  EXPECT_TRUE(PostTo(location, {{"filedata", bytes, "/d.mp3", "audio/unknown"}}).success);
  EXPECT_TRUE(locker_->library().ItemByHash("dave", Sha1(bytes)));
}

} // namespace
} // namespace velmora::locker::test
