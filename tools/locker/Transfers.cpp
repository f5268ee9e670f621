// Upload addresses (named by "items/add", one use each) and download addresses (named by
// "items/get/deliver", or an entry key for a signed-in browser).
#include <httplib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Digest.h"
#include "Handlers.h"
#include "Locker.h"

namespace velmora::locker {
namespace {

constexpr std::size_t kChunk = 256 * 1024;

// A file name safe in a Content-Disposition header.
std::string HeaderFileName(const std::string& name) {
  std::string safe;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    safe += (u < 0x20 || u >= 0x7f || c == '"' || c == '\\' || c == '/' || c == ';') ? '_' : c;
  }
  return safe.empty() ? "download" : safe;
}

} // namespace

void Locker::HandleUpload(const Request& request, Response& response, const ContentReader* reader) {
  const std::string target = "upload";
  const std::string token = request.matches[1];
  stats_.Request(target);
  LoggedRequest entry = StartLog(target, request);

  // Claim the address for this request; a failed attempt gives it back.
  std::optional<UploadTicket> ticket;
  {
    std::lock_guard lock(ticketsMutex_);
    const auto it = uploads_.find(token);
    if (it != uploads_.end() && !it->second.busy && it->second.expires >= std::chrono::steady_clock::now()) {
      it->second.busy = true;
      ticket = it->second;
    }
  }
  bool consumed = false;
  struct Release {
    Locker& locker;
    const std::string& token;
    bool claimed;
    const bool& consumed;
    ~Release() { Now(); }
    void Now() {
      if (!claimed) return;
      claimed = false;
      std::lock_guard lock(locker.ticketsMutex_);
      const auto it = locker.uploads_.find(token);
      if (it == locker.uploads_.end()) return;
      if (consumed) locker.uploads_.erase(it);
      else it->second.busy = false;
    }
  };
  Release release{*this, token, ticket.has_value(), consumed};

  const auto reply = [&](int httpStatus, const Envelope& envelope, std::optional<std::uint64_t> cutAfter,
                         const std::string& outcome) {
    Answer(request, response, envelope, cutAfter, httpStatus);
    entry.httpStatus = httpStatus;
    entry.code = envelope.errorCode();
    if (entry.outcome.empty()) entry.outcome = outcome;
    if (httpStatus >= 400 || !envelope.success()) stats_.Failure(target);
    requests_.Add(std::move(entry));
  };

  std::unique_ptr<ObjectStore::Incoming> incoming;
  bool tooLarge = false;
  bool diskFailed = false;
  FormHooks hooks;
  hooks.spoolField = "filedata";
  if (ticket) {
    incoming = objects_->Begin();
    hooks.spool = [&](const char* data, std::size_t size) {
      if (incoming->size() + size > options_.maxUploadBytes) return !(tooLarge = true);
      if (!incoming->Write(data, size)) return !(diskFailed = true);
      return true;
    };
  } else {
    hooks.spool = [](const char*, std::size_t) { return true; }; // read and drop, so the refusal arrives
  }
  const std::optional<Fault> cut = ticket ? faults_.Take(target, false, true) : std::nullopt;
  if (cut) hooks.cutAfter = cut->bytes;
  const FormResult read = ReadForm(request, reader, FormLimits{}, hooks);
  LogFields(entry, read.form);

  if (read.status == FormStatus::Cut) {
    stats_.Fault(target);
    Sleep(cut->delayMs);
    // Clean up before the peer learns of the cut, so it never sees a fragment or a busy address.
    incoming.reset();
    release.Now();
    CutConnection(EndpointsOf(request));
    response.status = 500;
    response.set_header("Connection", "close");
    entry.outcome = "fault:cut-upload";
    requests_.Add(std::move(entry));
    return;
  }
  if (tooLarge) {
    response.set_header("Connection", "close");
    return reply(413,
                 Envelope::Failure(code::kUploadTooLarge,
                                   "The file is larger than " + std::to_string(options_.maxUploadBytes) + " bytes"),
                 std::nullopt, "failed");
  }
  if (diskFailed)
    return reply(507, Envelope::Failure(code::kInternal, "The service could not write the file"), std::nullopt,
                 "failed");
  if (read.status == FormStatus::Malformed || read.status == FormStatus::Aborted) {
    response.set_header("Connection", "close");
    return reply(400, Envelope::Failure(code::kMalformed, "The form data could not be read: " + read.error),
                 std::nullopt, "malformed");
  }
  if (!ticket)
    return reply(404, Envelope::Failure(code::kBadUploadAddress, "This upload address is unknown, expired or used"),
                 std::nullopt, "failed");

  std::optional<std::uint64_t> cutAfter;
  if (const std::optional<Fault> fault = faults_.Take(target, false, false)) {
    if (ApplyFault(*fault, request, response, entry, cutAfter)) {
      entry.httpStatus = response.status;
      if (response.status >= 400 || fault->kind == FaultKind::Fail) stats_.Failure(target);
      requests_.Add(std::move(entry));
      return;
    }
  }

  if (read.status == FormStatus::TooLarge)
    return reply(400, Envelope::Failure(code::kTooLarge, read.error), cutAfter, "failed");
  const FormField* file = read.form.Find("filedata");
  if (!file || !file->spooled)
    return reply(400, Envelope::Failure(code::kMissingField, "Missing field \"filedata\""), cutAfter, "failed");

  // The address is the credential; identity fields, when sent, must agree with it.
  if (read.form.Has("appkey") && read.form.Text("appkey") != kAppKey)
    return reply(403, Envelope::Failure(code::kBadAppKey, "Invalid application key"), cutAfter, "failed");
  if (read.form.Has("username")) {
    const auto user = library_->FindUser(read.form.Text("username"));
    if (!user || !EqualsNoCase(user->name, ticket->user) || user->passwordMd5 != read.form.Text("hashpassword"))
      return reply(403, Envelope::Failure(code::kBadLogin, "Invalid username or password"), cutAfter, "failed");
  }

  std::optional<ItemMetadata> meta;
  if (const FormField* metainfo = read.form.Find("metainfo")) {
    meta = ParseItemMetadata(metainfo->value);
    if (!meta)
      return reply(400, Envelope::Failure(code::kBadDocument, "\"metainfo\" is not an item metadata document"),
                   cutAfter, "failed");
  }
  std::string announced = meta ? meta->hashValue : std::string();
  if (announced.empty()) announced = ticket->announcedHash;
  if (announced.empty()) announced = Trim(read.form.Text("hashvalue"));

  const std::optional<std::string> hashId = incoming->Finish();
  if (!hashId)
    return reply(507, Envelope::Failure(code::kInternal, "The service could not write the file"), cutAfter, "failed");
  if (!announced.empty() && announced != *hashId)
    return reply(422,
                 Envelope::Failure(code::kHashMismatch, "The received file has the hash id " + *hashId + ", not " +
                                                            announced + "; nothing was stored"),
                 cutAfter, "failed");

  objects_->Commit(*incoming, *hashId);
  ItemMetadata stored;
  if (meta) {
    stored = *meta;
  } else if (const auto existing = library_->ItemByHash(ticket->user, *hashId)) {
    stored = existing->meta;
  } else {
    stored.name = FileStem(file->filename);
    stored.location = file->filename;
  }
  if (stored.size.empty()) stored.size = std::to_string(file->size);
  const LibraryItem item = library_->PutItem(ticket->user, *hashId, stored);
  const std::string playlist = read.form.Has("playlistname") ? read.form.Text("playlistname") : ticket->playlist;
  if (!playlist.empty()) library_->AddToPlaylist(ticket->user, playlist, *hashId);
  consumed = true;

  Envelope answer = Envelope::Success();
  Envelope::AddText(answer.body(), "entrykey", item.entryKey);
  Envelope::AddText(answer.body(), "hashvalue", *hashId);
  Envelope::AddText(answer.body(), "size", std::to_string(file->size));
  reply(200, answer, cutAfter, "ok");
}

