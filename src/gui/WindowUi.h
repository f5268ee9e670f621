#pragma once
// The engine's Ui on the desktop: the status panel and bars of the windows, message boxes through
// the presenter, a real event pump, and repaints of whatever part of the engine changed.

#include "base/Ui.h"

namespace velmora::gui {

class Presenter;
class Tfrmmain;

class WindowUi : public Ui {
public:
  WindowUi(Tfrmmain& window, Presenter& presenter) : window_(window), presenter_(presenter) {}

  void SetStatusText(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ShowErrorMessage(const std::string& text) override;
  void ShowErrorDisplay(const std::string& text) override;
  void SetProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum) override;
  void ProcessMessages() override;
  void OpenUrl(const std::string& url) override;
  void ViewChanged(View view) override;

private:
  Tfrmmain& window_;
  Presenter& presenter_;
};

} // namespace velmora::gui
