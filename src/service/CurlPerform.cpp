#include "service/CurlHandles.h"

#include <algorithm>

namespace velmora::curl {
namespace {

// As curl_easy_perform answers a failure of its own multi handle.
CURLcode FromMulti(CURLMcode code) {
  return code == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_BAD_FUNCTION_ARGUMENT;
}

} // namespace

CURLcode Perform(CURL* easy, CURLM* multi, const std::function<void()>& pump, std::exception_ptr& error) {
  if (!multi && !pump) return curl_easy_perform(easy);
  Multi own;
  if (!multi) {
    own.reset(curl_multi_init());
    if (!own) return CURLE_OUT_OF_MEMORY;
    multi = own.get();
  }
  // A handle already in transfer (a request from a pump inside its own) is refused here.
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  struct Added {
    CURLM* multi;
    CURL* easy;
    ~Added() { curl_multi_remove_handle(multi, easy); }
  } added{multi, easy};

  using Clock = std::chrono::steady_clock;
  Clock::time_point pumpDue = Clock::now() + kPumpInterval;
  for (;;) {
    int running = 0;
    CURLMcode code = curl_multi_perform(multi, &running);
    if (code != CURLM_OK) return FromMulti(code);
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) return message->data.result;
    }
    // Without a pump, as long as curl_easy_perform waits.
    int waitMs = 1000;
    if (pump) {
      if (Clock::now() >= pumpDue) {
        if (!Guarded(error, false, [&] {
              pump();
              return true;
            })) {
          return CURLE_ABORTED_BY_CALLBACK;
        }
        pumpDue = Clock::now() + kPumpInterval;
      }
      const auto untilDue = std::chrono::duration_cast<std::chrono::milliseconds>(pumpDue - Clock::now());
      waitMs = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(untilDue.count(), 0, kPumpInterval.count()));
    }
    code = curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
    if (code != CURLM_OK) return FromMulti(code);
  }
}

} // namespace velmora::curl