void Locker::HandleDownload(const Request& request, Response& response) {
  const std::string target = "download";
  const std::string key = request.matches[1];
  stats_.Request(target);

  std::string hashId, fileName;
  {
    std::lock_guard lock(ticketsMutex_);
    const auto it = downloads_.find(key);
    if (it != downloads_.end() && it->second.expires >= std::chrono::steady_clock::now()) {
      hashId = it->second.hashId;
      fileName = it->second.fileName;
    }
  }
  if (hashId.empty()) {
    // A signed-in browser may fetch its own items by entry key.
    if (const auto user = SessionUser(request)) {
      if (const auto item = library_->ItemByKey(key); item && EqualsNoCase(item->user, *user)) {
        hashId = item->hashId;
        fileName = item->meta.name.empty() ? item->hashId : item->meta.name;
      }
    }
  }
  if (hashId.empty()) {
    stats_.Failure(target);
    response.status = 404;
    response.set_content("This download address is unknown or has expired.\n", "text/plain");
    return;
  }

  LoggedRequest entry = StartLog(target, request);
  std::optional<std::uint64_t> cutAfter;
  if (const std::optional<Fault> fault = faults_.Take(target, false, false)) {
    const bool answered = ApplyFault(*fault, request, response, entry, cutAfter);
    if (answered) {
      if (response.status >= 400 || fault->kind == FaultKind::Fail) stats_.Failure(target);
      return;
    }
  }

  const int fd = ::open(objects_->PathOf(hashId).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    if (fd >= 0) ::close(fd);
    stats_.Failure(target);
    response.status = 404;
    response.set_content("The content of this item is not stored.\n", "text/plain");
    return;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  const std::uint64_t limit = cutAfter.value_or(size);
  const Endpoints ends = EndpointsOf(request);
  response.set_header("Content-Disposition", "attachment; filename=\"" + HeaderFileName(fileName) + ".mp3\"");
  response.set_content_provider(
      static_cast<std::size_t>(size), "audio/mpeg",
      [fd, limit, ends, buffer = std::make_shared<std::vector<char>>(kChunk)](std::size_t offset, std::size_t length,
                                                                              httplib::DataSink& sink) {
        if (offset >= limit) {
          CutConnection(ends);
          return false;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>({kChunk, length, limit - offset}));
        const ssize_t n = ::pread(fd, buffer->data(), want, static_cast<off_t>(offset));
        if (n <= 0) return false; // the file shrank or failed: the peer sees a short answer, never a padded one
        return sink.write(buffer->data(), static_cast<std::size_t>(n));
      },
      [fd](bool) { ::close(fd); });
}

} // namespace velmora::locker
