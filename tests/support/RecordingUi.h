#pragma once
// A Ui that remembers everything the engine showed, so tests can assert exact texts.

#include "base/Ui.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velmora::test {

class RecordingUi : public Ui {
public:
  struct Bar {
    std::int64_t position = 0;
    std::int64_t maximum = 0;
  };

  void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowErrorMessage(const std::string& text) override { errorMessages.push_back(text); }
  void ShowErrorDisplay(const std::string& text) override { errorDisplays.push_back(text); }
  void SetProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum) override {
    bars[bar] = {position, maximum};
    ++progressEvents;
  }
  void ProcessMessages() override {
    ++pumps;
    if (onProcessMessages) onProcessMessages();
  }
  void OpenUrl(const std::string& url) override { openedUrls.push_back(url); }
  void ViewChanged(View view) override {
    viewChanges.push_back(view);
    if (onViewChanged) onViewChanged(view);
  }

  // The status panel's current text, five leading blanks included.
  std::string status() const { return statusTexts.empty() ? std::string() : statusTexts.back(); }
  bool sawStatus(const std::string& panelText) const;

  std::vector<std::string> statusTexts;
  std::vector<std::string> messages;
  std::vector<std::string> errorMessages;
  std::vector<std::string> errorDisplays;
  std::vector<std::string> openedUrls;
  std::vector<View> viewChanges;
  std::map<ProgressBar, Bar> bars;
  int progressEvents = 0;
  int pumps = 0;
  // Runs inside each message pump: how a test clicks a button in the middle of long work.
  std::function<void()> onProcessMessages;
  // Called on every view change, as the window redraws then.
  std::function<void(View)> onViewChanged;
};

} // namespace velmora::test
