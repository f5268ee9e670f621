#include "service/WebPages.h"

#include "base/BuildInfo.h"

namespace velmora {

std::string WebPageUrl(WebPage page) {
  const std::string web = std::string("http://") + build::kWebHost;
  switch (page) {
  case WebPage::Root: return web;
  case WebPage::Terms: return web + "/rd/terms/";
  case WebPage::Feedback: return std::string("http://") + build::kFeedbackHost;
  case WebPage::RequestPassword: return web + "/rd/requestpassword/?source=uploader";
  // The version parameter is sent empty on purpose: the page does not use it.
  case WebPage::Signup: return web + "/rd/signup/?source=uploaderwin32&version=";
  case WebPage::UpgradeDownload: return web + "/rd/download/uploader/win/";
  }
  return web;
}

std::string GoToMenuText() { return std::string("Go to ") + build::kWebHost; }

} // namespace velmora
