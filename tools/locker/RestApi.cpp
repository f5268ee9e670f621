// The REST methods: every request is a multipart POST carrying the caller's fields followed by
// "username", "hashpassword", "format", "appkey" and "_programversion"; every answer is an envelope.
#include <httplib.h>
#include <pugixml.hpp>

#include <set>
#include <unordered_set>

#include "Digest.h"
#include "Handlers.h"
#include "Locker.h"

namespace velmora::locker {
namespace {

const std::set<std::string, std::less<>> kMethods = {
    "user/checkaccess",      "sets/get",    "sets/set/getitems/", "items/get", "items/get/deliver",
    "items/checkhashvalues", "set/prefill", "transmitfile",       "items/add", "misc/sendinvitation",
};

// Fields "items/get" may ask for beyond the four every answer carries.
std::string ExtraField(const LibraryItem& item, std::string_view field) {
  if (field == "hashvalue") return item.hashId;
  if (field == "size") return item.meta.size;
  if (field == "genre") return item.meta.genre;
  if (field == "year") return item.meta.year;
  if (field == "trackno") return item.meta.trackNo;
  if (field == "length") return item.meta.length;
  if (field == "bitrate") return item.meta.bitrate;
  if (field == "added") return item.added;
  return {};
}

void AddItem(pugi::xml_node items, const LibraryItem& item) {
  pugi::xml_node node = items.append_child("item");
  Envelope::AddText(node, "entrykey", item.entryKey);
  Envelope::AddText(node, "name", item.meta.name);
  Envelope::AddText(node, "artist", item.meta.artist);
  Envelope::AddText(node, "album", item.meta.album);
}

bool LooksLikeEmail(const std::string& text) {
  const std::size_t at = text.find('@');
  if (at == std::string::npos || at == 0 || at + 1 >= text.size() || text.find('@', at + 1) != std::string::npos)
    return false;
  return text.find_first_of(" \t\r\n<>\"") == std::string::npos;
}

Envelope MissingField(const char* name) {
  return Envelope::Failure(code::kMissingField, std::string("Missing field \"") + name + "\"");
}

} // namespace

void Locker::HandleRest(const Request& request, Response& response, const ContentReader* reader) {
  const std::string method = request.matches.size() > 1 ? request.matches[1].str() : std::string();
  const bool known = kMethods.count(method) > 0;
  stats_.Request(method);
  LoggedRequest entry = StartLog(method, request);
  const auto finish = [&](int httpStatus, int errorCode, const std::string& outcome) {
    entry.httpStatus = httpStatus;
    entry.code = errorCode;
    if (entry.outcome.empty()) entry.outcome = outcome;
    if (httpStatus >= 400 || errorCode != 0) stats_.Failure(method);
    requests_.Add(std::move(entry));
  };

  const std::optional<Fault> cut = faults_.Take(method, known, true);
  FormHooks hooks;
  if (cut) hooks.cutAfter = cut->bytes;
  const FormResult read = ReadForm(request, reader, FormLimits{}, hooks);
  LogFields(entry, read.form);

  if (read.status == FormStatus::Cut) {
    stats_.Fault(method);
    Sleep(cut->delayMs);
    CutConnection(EndpointsOf(request));
    response.status = 500;
    response.set_header("Connection", "close");
    entry.outcome = "fault:cut-upload";
    finish(0, 0, "");
    return;
  }
  if (read.status == FormStatus::Malformed || read.status == FormStatus::Aborted) {
    // What is left of a broken body cannot be told from the next request on this connection.
    response.set_header("Connection", "close");
    const Envelope failure = Envelope::Failure(code::kMalformed, "The form data could not be read: " + read.error);
    Answer(request, response, failure, std::nullopt, 400);
    finish(400, failure.errorCode(), "malformed");
    return;
  }

  std::optional<std::uint64_t> cutAfter;
  if (const std::optional<Fault> fault = faults_.Take(method, known, false)) {
    if (ApplyFault(*fault, request, response, entry, cutAfter)) {
      finish(response.status, entry.code, "");
      return;
    }
  }

  int httpStatus = 200;
  const Envelope envelope = [&] {
    if (!known) {
      httpStatus = 404;
      return Envelope::Failure(code::kUnknownMethod, "Unknown method \"" + method + "\"");
    }
    if (read.status == FormStatus::TooLarge) return Envelope::Failure(code::kTooLarge, read.error);
    try {
      return RunMethod(method, read.form, request);
    } catch (const std::exception& error) {
      httpStatus = 500;
      return Envelope::Failure(code::kInternal, std::string("Internal error: ") + error.what());
    }
  }();
  Answer(request, response, envelope, cutAfter, httpStatus);
  finish(httpStatus, envelope.errorCode(), envelope.success() ? "ok" : "failed");
}

bool Locker::ApplyFault(const Fault& fault, const Request& request, Response& response, LoggedRequest& entry,
                        std::optional<std::uint64_t>& cutAfter) {
  stats_.Fault(entry.target);
  entry.outcome = std::string("fault:") + FaultKindName(fault.kind);
  Sleep(fault.delayMs);
  switch (fault.kind) {
  case FaultKind::Fail: {
    const Envelope failure = Envelope::Failure(fault.code, fault.message);
    entry.code = fault.code;
    Answer(request, response, failure, std::nullopt, 200);
    return true;
  }
  case FaultKind::Http:
    response.status = fault.status;
    if (!fault.retryAfter.empty()) response.set_header("Retry-After", fault.retryAfter);
    response.set_content(fault.body.empty() ? "Internal Server Error\n" : fault.body, "text/plain");
    return true;
  case FaultKind::NotXml:
    response.status = 200;
    response.set_content(fault.body.empty() ? "Service temporarily unavailable, please try again later.\n" : fault.body,
                         "text/plain");
    return true;
  case FaultKind::Cut: cutAfter = fault.bytes; return false;
  case FaultKind::Stall:
  case FaultKind::CutUpload: return false;
  }
  return false;
}

void Locker::Answer(const Request& request, Response& response, const Envelope& envelope,
                    std::optional<std::uint64_t> cutAfter, int httpStatus) {
  response.status = httpStatus;
  std::string body = envelope.Text();
  if (!cutAfter || *cutAfter >= body.size()) {
    response.set_content(body, kXmlType);
    return;
  }
  const auto shared = std::make_shared<const std::string>(std::move(body));
  const Endpoints ends = EndpointsOf(request);
  const std::uint64_t limit = *cutAfter;
  response.set_content_provider(shared->size(), kXmlType,
                                [shared, ends, limit](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                  if (offset < limit) sink.write(shared->data() + offset, limit - offset);
                                  CutConnection(ends);
                                  return false;
                                });
}

Envelope Locker::RunMethod(const std::string& method, const Form& form, const Request& request) {
  if (form.Text("appkey") != kAppKey) return Envelope::Failure(code::kBadAppKey, "Invalid application key");
  const std::string format = form.Text("format");
  if (format != "xml") return Envelope::Failure(code::kBadFormat, "Unsupported format \"" + format + "\"");
  if (method == "user/checkaccess" && options_.minVersion) {
    const auto version = ParseVersion(form.Text("_programversion"));
    if (!version || *version < *options_.minVersion)
      return Envelope::Failure(code::kUpgradeRequired, "This uploader is too old; please install the new version");
  }
  const auto user = library_->FindUser(form.Text("username"));
  if (!user || user->passwordMd5 != form.Text("hashpassword"))
    return Envelope::Failure(code::kBadLogin, "Invalid username or password");

  if (method == "user/checkaccess") return CheckAccess(form, *user);
  if (method == "sets/get") return SetsGet(*user);
  if (method == "sets/set/getitems/") return SetItems(form, *user);
  if (method == "items/get") return ItemsGet(form, *user);
  if (method == "items/get/deliver") return Deliver(form, *user, request);
  if (method == "items/checkhashvalues") return CheckHashValues(form, *user);
  if (method == "set/prefill") return Prefill(form, *user);
  if (method == "transmitfile") return TransmitFile(form, *user);
  if (method == "items/add") return ItemsAdd(form, *user, request);
  if (method == "misc/sendinvitation") return SendInvitation(form, *user);
  return Envelope::Failure(code::kUnknownMethod, "Unknown method \"" + method + "\"");
}

Envelope Locker::CheckAccess(const Form&, const User& user) {
  Envelope answer = Envelope::Success();
  Envelope::AddText(answer.body(), "username", user.name);
  return answer;
}

Envelope Locker::SetsGet(const User& user) {
  // The "options" the client sends are not applied: it filters dynamic playlists and other
  // users' playlists itself, and tests need both kinds in the answer to see that it does.
  Envelope answer = Envelope::Success();
  pugi::xml_node items = answer.body().append_child("items");
  for (const Playlist& playlist : library_->VisiblePlaylists(user.name)) {
    pugi::xml_node item = items.append_child("item");
    Envelope::AddText(item, "name", playlist.name);
    Envelope::AddText(item, "entrykey", playlist.entryKey);
    Envelope::AddText(item, "dynamic", playlist.dynamic ? "1" : "0");
    Envelope::AddText(item, "username", playlist.user);
    Envelope::AddText(item, "itemcount", std::to_string(playlist.hashIds.size()));
  }
  return answer;
}

Envelope Locker::SetItems(const Form& form, const User& user) {
  const std::string key = Trim(form.Text("setkey"));
  if (key.empty()) return MissingField("setkey");
  const auto playlist = library_->PlaylistByKey(key);
  if (!playlist || (!EqualsNoCase(playlist->user, user.name) && !playlist->shared))
    return Envelope::Failure(code::kNotFound, "Playlist not found");
  const bool ownItemsOnly = form.Text("options").find("ownitemsonly") != std::string::npos;
  Envelope answer = Envelope::Success();
  pugi::xml_node items = answer.body().append_child("items");
  for (const std::string& hashId : playlist->hashIds) {
    auto item = library_->ItemByHash(user.name, hashId);
    if (!item && !ownItemsOnly) item = library_->ItemByHash(playlist->user, hashId);
    if (item) AddItem(items, *item);
  }
  return answer;
}

Envelope Locker::ItemsGet(const Form& form, const User& user) {
  std::vector<std::string> extras;
  const std::string fields = form.Text("fields");
  for (std::size_t start = 0; start <= fields.size();) {
    const std::size_t comma = std::min(fields.find(',', start), fields.size());
    const std::string field = Trim(fields.substr(start, comma - start));
    if (field != "entrykey" && field != "name" && field != "artist" && field != "album" && !field.empty())
      extras.push_back(field);
    start = comma + 1;
  }
  Envelope answer = Envelope::Success();
  pugi::xml_node items = answer.body().append_child("items");
  for (const LibraryItem& item : library_->Items(user.name)) {
    AddItem(items, item);
    for (const auto& extra : extras) Envelope::AddText(items.last_child(), extra.c_str(), ExtraField(item, extra));
  }
  return answer;
}

Envelope Locker::Deliver(const Form& form, const User& user, const Request& request) {
  const std::string key = Trim(form.Text("entrykey"));
  if (key.empty()) return MissingField("entrykey");
  const auto item = library_->ItemByKey(key);
  if (!item || !EqualsNoCase(item->user, user.name)) return Envelope::Failure(code::kNotFound, "Item not found");
  if (!objects_->Has(item->hashId)) return Envelope::Failure(code::kNotFound, "The content of this item is not stored");
  const std::string token = RandomHex(16);
  {
    std::lock_guard lock(ticketsMutex_);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = downloads_.begin(); it != downloads_.end();) {
      if (it->second.expires < now) it = downloads_.erase(it);
      else ++it;
    }
    const std::string display = item->meta.name.empty() ? item->hashId : item->meta.name;
    downloads_[token] = DownloadTicket{item->hashId, display, now + std::chrono::hours(1)};
  }
  Envelope answer = Envelope::Success();
  Envelope::AddText(answer.body(), "location", PublicBase(request) + "/download/" + token);
  return answer;
}

