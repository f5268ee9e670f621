// The duplicate check, uploads, metadata-only transfers, listings and downloads keep each user's
// library apart and hand back exactly the bytes that were stored.
#include "LockerFixture.h"

#include <filesystem>

namespace velmora::locker::test {
namespace {

using LibraryTest = LockerTest;

std::map<std::string, int> Codes(const Answer& answer) {
  std::map<std::string, int> codes;
  for (const auto& node : answer.doc->select_nodes("//result/items/item")) {
    const pugi::xml_node first = node.node().first_child();
    codes[first.child_value()] = std::atoi(first.next_sibling().child_value());
  }
  return codes;
}

TEST_F(LibraryTest, DuplicateCheckTellsUnknownStoredAndOwnContentApart) {
  const std::string aliceFile = Bytes(5000, 1), sharedFile = Bytes(7000, 2), newFile = Bytes(3000, 3);
  ASSERT_TRUE(Upload(aliceFile, "Mine").success);
  ASSERT_TRUE(Upload(sharedFile, "Theirs", "bob", "hunter2").success);

  const std::vector<std::string> asked = {Sha1(aliceFile), Sha1(sharedFile), Sha1(newFile), Sha1(aliceFile),
                                          "invalidhashvalue"};
  const Answer answer =
      Call("items/checkhashvalues", {{"filedata", HashList(asked), "/w/mediaitems_hash_3.xml", "text/xml"}});
  ASSERT_TRUE(answer.success) << answer.body;
  const auto codes = Codes(answer);
  EXPECT_EQ(codes.at(Sha1(aliceFile)), 200);
  EXPECT_EQ(codes.at(Sha1(sharedFile)), 204);
  EXPECT_EQ(codes.at(Sha1(newFile)), 404);
  EXPECT_EQ(codes.at("invalidhashvalue"), 400);
  EXPECT_EQ(answer.doc->select_nodes("//result/items/item").size(), 4u) << "each hash id answered once";

  const auto bobCodes =
      Codes(Call("items/checkhashvalues", {{"filedata", HashList(asked), "/h.xml", "text/xml"}}, "bob", "hunter2"));
  EXPECT_EQ(bobCodes.at(Sha1(aliceFile)), 204);
  EXPECT_EQ(bobCodes.at(Sha1(sharedFile)), 200);
}

TEST_F(LibraryTest, DuplicateCheckRefusesAMissingOrForeignDocument) {
  EXPECT_EQ(Call("items/checkhashvalues", {}).code, 1102);
  EXPECT_EQ(Call("items/checkhashvalues", {{"filedata", "not xml", "/h.xml", "text/xml"}}).code, 1103);
  EXPECT_EQ(Call("items/checkhashvalues", {{"filedata", "<playlists/>", "/h.xml", "text/xml"}}).code, 1103);
  const Answer empty = Call("items/checkhashvalues", {{"filedata", HashList({}), "/h.xml", "text/xml"}});
  EXPECT_TRUE(empty.success);
  EXPECT_TRUE(empty.doc->select_nodes("//result/items/item").empty());
}

TEST_F(LibraryTest, UploadStoresTheBytesTheMetadataAndThePlaylistEntry) {
  const std::string bytes = Bytes(300000, 4);
  const Answer added = Call("items/add", {{"checkhashresponse", "404"}, {"playlistname", "Road trip"}});
  ASSERT_TRUE(added.success);
  const std::string location = added.Text("location");
  EXPECT_EQ(location.rfind(locker_->BaseUrl() + "/upload/", 0), 0u) << location;

  const Answer stored =
      PostTo(location, {{"filedata", bytes, "C:\\Music\\Song.mp3", "audio/unknown"},
                        {"playlistname", "Road trip"},
                        {"metainfo", Metainfo(Sha1(bytes), "Song & Dance", "Band <A>"), "/m.xml", "text/xml"}});
  ASSERT_TRUE(stored.success) << stored.body;
  EXPECT_EQ(stored.Text("hashvalue"), Sha1(bytes));

  EXPECT_EQ(velmora::test::ReadFile(locker_->objects().PathOf(Sha1(bytes))), bytes);
  const auto item = locker_->library().ItemByHash("alice", Sha1(bytes));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->meta.name, "Song & Dance");
  EXPECT_EQ(item->meta.artist, "Band <A>");
  EXPECT_EQ(item->meta.genre, "Rock");
  EXPECT_EQ(item->meta.size, "300000");
  EXPECT_EQ(item->entryKey, stored.Text("entrykey"));
  const auto playlists = locker_->library().Playlists("alice");
  ASSERT_EQ(playlists.size(), 1u);
  EXPECT_EQ(playlists[0].name, "Road trip");
  EXPECT_EQ(playlists[0].hashIds, std::vector<std::string>{Sha1(bytes)});
  EXPECT_FALSE(locker_->library().ItemByHash("bob", Sha1(bytes)));
}

TEST_F(LibraryTest, AnUploadAddressIsUsedOnce) {
  const std::string bytes = Bytes(1000, 5);
  const Answer added = Call("items/add", {{"checkhashresponse", "404"}});
  const std::vector<Part> parts = {{"filedata", bytes, "/a.mp3", "audio/unknown"}};
  EXPECT_TRUE(PostTo(added.Text("location"), parts).success);
  const Answer again = PostTo(added.Text("location"), parts);
  EXPECT_EQ(again.status, 404);
  EXPECT_EQ(again.code, 1410);
  EXPECT_EQ(PostTo(locker_->BaseUrl() + "/upload/0123abcd", parts).code, 1410);
}

TEST_F(LibraryTest, BytesThatDoNotMatchTheAnnouncedHashAreRefusedAndNothingIsKept) {
  const std::string bytes = Bytes(50000, 6);
  std::string corrupted = bytes;
  corrupted[25000] ^= 1;
  const Answer added = Call("items/add", {{"checkhashresponse", "404"}});
  const std::string meta = Metainfo(Sha1(bytes), "Song");
  const Answer refused = PostTo(added.Text("location"), {{"filedata", corrupted, "/s.mp3", "audio/unknown"},
                                                         {"metainfo", meta, "/m.xml", "text/xml"}});
  EXPECT_EQ(refused.status, 422);
  EXPECT_EQ(refused.code, 1409);
  EXPECT_TRUE(locker_->objects().List().empty());
  EXPECT_TRUE(locker_->library().Items("alice").empty());
  EXPECT_TRUE(std::filesystem::is_empty(locker_->dataDir() / "incoming"));

  // A refused attempt leaves the address to the right bytes.
  EXPECT_TRUE(PostTo(added.Text("location"),
                     {{"filedata", bytes, "/s.mp3", "audio/unknown"}, {"metainfo", meta, "/m.xml", "text/xml"}})
                  .success);
  // A hash id given to items/add is held against the bytes too.
  const Answer announced = Call("items/add", {{"checkhashresponse", "404"}, {"hashvalue", Sha1(bytes)}});
  EXPECT_EQ(PostTo(announced.Text("location"), {{"filedata", corrupted, "/s.mp3", "audio/unknown"}}).code, 1409);
}

TEST_F(LibraryTest, UploadWithoutMetadataIsNamedAfterTheFile) {
  const std::string bytes = Bytes(2000, 7);
  const Answer added = Call("items/add", {{"checkhashresponse", "404"}});
  ASSERT_TRUE(PostTo(added.Text("location"), {{"filedata", bytes, "/music/Some Track.mp3", "audio/unknown"}}).success);
  const auto item = locker_->library().ItemByHash("alice", Sha1(bytes));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->meta.name, "Some Track");
  const Answer noFile = Call("items/add", {{"checkhashresponse", "404"}});
  EXPECT_EQ(PostTo(noFile.Text("location"), {{"playlistname", "x"}}).code, 1102);
  const Answer badMeta = Call("items/add", {{"checkhashresponse", "404"}});
  EXPECT_EQ(PostTo(badMeta.Text("location"),
                   {{"filedata", bytes, "/a.mp3", "audio/unknown"}, {"metainfo", "<notdata/>", "/m.xml", "text/xml"}})
                .code,
            1103);
}

