#include "RecordingUi.h"

#include <algorithm>

namespace velmora::test {

bool RecordingUi::sawStatus(const std::string& panelText) const {
  return std::find(statusTexts.begin(), statusTexts.end(), panelText) != statusTexts.end();
}

} // namespace velmora::test