Envelope Locker::CheckHashValues(const Form& form, const User& user) {
  const FormField* list = form.Find("filedata");
  if (!list) return MissingField("filedata");
  pugi::xml_document doc;
  if (!doc.load_buffer(list->value.data(), list->value.size()) ||
      std::string_view(doc.document_element().name()) != "items")
    return Envelope::Failure(code::kBadDocument, "\"filedata\" is not a hash list document");
  const auto own = library_->HashIds(user.name);
  Envelope answer = Envelope::Success();
  pugi::xml_node items = answer.body().append_child("items");
  std::unordered_set<std::string> answered;
  for (const pugi::xml_node item : doc.document_element().children("item")) {
    pugi::xml_node value = item.child("hashvalue");
    if (!value) value = item.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
    const std::string hashId = Trim(value.child_value());
    if (hashId.empty() || !answered.insert(hashId).second) continue;
    // 400 tells the client to skip a file it could not hash ("invalidhashvalue") instead of
    // registering an upload it cannot make.
    const int state = !IsHashId(hashId) ? 400 : own.count(hashId) ? 200 : objects_->Has(hashId) ? 204 : 404;
    pugi::xml_node node = items.append_child("item");
    Envelope::AddText(node, "hashvalue", hashId);
    Envelope::AddText(node, "code", std::to_string(state));
  }
  return answer;
}

