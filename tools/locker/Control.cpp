// The control interface under /_control/: arms faults, seeds users, content and playlists, and
// shows what the service holds and what it was asked. Answers are small XML documents.
#include <httplib.h>
#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <functional>

#include "Digest.h"
#include "Handlers.h"
#include "Locker.h"

namespace velmora::locker {
namespace {

// A query, url-encoded or multipart parameter.
std::string Param(const httplib::Request& request, const char* name) {
  if (request.has_param(name)) return request.get_param_value(name);
  if (request.has_file(name)) return request.get_file_value(name).content;
  return {};
}

bool HasParam(const httplib::Request& request, const char* name) {
  return request.has_param(name) || request.has_file(name);
}

template <class Number>
std::optional<Number> ParseNumber(const std::string& text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool Flag(const std::string& text) { return text == "1" || text == "true" || text == "yes"; }

void SendXml(httplib::Response& response, const pugi::xml_document& doc, int status = 200) {
  response.status = status;
  response.set_content(XmlText(doc), kXmlType);
}

// A command without parameters. `curl -X POST` sends no Content-Length, and the HTTP library
// refuses such a request with 400 before a plain handler runs; a handler that reads the body
// itself is called first, so the command works with no body and with one (read and dropped).
void PostCommand(httplib::Server& server, const std::string& path, std::function<void(httplib::Response&)> run) {
  server.Post(path, [run = std::move(run)](const httplib::Request& request, httplib::Response& response,
                                           const httplib::ContentReader& reader) {
    if (request.get_header_value<std::uint64_t>("Content-Length") > 0) {
      const auto drop = [](const char*, std::size_t) { return true; };
      const bool read = request.is_multipart_form_data()
                            ? reader([](const httplib::MultipartFormData&) { return true; }, drop)
                            : reader(drop);
      if (!read) return;
    }
    run(response);
  });
}

void SendError(httplib::Response& response, const std::string& message, int status = 400) {
  pugi::xml_document doc;
  doc.append_child("error").append_child(pugi::node_pcdata).set_value(message.c_str());
  SendXml(response, doc, status);
}

void SendOk(httplib::Response& response) {
  pugi::xml_document doc;
  doc.append_child("ok");
  SendXml(response, doc);
}

std::vector<std::string> SplitHashIds(const std::string& text) {
  std::vector<std::string> hashIds;
  std::string current;
  for (char c : text + ",") {
    if (c == ',' || c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      if (!current.empty()) hashIds.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  return hashIds;
}

void AddFault(pugi::xml_node parent, const Fault& fault) {
  pugi::xml_node node = parent.append_child("fault");
  node.append_attribute("id") = fault.id;
  node.append_attribute("target") = fault.target.c_str();
  node.append_attribute("kind") = FaultKindName(fault.kind);
  node.append_attribute("code") = fault.code;
  node.append_attribute("message") = fault.message.c_str();
  node.append_attribute("status") = fault.status;
  node.append_attribute("retryafter") = fault.retryAfter.c_str();
  node.append_attribute("ms") = fault.delayMs;
  node.append_attribute("bytes") = static_cast<unsigned long long>(fault.bytes);
  node.append_attribute("remaining") = fault.remaining;
  node.append_attribute("fired") = fault.fired;
}

void AddPlaylist(pugi::xml_node parent, const Playlist& playlist) {
  pugi::xml_node node = parent.append_child("playlist");
  node.append_attribute("entrykey") = playlist.entryKey.c_str();
  node.append_attribute("name") = playlist.name.c_str();
  node.append_attribute("user") = playlist.user.c_str();
  node.append_attribute("dynamic") = playlist.dynamic ? 1 : 0;
  node.append_attribute("shared") = playlist.shared ? 1 : 0;
  for (const auto& hashId : playlist.hashIds) node.append_child("item").append_attribute("hashid") = hashId.c_str();
}

} // namespace

void Locker::ControlRoutes() {
  using httplib::Request;
  using httplib::Response;
  auto& server = *server_;
  const auto count = [this] { stats_.Request("control"); };

  server.Get("/_control/stats", [this, count](const Request&, Response& response) {
    count();
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("stats");
    for (const auto& [target, counter] : stats_.Snapshot()) {
      pugi::xml_node node = root.append_child("counter");
      node.append_attribute("target") = target.c_str();
      node.append_attribute("requests") = static_cast<unsigned long long>(counter.requests);
      node.append_attribute("failures") = static_cast<unsigned long long>(counter.failures);
      node.append_attribute("faults") = static_cast<unsigned long long>(counter.faults);
    }
    SendXml(response, doc);
  });

  PostCommand(server, "/_control/stats/reset", [this](Response& response) {
    stats_.Reset();
    requests_.Reset();
    SendOk(response);
  });

  server.Get("/_control/requests", [this, count](const Request& request, Response& response) {
    count();
    const auto limit = ParseNumber<std::size_t>(Param(request, "limit")).value_or(100);
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("requests");
    for (const LoggedRequest& logged : requests_.Recent(limit)) {
      pugi::xml_node node = root.append_child("request");
      node.append_attribute("seq") = static_cast<unsigned long long>(logged.seq);
      node.append_attribute("target") = logged.target.c_str();
      node.append_attribute("path") = logged.path.c_str();
      node.append_attribute("status") = logged.httpStatus;
      node.append_attribute("code") = logged.code;
      node.append_attribute("outcome") = logged.outcome.c_str();
      node.append_attribute("useragent") = logged.userAgent.c_str();
      node.append_attribute("contenttype") = logged.contentType.c_str();
      for (const LoggedField& field : logged.fields) {
        pugi::xml_node f = node.append_child("field");
        f.append_attribute("name") = field.name.c_str();
        if (field.isFile) {
          f.append_attribute("file") = 1;
          f.append_attribute("filename") = field.filename.c_str();
          f.append_attribute("contenttype") = field.contentType.c_str();
        }
        f.append_attribute("size") = static_cast<unsigned long long>(field.size);
        if (!field.value.empty()) f.append_child(pugi::node_pcdata).set_value(field.value.c_str());
      }
    }
    SendXml(response, doc);
  });

  server.Get("/_control/objects", [this, count](const Request&, Response& response) {
    count();
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("objects");
    for (const auto& object : objects_->List()) {
      pugi::xml_node node = root.append_child("object");
      node.append_attribute("hashid") = object.hashId.c_str();
      node.append_attribute("size") = static_cast<unsigned long long>(object.size);
    }
    SendXml(response, doc);
  });

  server.Post("/_control/objects", [this, count](const Request& request, Response& response) {
    count();
    std::string bytes = request.body;
    if (request.is_multipart_form_data()) {
      if (request.files.empty()) return SendError(response, "no file part");
      bytes = request.files.begin()->second.content;
    }
    const std::string hashId = objects_->Put(bytes);
    pugi::xml_document doc;
    pugi::xml_node node = doc.append_child("object");
    node.append_attribute("hashid") = hashId.c_str();
    node.append_attribute("size") = static_cast<unsigned long long>(bytes.size());
    SendXml(response, doc);
  });

  server.Get("/_control/library", [this, count](const Request& request, Response& response) {
    count();
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("library");
    for (const LibraryItem& item : library_->Items(Param(request, "user"))) {
      pugi::xml_node node = root.append_child("item");
      const std::pair<const char*, const std::string*> attributes[] = {
          {"user", &item.user},
          {"entrykey", &item.entryKey},
          {"hashid", &item.hashId},
          {"name", &item.meta.name},
          {"artist", &item.meta.artist},
          {"album", &item.meta.album},
          {"genre", &item.meta.genre},
          {"trackno", &item.meta.trackNo},
          {"year", &item.meta.year},
          {"length", &item.meta.length},
          {"bitrate", &item.meta.bitrate},
          {"size", &item.meta.size},
          {"location", &item.meta.location},
          {"added", &item.added},
      };
      for (const auto& [name, value] : attributes) node.append_attribute(name) = value->c_str();
    }
    SendXml(response, doc);
  });

  server.Get("/_control/playlists", [this, count](const Request& request, Response& response) {
    count();
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("playlists");
    for (const Playlist& playlist : library_->Playlists(Param(request, "user"))) AddPlaylist(root, playlist);
    SendXml(response, doc);
  });

  server.Post("/_control/playlists", [this, count](const Request& request, Response& response) {
    count();
    Playlist playlist;
    playlist.user = Param(request, "user");
    playlist.name = Param(request, "name");
    if (playlist.user.empty() || playlist.name.empty()) return SendError(response, "user and name are required");
    if (const auto user = library_->FindUser(playlist.user)) playlist.user = user->name;
    playlist.dynamic = Flag(Param(request, "dynamic"));
    playlist.shared = Flag(Param(request, "shared"));
    playlist.hashIds = SplitHashIds(Param(request, "hashes"));
    pugi::xml_document doc;
    AddPlaylist(doc, library_->CreatePlaylist(playlist));
    SendXml(response, doc);
  });

  server.Get("/_control/users", [this, count](const Request&, Response& response) {
    count();
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("users");
    for (const User& user : library_->Users()) {
      pugi::xml_node node = root.append_child("user");
      node.append_attribute("name") = user.name.c_str();
      node.append_attribute("hashpassword") = user.passwordMd5.c_str();
    }
    SendXml(response, doc);
  });

  server.Post("/_control/users", [this, count](const Request& request, Response& response) {
    count();
    const std::string name = Param(request, "name");
    if (name.empty()) return SendError(response, "name is required");
    AddUser(name, Param(request, "password"));
    pugi::xml_document doc;
    doc.append_child("user").append_attribute("name") = library_->FindUser(name)->name.c_str();
    SendXml(response, doc);
  });

  server.Get("/_control/invitations", [this, count](const Request&, Response& response) {
    count();
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("invitations");
    for (const Invitation& invitation : library_->Invitations()) {
      pugi::xml_node node = root.append_child("invitation");
      node.append_attribute("user") = invitation.user.c_str();
      node.append_attribute("email") = invitation.email.c_str();
      node.append_attribute("at") = invitation.at.c_str();
    }
    SendXml(response, doc);
  });

  server.Get("/_control/faults", [this, count](const Request&, Response& response) {
    count();
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("faults");
    for (const Fault& fault : faults_.List()) AddFault(root, fault);
    SendXml(response, doc);
  });

  server.Post("/_control/faults", [this, count](const Request& request, Response& response) {
    count();
    Fault fault;
    fault.target = Param(request, "target");
    if (fault.target.empty()) return SendError(response, "target is required (a method, upload, download or *)");
    const auto kind = FaultKindFromName(Param(request, "kind"));
    if (!kind) return SendError(response, "kind must be fail, http, notxml, stall, cut or cut-upload");
    fault.kind = *kind;
    const auto number = [&](const char* name, auto fallback) -> std::optional<decltype(fallback)> {
      if (!HasParam(request, name)) return fallback;
      return ParseNumber<decltype(fallback)>(Param(request, name));
    };
    const auto code = number("code", 1500);
    const auto status = number("status", 500);
    const auto ms = number("ms", 0);
    const auto bytes = number("bytes", std::uint64_t{0});
    const std::string timesText = Param(request, "times");
    const auto times = timesText == "always" ? std::optional<int>(-1) : number("times", 1);
    if (!code || !status || !ms || !bytes || !times || *ms < 0 || *times == 0 || *times < -1 || *status < 100 ||
        *status > 599)
      return SendError(response, "code, status, ms, bytes and times must be numbers (times: N > 0, -1 or always)");
    fault.code = *code;
    fault.message = HasParam(request, "message") ? Param(request, "message") : "Injected failure";
    fault.status = *status;
    fault.body = Param(request, "body");
    fault.retryAfter = Param(request, "retryafter");
    // Sent as a header line as it stands (a date or garbage too, for tests of clients), so no
    // control character may end the line early.
    if (std::any_of(fault.retryAfter.begin(), fault.retryAfter.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
      return SendError(response, "retryafter must be one line of text, e.g. 5");
    fault.delayMs = std::min(*ms, 600000);
    fault.bytes = *bytes;
    fault.remaining = *times;
    const int id = faults_.Add(fault);
    fault.id = id;
    pugi::xml_document doc;
    AddFault(doc, fault);
    SendXml(response, doc);
  });

  PostCommand(server, "/_control/faults/reset", [this](Response& response) {
    faults_.Reset();
    SendOk(response);
  });

  server.Post("/_control/upload-address", [this, count](const Request& request, Response& response) {
    count();
    const auto user = library_->FindUser(Param(request, "user"));
    if (!user) return SendError(response, "user is not known");
    const std::string hash = Param(request, "hash");
    if (!hash.empty() && !IsHashId(hash)) return SendError(response, "hash is not a hash id");
    pugi::xml_document doc;
    doc.append_child("location")
        .append_child(pugi::node_pcdata)
        .set_value(NewUploadAddress(user->name, Param(request, "playlist"), hash, PublicBase(request)).c_str());
    SendXml(response, doc);
  });

  // Takes any POST and drops it, so transfer speed can be measured without storage costs.
  const auto sink = [this](const Request& request, Response& response, const ContentReader* reader) {
    stats_.Request("sink");
    Sha1Stream sha1;
    FormHooks hooks;
    hooks.spoolField = "filedata";
    hooks.spool = [&](const char* data, std::size_t size) {
      sha1.Update(data, size);
      return true;
    };
    const FormResult read = ReadForm(request, reader, FormLimits{}, hooks);
    if (read.status == FormStatus::Malformed) response.set_header("Connection", "close");
    Envelope answer =
        read.status == FormStatus::Complete ? Envelope::Success() : Envelope::Failure(code::kMalformed, read.error);
    const FormField* file = read.form.Find("filedata");
    Envelope::AddText(answer.body(), "bytes", std::to_string(read.contentBytes));
    if (file && file->spooled) Envelope::AddText(answer.body(), "hashvalue", sha1.FinishHex());
    response.status = answer.success() ? 200 : 400;
    response.set_content(answer.Text(), kXmlType);
  };
  server.Post("/_control/sink", [sink](const Request& request, Response& response, const ContentReader& reader) {
    sink(request, response, &reader);
  });
  server.Post("/_control/sink",
              [sink](const Request& request, Response& response) { sink(request, response, nullptr); });
}

} // namespace velmora::locker
