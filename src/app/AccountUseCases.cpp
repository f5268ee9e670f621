// Logging in ("user/checkaccess" with the credentials in use) and logging out, each inside the one
// activity guard.

#include "app/Engine.h"

#include "base/SystemFacts.h"
#include "service/CallService.h"
#include "service/WebPages.h"

namespace velmora {

bool Engine::Login() {
  const ActivityScope activity = BeginActivity(Activity::LoggingIn);
  if (!activity) return IsLoggedIn();
  ShowStatus("Trying to connect to server ...");
  FormData form;
  form.AddText("_instancename", InstanceName());
  const ServiceReply data = service_.Call("user/checkaccess", std::move(form), true, kCouldNotConnect);
  if (data.Success) {
    LoadServicePlaylists();
    ShowStatus("Logged in successfully");
    SetLoggedIn();
    // A password the settings file held is confirmed now: it moves to the keyring, if there is one.
    const bool filePasswordConfirmed =
        passwordAwaitsLogin_ && userName() == storedUserName_ && password() == storedPassword_;
    passwordAwaitsLogin_ = false;
    if (filePasswordConfirmed) SaveSettings();
    SetCaption(Caption() + " (" + userName() + ")");
  } else if (data.ErrorCode == kUpgradeRequiredCode) {
    ui_.ShowMessage(
        "There is an important upgrade available for this uploader program. "
        "You will now be redirected to the download page.");
    ui_.OpenUrl(WebPageUrl(WebPage::UpgradeDownload));
  } else {
    ForgetRefusedCredentials();
    ShowStatus("Login failed");
    ui_.ShowErrorMessage("Could not connect to server - error " + std::to_string(data.ErrorCode) +
                         " (details: " + data.ErrorMessage + ")");
  }
  return IsLoggedIn();
}

bool Engine::Logout() {
  const ActivityScope activity = BeginActivity(Activity::LoggingIn);
  if (!activity) return false;
  service_.setCredentials({}, {});
  forgetStoredPassword_ = true;
  SaveSettings();
  ui_.ShowMessage("Please restart the program.");
  return true;
}

} // namespace velmora
