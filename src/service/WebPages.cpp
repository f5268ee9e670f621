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

std::string ServiceSiteUrl(const std::string& baseUrl) {
  const std::size_t scheme = baseUrl.find("://");
  const std::size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t path = baseUrl.find('/', hostStart);
  const std::string site = baseUrl.substr(0, path);
  return scheme == std::string::npos ? "http://" + site : site;
}

std::string GoToMenuText(const std::string& baseUrl) {
  const std::string site = ServiceSiteUrl(baseUrl);
  return "Go to " + site.substr(site.find("://") + 3);
}

} // namespace velmora
