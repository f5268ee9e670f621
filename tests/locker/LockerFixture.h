#pragma once
// Runs a velmora-locker in the test's own process on a free loopback port and talks to it as the
// uploader does: multipart POSTs with the standard fields after the caller's own.

#include <gtest/gtest.h>
#include <httplib.h>
#include <pugixml.hpp>

#include <memory>
#include <string>
#include <vector>

#include "Locker.h"
#include "TempHome.h"

namespace velmora::locker::test {

struct Part {
  Part(std::string partName, std::string partContent, std::string partFilename = {}, std::string partType = {})
      : name(std::move(partName)),
        content(std::move(partContent)),
        filename(std::move(partFilename)),
        contentType(std::move(partType)) {}
  std::string name;
  std::string content;
  std::string filename;    // set for file parts
  std::string contentType; // set for file parts
};

struct Answer {
  bool transportError = false; // no complete HTTP answer arrived
  int status = 0;
  std::string body;
  bool parsed = false; // the body is an envelope
  bool success = false;
  int code = -1;
  std::string message;
  std::shared_ptr<pugi::xml_document> doc = std::make_shared<pugi::xml_document>();
  // Text of the first element `name` under the envelope's "result".
  std::string Text(const char* name) const;
};

std::string Md5Hex(const std::string& text);
std::string Sha1(const std::string& bytes);
std::string Bytes(std::size_t size, unsigned seed);
// An item metadata document announcing `hashId`.
std::string Metainfo(const std::string& hashId, const std::string& name, const std::string& artist = "Artist",
                     const std::string& album = "Album");
std::string HashList(const std::vector<std::string>& hashIds);

class LockerTest : public ::testing::Test {
protected:
  void SetUp() override { Start(LockerOptions{}); }
  // Restarts the service with these options (host, port, users and data folder are filled in).
  void Start(LockerOptions options);

  httplib::Client Client() const;
  // A REST call as the uploader makes it, at "//api/rest/<method>".
  Answer Call(const std::string& method, std::vector<Part> parts, const std::string& user = "alice",
              const std::string& password = "secret", const std::string& version = "1.0.0.1");
  // A POST of parts (no standard fields) to a full address on this server.
  Answer PostTo(const std::string& address, const std::vector<Part>& parts);
  // items/add, then the file posted to the address it names, with its metadata.
  Answer Upload(const std::string& bytes, const std::string& name, const std::string& user = "alice",
                const std::string& password = "secret", const std::string& playlist = "");
  Answer Control(const std::string& path, const httplib::Params& params = {});
  std::string PathOf(const std::string& address) const;

  velmora::test::TempDir data_;
  std::unique_ptr<Locker> locker_;
};

Answer Parse(const httplib::Result& result);

} // namespace velmora::locker::test
