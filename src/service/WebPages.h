#pragma once
// The service's web pages that the program opens in the browser. The sign-up, password, terms and
// feedback pages always live on the built-in web host; the site itself ("Go to ...", "Switch to
// Velmora Online now ...") is where the API requests go, so "/stage" moves it too.

#include <string>

namespace velmora {

enum class WebPage {
  Root,            // "Go to ..." menu item, "Switch to Velmora Online now ..."
  Terms,           // "Terms & Conditions" in the about box
  Feedback,        // "Please provide us with Feedback": the separate feedback host
  RequestPassword, // "You don't know your password?" in the login dialog
  Signup,          // "Signup now for free!" in the login dialog
  UpgradeDownload, // the forced upgrade answer at login
};

// The full "http://" address of the page.
std::string WebPageUrl(WebPage page);
// The File menu's first item: "Go to " + the web host.
std::string GoToMenuText();
// The site of the service whose API base is `baseUrl` ("http://HOST/..." gives "http://HOST"),
// and the menu item that opens it ("Go to HOST").
std::string ServiceSiteUrl(const std::string& baseUrl);
std::string GoToMenuText(const std::string& baseUrl);

} // namespace velmora