TEST_F(LibraryTest, TransmitFileAddsStoredContentToAnotherLibrary) {
  const std::string bytes = Bytes(4000, 8);
  ASSERT_TRUE(Upload(bytes, "Shared").success);
  const Answer sent = Call("transmitfile",
                           {{"checkhashresponse", "204"},
                            {"playlistname", "Bob's"},
                            {"metainfo", Metainfo(Sha1(bytes), "Bob's title"), "/m.xml", "audio/info"},
                            {"hashvalue", Sha1(bytes)}},
                           "bob", "hunter2");
  ASSERT_TRUE(sent.success) << sent.body;
  EXPECT_EQ(locker_->library().ItemByHash("bob", Sha1(bytes))->meta.name, "Bob's title");
  EXPECT_EQ(locker_->library().ItemByHash("alice", Sha1(bytes))->meta.name, "Shared");
  EXPECT_EQ(locker_->library().Playlists("bob").at(0).hashIds, std::vector<std::string>{Sha1(bytes)});

  EXPECT_EQ(Call("transmitfile", {{"checkhashresponse", "204"}, {"hashvalue", Sha1("never sent")}}).code, 1404);
  EXPECT_EQ(Call("transmitfile", {{"checkhashresponse", "204"}}).code, 1102);
}

TEST_F(LibraryTest, DeliverNamesAnAddressThatServesTheStoredBytes) {
  const std::string bytes = Bytes(700000, 9);
  const Answer stored = Upload(bytes, "Long");
  ASSERT_TRUE(stored.success);
  const Answer delivered =
      Call("items/get/deliver", {{"libraryKey", ""}, {"entrykey", stored.Text("entrykey")}, {"options", ""}});
  ASSERT_TRUE(delivered.success) << delivered.body;
  const auto download = Client().Get(PathOf(delivered.Text("location")).c_str());
  ASSERT_TRUE(download);
  EXPECT_EQ(download->status, 200);
  EXPECT_EQ(download->body.size(), bytes.size());
  EXPECT_TRUE(download->body == bytes);

  EXPECT_EQ(Call("items/get/deliver", {{"entrykey", stored.Text("entrykey")}}, "bob", "hunter2").code, 1404);
  EXPECT_EQ(Call("items/get/deliver", {{"entrykey", "nothing"}}).code, 1404);
  EXPECT_EQ(Client().Get("/download/0123456789abcdef")->status, 404);
}

