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
  const auto checkAccess = [this] {
    FormData form;
    form.AddText("_instancename", InstanceName());
    return service_.Call("user/checkaccess", std::move(form), true, kCouldNotConnect);
  };
  ServiceReply data = checkAccess();
  if (!data.Success && data.ErrorCode != kUpgradeRequiredCode && TakeFilePasswordInReserve()) data = checkAccess();
  if (data.Success) {
    LoadServicePlaylists();
    ShowStatus("Logged in successfully");
    SetLoggedIn();
    // A password the settings file held is confirmed now: it moves to the keyring, if there is
    // one. A stale copy the file kept beside the keyring's confirmed one goes.
    const bool filePasswordConfirmed =
        passwordAwaitsLogin_ && userName() == storedUserName_ && password() == storedPassword_;
    const bool staleCopyGoes = filePasswordInReserve_.has_value();
    passwordAwaitsLogin_ = false;
    filePasswordInReserve_.reset();
    if (filePasswordConfirmed || staleCopyGoes) SaveSettings();
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

bool Engine::TakeFilePasswordInReserve() {
  if (!filePasswordInReserve_ || userName() != storedUserName_ || password() != storedPassword_) return false;
  storedPassword_ = std::move(*filePasswordInReserve_);
  filePasswordInReserve_.reset();
  passwordAwaitsLogin_ = true;
  service_.setCredentials(storedUserName_, storedPassword_);
  return true;
}

bool Engine::Logout() {
  const ActivityScope activity = BeginActivity(Activity::LoggingIn);
  if (!activity) return false;
  service_.setCredentials({}, {});
  forgetStoredPassword_ = true;
  forgetEveryHost_ = true;
  SaveSettings();
  ui_.ShowMessage("Please restart the program.");
  return true;
}

} // namespace velmora