Envelope Locker::Prefill(const Form& form, const User& user) {
  const FormField* file = form.Find("filedata");
  if (!file) return MissingField("filedata");
  pugi::xml_document doc;
  if (!doc.load_buffer(file->value.data(), file->value.size()) ||
      std::string_view(doc.document_element().name()) != "playlists")
    return Envelope::Failure(code::kBadDocument, "\"filedata\" is not a playlist document");
  Envelope answer = Envelope::Success();
  pugi::xml_node stored = answer.body().append_child("playlists");
  for (const pugi::xml_node group : doc.document_element().children("playlist")) {
    for (const pugi::xml_node entry : group.children("item")) {
      const std::string name = entry.child("Name").child_value();
      if (name.empty()) continue;
      std::vector<std::string> hashIds;
      for (const pugi::xml_node hash : entry.child("items").children("item")) {
        const std::string hashId = Trim(hash.child_value());
        if (!hashId.empty()) hashIds.push_back(hashId);
      }
      const Playlist playlist = library_->ReplacePlaylist(user.name, name, hashIds);
      pugi::xml_node node = stored.append_child("playlist");
      Envelope::AddText(node, "name", playlist.name);
      Envelope::AddText(node, "entrykey", playlist.entryKey);
      Envelope::AddText(node, "itemcount", std::to_string(playlist.hashIds.size()));
    }
  }
  return answer;
}

