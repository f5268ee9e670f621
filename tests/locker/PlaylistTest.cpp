// Playlists arrive through "set/prefill" and "playlistname" in order, are replaced by name, and
// "sets/get" lists every playlist a user can see, with the owner and dynamic flag the client filters on.
#include "LockerFixture.h"

namespace velmora::locker::test {
namespace {

using PlaylistTest = LockerTest;

std::string PlaylistFile(const std::vector<std::pair<std::string, std::vector<std::string>>>& playlists) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<playlists><playlist>";
  for (const auto& [name, hashIds] : playlists) {
    xml += "<item><Name>" + name + "</Name><items>";
    for (const auto& hashId : hashIds) xml += "<item>" + hashId + "</item>";
    xml += "</items></item>";
  }
  return xml + "</playlist></playlists>";
}

TEST_F(PlaylistTest, PrefillStoresPlaylistsInOrderAndReplacesThemByName) {
  const std::string a = Sha1("a"), b = Sha1("b"), c = Sha1("c");
  const Answer first =
      Call("set/prefill",
           {{"filedata", PlaylistFile({{"Evening", {c, a, b}}, {"Morning", {b}}}), "/w/playlists_0.xml", "text/xml"}});
  ASSERT_TRUE(first.success) << first.body;
  auto playlists = locker_->library().Playlists("alice");
  ASSERT_EQ(playlists.size(), 2u);
  EXPECT_EQ(playlists[0].name, "Evening");
  EXPECT_EQ(playlists[0].hashIds, (std::vector<std::string>{c, a, b}));
  EXPECT_EQ(playlists[1].hashIds, (std::vector<std::string>{b}));

  ASSERT_TRUE(Call("set/prefill", {{"filedata", PlaylistFile({{"Evening", {a}}}), "/p.xml", "text/xml"}}).success);
  playlists = locker_->library().Playlists("alice");
  ASSERT_EQ(playlists.size(), 2u);
  EXPECT_EQ(playlists[0].hashIds, (std::vector<std::string>{a}));
  EXPECT_TRUE(locker_->library().Playlists("bob").empty());

  const Answer empty = Call("set/prefill", {{"filedata", PlaylistFile({}), "/p.xml", "text/xml"}});
  EXPECT_TRUE(empty.success);
  EXPECT_EQ(Call("set/prefill", {{"filedata", "<items/>", "/p.xml", "text/xml"}}).code, 1103);
}

TEST_F(PlaylistTest, UploadsAppendToTheNamedPlaylistOnce) {
  const std::string one = Bytes(900, 1), two = Bytes(900, 2);
  ASSERT_TRUE(Upload(one, "One", "alice", "secret", "Dropped").success);
  ASSERT_TRUE(Upload(two, "Two", "alice", "secret", "Dropped").success);
  ASSERT_TRUE(Upload(one, "One", "alice", "secret", "Dropped").success);
  EXPECT_EQ(locker_->library().Playlists("alice").at(0).hashIds, (std::vector<std::string>{Sha1(one), Sha1(two)}));
}

TEST_F(PlaylistTest, SetsGetListsOwnSharedAndDynamicPlaylistsWithTheirOwners) {
  ASSERT_TRUE(Call("set/prefill", {{"filedata", PlaylistFile({{"Mine", {Sha1("x")}}}), "/p.xml", "text/xml"}}).success);
  Control("playlists", {{"user", "alice"}, {"name", "Smart"}, {"dynamic", "1"}});
  Control("playlists", {{"user", "bob"}, {"name", "Bob shares"}, {"shared", "1"}});
  Control("playlists", {{"user", "bob"}, {"name", "Bob private"}});

  const Answer answer = Call("sets/get", {{"options", "notemporary,nodynamic,ownonly"}});
  ASSERT_TRUE(answer.success);
  std::vector<std::string> seen;
  for (const auto& node : answer.doc->select_nodes("//result/items/item")) {
    const pugi::xml_node item = node.node();
    seen.push_back(std::string(item.child_value("name")) + "|" + item.child_value("dynamic") + "|" +
                   item.child_value("username"));
    EXPECT_EQ(std::string(item.child_value("entrykey")).size(), 32u);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"Mine|0|alice", "Smart|1|alice", "Bob shares|0|bob"}));
}

TEST_F(PlaylistTest, SetItemsResolvesEntriesAgainstTheUsersOwnLibrary) {
  const std::string one = Bytes(800, 3), two = Bytes(800, 4), missing = Bytes(800, 5);
  ASSERT_TRUE(Upload(one, "One").success);
  ASSERT_TRUE(Upload(two, "Two").success);
  const Answer prefill =
      Call("set/prefill",
           {{"filedata", PlaylistFile({{"Mix", {Sha1(two), Sha1(missing), Sha1(one)}}}), "/p.xml", "text/xml"}});
  const std::string key = prefill.doc->select_node("//result/playlists/playlist/entrykey").node().child_value();
  const Answer items = Call("sets/set/getitems/", {{"setkey", key}, {"options", "ownitemsonly"}});
  ASSERT_TRUE(items.success) << items.body;
  const auto nodes = items.doc->select_nodes("//result/items/item");
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_STREQ(nodes[0].node().child_value("name"), "Two");
  EXPECT_STREQ(nodes[1].node().child_value("name"), "One");

  EXPECT_EQ(Call("sets/set/getitems/", {{"setkey", key}, {"options", "ownitemsonly"}}, "bob", "hunter2").code, 1404);
  EXPECT_EQ(Call("sets/set/getitems/", {{"options", "ownitemsonly"}}).code, 1102);
}

} // namespace
} // namespace velmora::locker::test
