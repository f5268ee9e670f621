// The small web site: sign-in, the signed-in user's library, and the pages the uploader links to.
#include <httplib.h>

#include "Digest.h"
#include "Handlers.h"
#include "Locker.h"

namespace velmora::locker {
namespace {

constexpr const char* kSessionCookie = "velmora_session";
constexpr const char* kHtmlType = "text/html; charset=utf-8";

constexpr const char* kStyle = R"css(
body { font-family: "DejaVu Sans", Helvetica, Arial, sans-serif; margin: 0; background: #f4f5f7; color: #222; }
header { background: #1f3a5f; color: #fff; padding: 14px 32px; display: flex; align-items: center; justify-content: space-between; }
header h1 { font-size: 20px; margin: 0; font-weight: 600; }
header a, header button { color: #fff; }
main { max-width: 980px; margin: 24px auto; padding: 0 24px; }
section { background: #fff; border-radius: 6px; box-shadow: 0 1px 3px rgba(0,0,0,.12); padding: 18px 24px; margin-bottom: 20px; }
h2 { font-size: 17px; margin: 0 0 12px; color: #1f3a5f; }
table { border-collapse: collapse; width: 100%; font-size: 14px; }
th, td { text-align: left; padding: 6px 8px; border-bottom: 1px solid #e3e6ea; }
th { color: #555; font-weight: 600; }
tr:hover td { background: #f8f9fb; }
.muted { color: #777; }
.error { color: #a40000; background: #fdecec; padding: 8px 12px; border-radius: 4px; }
form.signin { max-width: 320px; }
form.signin label { display: block; margin: 12px 0 4px; font-size: 14px; }
form.signin input { width: 100%; padding: 7px; border: 1px solid #bbb; border-radius: 4px; box-sizing: border-box; }
button { background: #2d6cdf; color: #fff; border: 0; padding: 8px 18px; border-radius: 4px; font-size: 14px; cursor: pointer; }
header button { background: transparent; border: 1px solid #fff; padding: 4px 12px; }
details summary { cursor: pointer; }
footer { text-align: center; font-size: 12px; color: #888; margin: 24px 0; }
footer a { color: #888; margin: 0 8px; }
)css";

std::string Page(const std::string& title, const std::string& body, const std::string& headerRight = "") {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
         " - Velmora</title><style>" + kStyle + "</style></head><body><header><h1>Velmora</h1><div>" + headerRight +
         "</div></header><main>" + body +
         "</main><footer><a href=\"/\">Library</a><a href=\"/rd/terms/\">Terms</a>"
         "<a href=\"/feedback\">Feedback</a><span>velmora-locker, a local Velmora service</span></footer>"
         "</body></html>\n";
}

std::string SignInPage(const std::string& error, const std::string& user) {
  std::string body = "<section><h2>Sign in</h2>";
  if (!error.empty()) body += "<p class=\"error\">" + HtmlEscape(error) + "</p>";
  body +=
      "<form class=\"signin\" method=\"post\" action=\"/signin\">"
      "<label for=\"user\">User name</label><input id=\"user\" name=\"user\" autocomplete=\"username\" value=\"" +
      HtmlEscape(user) +
      "\"><label for=\"password\">Password</label><input id=\"password\" name=\"password\" type=\"password\" "
      "autocomplete=\"current-password\"><p><button type=\"submit\">Sign in</button></p></form>"
      "<p class=\"muted\"><a href=\"/rd/requestpassword/\">Forgot your password?</a> &middot; "
      "<a href=\"/rd/signup/\">No account yet?</a></p></section>";
  return Page("Sign in", body);
}

std::string HumanSize(const std::string& bytesText) {
  char* end = nullptr;
  const double bytes = std::strtod(bytesText.c_str(), &end);
  if (bytesText.empty() || *end != '\0' || bytes < 0) return HtmlEscape(bytesText);
  char text[32];
  if (bytes >= 1024.0 * 1024.0) std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
  else std::snprintf(text, sizeof text, "%.0f KB", bytes / 1024.0);
  return text;
}

std::string Or(const std::string& text, const char* fallback) {
  return text.empty() ? std::string("<span class=\"muted\">") + fallback + "</span>" : HtmlEscape(text);
}

std::string CookieValue(const std::string& header, const std::string& name) {
  std::size_t start = 0;
  while (start < header.size()) {
    std::size_t end = header.find(';', start);
    if (end == std::string::npos) end = header.size();
    const std::string pair = Trim(std::string_view(header).substr(start, end - start));
    if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
    start = end + 1;
  }
  return {};
}

std::string InfoPage(const std::string& title, const std::string& text) {
  return Page(title, "<section><h2>" + HtmlEscape(title) + "</h2>" + text + "</section>");
}

} // namespace

std::optional<std::string> Locker::SessionUser(const Request& request) const {
  const std::string id = CookieValue(request.get_header_value("Cookie"), kSessionCookie);
  if (id.empty()) return std::nullopt;
  std::lock_guard lock(sessionsMutex_);
  const auto it = sessions_.find(id);
  if (it == sessions_.end()) return std::nullopt;
  return it->second;
}

void Locker::WebRoutes() {
  using httplib::Request;
  using httplib::Response;
  auto& server = *server_;

  server.Get("/", [this](const Request& request, Response& response) {
    stats_.Request("web");
    const auto user = SessionUser(request);
    if (!user) return response.set_content(SignInPage("", ""), kHtmlType);
    const auto items = library_->Items(*user);
    std::string body = "<section><h2>Playlists</h2>";
    const auto playlists = library_->VisiblePlaylists(*user);
    if (playlists.empty()) body += "<p class=\"muted\">No playlists yet.</p>";
    for (const Playlist& playlist : playlists) {
      body += "<details><summary><strong>" + HtmlEscape(playlist.name) + "</strong> <span class=\"muted\">" +
              std::to_string(playlist.hashIds.size()) + " tracks" + (playlist.dynamic ? ", dynamic" : "") +
              (EqualsNoCase(playlist.user, *user) ? "" : ", shared by " + HtmlEscape(playlist.user)) +
              "</span></summary><ol>";
      for (const auto& hashId : playlist.hashIds) {
        const auto item = library_->ItemByHash(*user, hashId);
        body += item
                    ? "<li>" + Or(item->meta.artist, "Unknown artist") + " &ndash; " + Or(item->meta.name, "Untitled") +
                          "</li>"
                    : "<li class=\"muted\">not in your library (" + HtmlEscape(hashId.substr(0, 12)) + "&hellip;)</li>";
      }
      body += "</ol></details>";
    }
    body +=
        "</section><section><h2>Library <span class=\"muted\">(" + std::to_string(items.size()) + " items)</span></h2>";
    if (items.empty()) {
      body += "<p class=\"muted\">Nothing uploaded yet.</p>";
    } else {
      body +=
          "<table><tr><th>Title</th><th>Artist</th><th>Album</th><th>Genre</th><th>Size</th><th>Added</th>"
          "<th></th></tr>";
      for (const LibraryItem& item : items) {
        body += "<tr><td>" + Or(item.meta.name, "Untitled") + "</td><td>" + Or(item.meta.artist, "Unknown") +
                "</td><td>" + Or(item.meta.album, "") + "</td><td>" + HtmlEscape(item.meta.genre) + "</td><td>" +
                HumanSize(item.meta.size) + "</td><td>" + HtmlEscape(item.added.substr(0, 10)) +
                "</td><td><a href=\"/download/" + item.entryKey + "\">Download</a></td></tr>";
      }
      body += "</table>";
    }
    body += "</section>";
    const std::string signOut = "Signed in as <strong>" + HtmlEscape(*user) +
                                "</strong> <form method=\"post\" action=\"/signout\" style=\"display:inline\">"
                                "<button type=\"submit\">Sign out</button></form>";
    response.set_content(Page("Your library", body, signOut), kHtmlType);
  });

  server.Post("/signin", [this](const Request& request, Response& response) {
    stats_.Request("web");
    const std::string name = request.get_param_value("user");
    const auto user = library_->FindUser(name);
    if (!user || user->passwordMd5 != Md5UpperHex(request.get_param_value("password"))) {
      response.status = 401;
      return response.set_content(SignInPage("The user name or the password is wrong.", name), kHtmlType);
    }
    const std::string id = RandomHex(16);
    {
      std::lock_guard lock(sessionsMutex_);
      if (sessions_.size() > 10000) sessions_.clear();
      sessions_[id] = user->name;
    }
    response.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Lax");
    response.set_redirect("/", 303);
  });

  server.Post("/signout", [this](const Request& request, Response& response) {
    stats_.Request("web");
    const std::string id = CookieValue(request.get_header_value("Cookie"), kSessionCookie);
    {
      std::lock_guard lock(sessionsMutex_);
      sessions_.erase(id);
    }
    response.set_header("Set-Cookie", std::string(kSessionCookie) + "=; Path=/; Max-Age=0");
    response.set_redirect("/", 303);
  });

  const auto info = [this, &server](const std::string& pattern, std::string title, std::string text) {
    server.Get(pattern, [this, title, text](const Request&, Response& response) {
      stats_.Request("web");
      response.set_content(InfoPage(title, text), kHtmlType);
    });
  };
  info("/rd/terms/?", "Terms of use",
       "<p>This is a local Velmora service for trying the uploader. It keeps what you upload in its data "
       "folder on this computer and sends nothing anywhere else.</p>");
  info("/rd/signup/?", "Sign up",
       "<p>Accounts of this local service are made when it starts "
       "(<code>velmora-locker --user NAME:PASSWORD</code>) or through its control interface.</p>"
       "<p><a href=\"/\">Back to sign-in</a></p>");
  info("/rd/requestpassword/?", "Forgotten password",
       "<p>Passwords of this local service are set by whoever started it. Start it again with "
       "<code>--user NAME:NEWPASSWORD</code> to set a new one.</p><p><a href=\"/\">Back to sign-in</a></p>");
  info("/rd/download/uploader/win/?", "Download the uploader",
       "<p>This service asks for a newer uploader than the one you are running. Build the current version "
       "from its source tree with <code>scripts/run</code>.</p>");
  info("/feedback/?", "Feedback",
       "<p>Thank you for trying the uploader. Please note what you saw and what you expected, "
       "and pass it to the developers.</p>");
}

} // namespace velmora::locker
