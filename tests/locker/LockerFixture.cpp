#include "LockerFixture.h"

#include "Digest.h"
#include "Net.h"

namespace velmora::locker::test {

std::string Answer::Text(const char* name) const { return doc->document_element().child(name).child_value(); }

std::string Md5Hex(const std::string& text) { return Md5UpperHex(text); }
std::string Sha1(const std::string& bytes) { return Sha1Hex(bytes); }

std::string Bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

std::string Metainfo(const std::string& hashId, const std::string& nameText, const std::string& artistText,
                     const std::string& albumText) {
  const std::string name = HtmlEscape(nameText), artist = HtmlEscape(artistText), album = HtmlEscape(albumText);
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><data><Album>" + album + "</Album><Location>/music/" + name +
         ".mp3</Location><Type>music</Type><FileType>mpeg/audio</FileType>"
         "<Artist>" +
         artist + "</Artist><Name>" + name +
         "</Name><Genre>Rock</Genre><TrackNo>3</TrackNo>"
         "<Bitrate>128</Bitrate><Year>1999</Year><Length>215</Length><Size></Size><Rating/><LastPlayed/>"
         "<PlayedTimes/><SampleRate>44100</SampleRate><Added/><HashValue>" +
         hashId + "</HashValue><iTunesPersistentID/><iTunesTrackID/><iTunesSortAlbum/></data>";
}

std::string HashList(const std::vector<std::string>& hashIds) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<items>";
  for (const auto& hashId : hashIds) xml += "<item><hashvalue>" + hashId + "</hashvalue></item>";
  return xml + "</items>";
}

Answer Parse(const httplib::Result& result) {
  Answer answer;
  if (!result) {
    answer.transportError = true;
    return answer;
  }
  answer.status = result->status;
  answer.body = result->body;
  if (answer.doc->load_string(answer.body.c_str())) {
    const pugi::xml_node root = answer.doc->document_element();
    if (std::string_view(root.name()) == "result" && root.child("result") && root.child("error")) {
      answer.parsed = true;
      answer.success = std::string_view(root.child("result").child_value()) == "true";
      answer.code = std::atoi(root.child("error").child_value());
      answer.message = root.child("errormessage").child_value();
    }
  }
  return answer;
}

void LockerTest::Start(LockerOptions options) {
  locker_.reset();
  options.host = "127.0.0.1";
  options.port = 0;
  options.dataDir = data_.path() / "locker";
  options.users = {{"alice", "secret"}, {"bob", "hunter2"}};
  locker_ = std::make_unique<Locker>(options);
  locker_->Start();
}

httplib::Client LockerTest::Client() const {
  httplib::Client client("127.0.0.1", locker_->port());
  client.set_read_timeout(30, 0);
  return client;
}

Answer LockerTest::Call(const std::string& method, std::vector<Part> parts, const std::string& user,
                        const std::string& password, const std::string& version) {
  httplib::MultipartFormDataItems items;
  for (const auto& part : parts) items.push_back({part.name, part.content, part.filename, part.contentType});
  items.push_back({"username", user, "", ""});
  items.push_back({"hashpassword", Md5Hex(password), "", ""});
  items.push_back({"format", "xml", "", ""});
  items.push_back({"appkey", kAppKey, "", ""});
  items.push_back({"_programversion", version, "", ""});
  return Parse(Client().Post(("//api/rest/" + method).c_str(), items));
}

std::string LockerTest::PathOf(const std::string& address) const {
  const std::string base = locker_->BaseUrl();
  EXPECT_EQ(address.substr(0, base.size()), base) << "address on another server: " << address;
  return address.substr(base.size());
}

Answer LockerTest::PostTo(const std::string& address, const std::vector<Part>& parts) {
  httplib::MultipartFormDataItems items;
  for (const auto& part : parts) items.push_back({part.name, part.content, part.filename, part.contentType});
  return Parse(Client().Post(PathOf(address).c_str(), items));
}

Answer LockerTest::Upload(const std::string& bytes, const std::string& name, const std::string& user,
                          const std::string& password, const std::string& playlist) {
  std::vector<Part> fields = {{"checkhashresponse", "404"}};
  if (!playlist.empty()) fields.push_back({"playlistname", playlist});
  const Answer added = Call("items/add", fields, user, password);
  if (!added.success) return added;
  return PostTo(added.Text("location"), {{"filedata", bytes, "/music/" + name + ".mp3", "audio/unknown"},
                                         {"metainfo", Metainfo(Sha1(bytes), name), "/tmp/tmp_meta.xml", "text/xml"}});
}

Answer LockerTest::Control(const std::string& path, const httplib::Params& params) {
  return Parse(Client().Post(("/_control/" + path).c_str(), params));
}

} // namespace velmora::locker::test
