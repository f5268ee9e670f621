// Fuzzes the answer envelope: any body gives ApiError or a result that carries the body whole,
// and the saved response file always has CR LF line ends only.

#include "FuzzHome.h"
#include "service/ApiError.h"
#include "service/ApiResult.h"

using namespace velmora;

namespace {

void CheckCrLfOnly(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') fuzz::Check(i + 1 < text.size() && text[i + 1] == '\n');
    if (text[i] == '\n') fuzz::Check(i > 0 && text[i - 1] == '\r');
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Home();
  fuzz::CleanWorkFolderNowAndThen();
  const std::string body(reinterpret_cast<const char*>(data), size);
  CheckCrLfOnly(WithCrLfLines(body));
  try {
    const ServiceReply result = ParseApiResult(body);
    fuzz::Check(result.ResponseText == body);
  } catch (const ApiError&) {
  }
  return 0;
}
