#pragma once
// The service's web pages that the program opens in the browser. They always live on the built-in
// web host: "/stage" moves only the API requests.

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

} // namespace velmora
