// Every answer body ends as a ServiceReply: a readable envelope as the service said, anything else as code 500.

#include "RawHttpServer.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "base/WorkFolder.h"
#include "service/ApiError.h"
#include "service/ApiResult.h"
#include "service/CallService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <set>

namespace velmora {
namespace {

using test::Envelope;
using test::HttpAnswer;

class ApiResultTest : public test::TempHomeTest {};

TEST_F(ApiResultTest, ReadsTheEnvelopeAsTheServiceWroteIt) {
  const std::string ok = Envelope("true", "0", "", "<location>http://x/up</location>");
  ServiceReply data = ParseApiResult(ok);
  EXPECT_TRUE(data.Success);
  EXPECT_EQ(data.ErrorCode, 0);
  EXPECT_EQ(data.ErrorMessage, "");
  EXPECT_EQ(data.ResponseText, ok);

  data = ParseApiResult(Envelope("false", "-17", "Wrong &amp; bad"));
  EXPECT_FALSE(data.Success);
  EXPECT_EQ(data.ErrorCode, -17);
  EXPECT_EQ(data.ErrorMessage, "Wrong & bad");

  // Success must read exactly "true"; the code and message still come through.
  data = ParseApiResult(Envelope("True", "3", "why"));
  EXPECT_FALSE(data.Success);
  EXPECT_EQ(data.ErrorCode, 3);
  EXPECT_EQ(data.ErrorMessage, "why");

  // The message is optional; the first match in document order counts wherever it is.
  data = ParseApiResult(
      "<a><result><error>7</error><result>true</result></result>"
      "<result><result>false</result></result></a>");
  EXPECT_TRUE(data.Success);
  EXPECT_EQ(data.ErrorCode, 7);
  EXPECT_EQ(data.ErrorMessage, "");

  // Only the first child node of an element counts.
  data = ParseApiResult(
      "<result><result>true</result><error>12<!-- c -->34</error>"
      "<errormessage><b>x</b>text</errormessage></result>");
  EXPECT_EQ(data.ErrorCode, 12);
  EXPECT_EQ(data.ErrorMessage, "");
}

TEST_F(ApiResultTest, UnusableBodiesThrowInsteadOfGuessing) {
  for (const std::string& body : {
           std::string(),                                         // empty
           std::string("Internal error, try later"),              // not XML
           std::string("<result><result>true</result>"),          // cut short
           std::string("<result><error>0</error></result>"),      // no success flag
           std::string("<result><result>true</result></result>"), // no error code
           std::string("<result><result></result><error>0</error></result>"),
           std::string("<result><result>true</result><error></error></result>"),
           std::string("<result><result>true</result><error>zero</error></result>"),
           std::string("<result><result>true</result><error>12x</error></result>"),
           std::string("<result><result>true</result><error>99999999999</error></result>"),
           std::string("<result><result><b/>true</result><error>0</error></result>"),
           std::string("<Result><Result>true</Result><Error>0</Error></Result>"), // names are exact
       }) {
    EXPECT_THROW(ParseApiResult(body), ApiError) << body;
  }
}

TEST_F(ApiResultTest, ResponseFilesHaveCrLfLinesAndUniqueNames) {
  EXPECT_EQ(WithCrLfLines("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(WithCrLfLines("a\n"), "a\r\n");
  EXPECT_EQ(WithCrLfLines("a\n\n"), "a\r\n\r\n");
  EXPECT_EQ(WithCrLfLines(""), "");

  std::set<std::string> names;
  for (int i = 0; i < 5; ++i) {
    const std::filesystem::path path = SaveResponseFile("<x>\n</x>");
    EXPECT_EQ(path.string(), RunFolder() + path.filename().string());
    const std::string name = path.filename().string();
    EXPECT_EQ(name.rfind("tmp_{", 0), 0u);
    EXPECT_EQ(name.size(), 4 + 38 + 4u);
    EXPECT_EQ(test::ReadFile(path), "<x>\r\n</x>\r\n");
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 5u);
}

TEST_F(ApiResultTest, SetApiErrorKeepsSuccessAndText) {
  ServiceReply data{true, 0, "", "body"};
  SetApiError(data, 500, "m");
  EXPECT_TRUE(data.Success);
  EXPECT_EQ(data.ErrorCode, 500);
  EXPECT_EQ(data.ErrorMessage, "m");
  EXPECT_EQ(data.ResponseText, "body");
}

// The calling pattern: whatever went wrong on the way, the caller gets code 500 and its message.
TEST_F(ApiResultTest, CallServiceTurnsEveryFailureIntoCode500) {
  const std::vector<std::string> answers = {
      HttpAnswer(200, ""),
      HttpAnswer(200, "<html>busy</html>"),
      HttpAnswer(200, "<result><result>true</result></result>"),
      HttpAnswer(200, "<result><error>0</error></result>"),
      HttpAnswer(200, "<result><result>true</result><error>x</error></result>"),
      HttpAnswer(503, Envelope("true", "0")),
      test::CutAnswer("<result><result>true</result><er", 4000), // connection cut mid-answer
      std::string("garbage that is no HTTP at all\r\n\r\n"),
      std::string(), // closed without a word
  };
  std::size_t next = 0;
  test::RawHttpServer server([&](const test::CapturedRequest&) {
    const std::size_t i = next++;
    return i < answers.size() ? answers[i] : std::string();
  });
  test::RecordingUi ui;
  Engine engine(ui, {"/stage " + server.hostPort(), configHome() / "s.ini"});
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const ServiceReply data = engine.service().Call("sets/get", FormData(), true, kCouldNotConnect);
    EXPECT_FALSE(data.Success) << i;
    EXPECT_EQ(data.ErrorCode, 500) << i;
    EXPECT_EQ(data.ErrorMessage, kCouldNotConnect) << i;
    EXPECT_EQ(data.ResponseText, "") << i;
  }
  EXPECT_EQ(next, answers.size());

  // Without a message of the caller's (the upload paths) the cause is the message.
  const ServiceReply upload = engine.service().Call("transmitfile", FormData(), true, "");
  EXPECT_EQ(upload.ErrorCode, 500);
  EXPECT_THAT(upload.ErrorMessage, ::testing::HasSubstr("transmitfile"));
}

TEST_F(ApiResultTest, CallServiceHandsOverWellFormedAnswers) {
  test::RawHttpServer server(
      [](const test::CapturedRequest&) { return HttpAnswer(200, Envelope("false", "42", "Wrong password")); });
  test::RecordingUi ui;
  Engine engine(ui, {"/stage " + server.hostPort(), configHome() / "s.ini"});
  const ServiceReply data = engine.service().Call("user/checkaccess", FormData(), true, kCouldNotConnect);
  EXPECT_FALSE(data.Success);
  EXPECT_EQ(data.ErrorCode, 42);
  EXPECT_EQ(data.ErrorMessage, "Wrong password");
  EXPECT_EQ(data.ResponseText, Envelope("false", "42", "Wrong password"));
}

TEST_F(ApiResultTest, AnswerDocumentsLeaveNoFileBehind) {
  pugi::xml_document document;
  LoadAnswerDocument(document, "playlists", "<a><b>1</b></a>");
  EXPECT_STREQ(document.child("a").child_value("b"), "1");
  EXPECT_THROW(LoadAnswerDocument(document, "playlists", ""), ApiError);
  for (const auto& entry : std::filesystem::directory_iterator(RunFolder())) {
    EXPECT_NE(entry.path().filename().string().rfind("tmp_playlists", 0), 0u) << entry.path();
  }
}

} // namespace
} // namespace velmora