Envelope Locker::TransmitFile(const Form& form, const User& user) {
  const std::string hashId = Trim(form.Text("hashvalue"));
  if (hashId.empty()) return MissingField("hashvalue");
  if (!IsHashId(hashId)) return Envelope::Failure(code::kBadDocument, "\"hashvalue\" is not a hash id");
  if (!objects_->Has(hashId))
    return Envelope::Failure(code::kNotFound, "The content of this file is not stored; send it with items/add");
  ItemMetadata meta;
  if (const FormField* metainfo = form.Find("metainfo")) {
    const auto parsed = ParseItemMetadata(metainfo->value);
    if (!parsed) return Envelope::Failure(code::kBadDocument, "\"metainfo\" is not an item metadata document");
    meta = *parsed;
  } else if (const auto existing = library_->ItemByHash(user.name, hashId)) {
    meta = existing->meta;
  }
  if (meta.size.empty()) meta.size = std::to_string(objects_->SizeOf(hashId).value_or(0));
  const LibraryItem item = library_->PutItem(user.name, hashId, meta);
  const std::string playlist = form.Text("playlistname");
  if (!playlist.empty()) library_->AddToPlaylist(user.name, playlist, hashId);
  Envelope answer = Envelope::Success();
  Envelope::AddText(answer.body(), "entrykey", item.entryKey);
  Envelope::AddText(answer.body(), "hashvalue", hashId);
  return answer;
}

Envelope Locker::ItemsAdd(const Form& form, const User& user, const Request& request) {
  // The client announces the file's hash id only in the metadata it posts with the bytes; a
  // "hashvalue" here is accepted too and checked the same way.
  const std::string announced = Trim(form.Text("hashvalue"));
  if (!announced.empty() && !IsHashId(announced))
    return Envelope::Failure(code::kBadDocument, "\"hashvalue\" is not a hash id");
  const std::string location = NewUploadAddress(user.name, form.Text("playlistname"), announced, PublicBase(request));
  Envelope answer = Envelope::Success();
  Envelope::AddText(answer.body(), "location", location);
  return answer;
}

Envelope Locker::SendInvitation(const Form& form, const User& user) {
  const std::string email = Trim(form.Text("email"));
  if (!LooksLikeEmail(email)) return Envelope::Failure(code::kBadDocument, "Not an e-mail address");
  library_->AddInvitation(user.name, email);
  return Envelope::Success();
}

} // namespace velmora::locker
