#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace velmora {

// A service exchange that produced no usable answer: the transport failed, the server answered
// with an HTTP error status, or the body is not a readable answer envelope.
class ApiError : public std::runtime_error {
public:
  explicit ApiError(const std::string& what, int httpStatus = 0, int transportCode = 0, std::string retryAfter = {})
      : std::runtime_error(what),
        httpStatus_(httpStatus),
        transportCode_(transportCode),
        retryAfter_(std::move(retryAfter)) {}
  // The HTTP status of an error answer; 0 when no answer arrived or it was not the problem.
  int httpStatus() const { return httpStatus_; }
  // libcurl's code (CURLcode) of a transfer that failed on the way; 0 otherwise.
  int transportCode() const { return transportCode_; }
  // The error answer's Retry-After header as sent; empty without one.
  const std::string& retryAfter() const { return retryAfter_; }

private:
  int httpStatus_;
  int transportCode_;
  std::string retryAfter_;
};

// A transfer given up after a stop request because it had stopped moving: the stop's doing, not a
// failure of the service.
class TransferAbandoned : public ApiError {
public:
  TransferAbandoned() : ApiError("Transfer abandoned: nothing moved for 10 s after the stop request") {}
};

} // namespace velmora