TEST_F(LibraryTest, ItemsGetListsOnlyTheUsersItemsWithTheirFields) {
  ASSERT_TRUE(Upload(Bytes(100, 10), "One").success);
  ASSERT_TRUE(Upload(Bytes(100, 11), "Two").success);
  ASSERT_TRUE(Upload(Bytes(100, 12), "Other", "bob", "hunter2").success);
  const Answer answer = Call("items/get", {{"_instancename", "host"}, {"fields", "artist,name,album,entrykey"}});
  ASSERT_TRUE(answer.success);
  const auto items = answer.doc->select_nodes("//result/items/item");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_STREQ(items[0].node().child_value("name"), "One");
  EXPECT_STREQ(items[1].node().child_value("name"), "Two");
  EXPECT_STREQ(items[0].node().child_value("artist"), "Artist");
  EXPECT_STREQ(items[0].node().child_value("album"), "Album");
  EXPECT_EQ(std::string(items[0].node().child_value("entrykey")).size(), 32u);
}

TEST_F(LibraryTest, ARestartOnTheSamePortAndDataKeepsAccountsContentLibrariesAndPlaylists) {
  const std::string bytes = Bytes(4000, 9);
  const Answer stored = Upload(bytes, "Kept", "alice", "secret", "Road trip");
  ASSERT_TRUE(stored.success) << stored.body;
  ASSERT_EQ(Control("users", {{"name", "carol"}, {"password", "pw"}}).status, 200);
  const int port = locker_->port();

  LockerOptions options;
  options.host = "127.0.0.1";
  options.port = port;
  options.dataDir = data_.path() / "locker";
  locker_.reset();
  locker_ = std::make_unique<Locker>(options); // no --user: the accounts come from the data folder
  ASSERT_EQ(locker_->Start(), port);

  EXPECT_TRUE(Call("user/checkaccess", {}, "carol", "pw").success);
  const auto codes =
      Codes(Call("items/checkhashvalues", {{"filedata", HashList({Sha1(bytes)}), "/h.xml", "text/xml"}}));
  EXPECT_EQ(codes.at(Sha1(bytes)), 200);
  const auto item = locker_->library().ItemByHash("alice", Sha1(bytes));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->entryKey, stored.Text("entrykey"));
  EXPECT_EQ(velmora::test::ReadFile(locker_->objects().PathOf(Sha1(bytes))), bytes);
  const auto playlists = locker_->library().Playlists("alice");
  ASSERT_EQ(playlists.size(), 1u);
  EXPECT_EQ(playlists[0].hashIds, std::vector<std::string>{Sha1(bytes)});
}

} // namespace
} // namespace velmora::locker::test
