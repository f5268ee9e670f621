#include "app/Login.h"

#include "app/Engine.h"
#include "app/SystemFacts.h"
#include "app/WebPages.h"
#include "restore/ServicePlaylists.h"
#include "service/CallService.h"

namespace velmora {

bool performLogin(Engine& engine) {
  const ActivityScope activity = engine.BeginActivity(Activity::LoggingIn);
  if (!activity) return engine.IsLoggedIn();
  engine.ShowStatus("Trying to connect to server ...");
  FormData form;
  form.AddText("_instancename", InstanceName());
  const TWSReturnData data = CallService(engine, "user/checkaccess", std::move(form), true, kCouldNotConnect);

  if (data.Success) {
    LoadPlaylists(engine);
    engine.ShowStatus("Logged in successfully");
    engine.SetLoggedIn();
    engine.SetCaption(engine.Caption() + " (" + engine.UserName + ")");
  } else if (data.ErrorCode == kUpgradeRequiredCode) {
    engine.ui().ShowMessage("There is an important upgrade available for this uploader program. "
                            "You will now be redirected to the download page.");
    engine.ui().OpenUrl(WebPageUrl(WebPage::UpgradeDownload));
  } else {
    engine.ForgetRefusedCredentials();
    engine.ShowStatus("Login failed");
    engine.ui().ShowErrorMessage("Could not connect to server - error " + std::to_string(data.ErrorCode) +
                                 " (details: " + data.ErrorMessage + ")");
  }
  return engine.IsLoggedIn();
}

bool Logout(Engine& engine) {
  const ActivityScope activity = engine.BeginActivity(Activity::LoggingIn);
  if (!activity) return false;
  engine.UserName.clear();
  engine.Password.clear();
  engine.SaveSettings();
  engine.ui().ShowMessage("Please restart the program.");
  return true;
}

} // namespace velmora
