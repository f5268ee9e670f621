#include "base/RateTimetable.h"

#include "base/TransferRate.h"

#include <algorithm>
#include <cstdio>

namespace velmora {
namespace {

// "H:MM" or "HH:MM", 00:00 to 23:59.
std::optional<int> ParseTimeOfDay(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon < 1 || colon > 2 || text.size() != colon + 3) return std::nullopt;
  int hours = 0, minutes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == colon) continue;
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    int& part = i < colon ? hours : minutes;
    part = part * 10 + (text[i] - '0');
  }
  if (hours > 23 || minutes > 59) return std::nullopt;
  return hours * 60 + minutes;
}

std::optional<std::int64_t> ParseRateOrOff(std::string_view text) {
  if (text == "off" || text == "OFF" || text == "Off") return 0;
  return ParseTransferRate(text);
}

std::string Quoted(std::string_view entry) { return "\"" + std::string(entry) + "\""; }

} // namespace

RateTimetable::RateTimetable(std::vector<Switch> switches) : switches_(std::move(switches)) {
  std::sort(switches_.begin(), switches_.end(),
            [](const Switch& a, const Switch& b) { return a.minuteOfDay < b.minuteOfDay; });
}

std::int64_t RateTimetable::RateAt(int minuteOfDay) const {
  if (switches_.empty()) return allDay_;
  // The last switch at or before the minute; before the first one, yesterday's last still holds.
  const auto after = std::upper_bound(switches_.begin(), switches_.end(), minuteOfDay,
                                      [](int minute, const Switch& s) { return minute < s.minuteOfDay; });
  return after == switches_.begin() ? switches_.back().bytesPerSecond : std::prev(after)->bytesPerSecond;
}

std::int64_t RateTimetable::RateAtTime(std::time_t when) const {
  if (switches_.empty()) return allDay_;
  std::tm local{};
  if (!::localtime_r(&when, &local)) return allDay_;
  return RateAt(local.tm_hour * 60 + local.tm_min);
}

std::string RateTimetable::Text() const {
  if (switches_.empty()) return FormatTransferRate(allDay_);
  std::string text;
  for (const Switch& s : switches_) {
    char time[8];
    std::snprintf(time, sizeof time, "%02d:%02d", s.minuteOfDay / 60 % 24, s.minuteOfDay % 60);
    if (!text.empty()) text += ' ';
    text += time;
    text += ',';
    text += s.bytesPerSecond > 0 ? FormatTransferRate(s.bytesPerSecond) : "off";
  }
  return text;
}

ParsedRateTimetable ParseRateTimetable(std::string_view text) {
  std::vector<std::string_view> entries;
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] == ' ' || text[at] == '\t') {
      ++at;
      continue;
    }
    const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
    entries.push_back(text.substr(at, end - at));
    at = end;
  }
  if (entries.empty()) return {std::nullopt, "no rate: give bytes per second (500K, 1M) or a timetable (08:00,512K 23:00,off)"};
  if (entries.size() == 1 && entries[0].find(',') == std::string_view::npos) {
    if (const auto rate = ParseRateOrOff(entries[0])) return {RateTimetable(*rate), {}};
    return {std::nullopt, Quoted(entries[0]) + " is not a rate: give bytes per second, e.g. 500K, 1M or 2G"};
  }
  std::vector<RateTimetable::Switch> switches;
  for (const std::string_view entry : entries) {
    const std::size_t comma = entry.find(',');
    if (comma == std::string_view::npos) {
      return {std::nullopt, Quoted(entry) + " is no switch of the timetable: give TIME,RATE such as 08:00,512K"};
    }
    const auto minute = ParseTimeOfDay(entry.substr(0, comma));
    if (!minute) return {std::nullopt, Quoted(entry) + ": the time of day is not HH:MM from 00:00 to 23:59"};
    const auto rate = ParseRateOrOff(entry.substr(comma + 1));
    if (!rate) return {std::nullopt, Quoted(entry) + ": the rate is not bytes per second (500K, 1M, 2G) or off"};
    if (std::any_of(switches.begin(), switches.end(), [&](const auto& s) { return s.minuteOfDay == *minute; })) {
      return {std::nullopt, Quoted(entry) + ": this time of day is already in the timetable"};
    }
    switches.push_back({*minute, *rate});
  }
  return {RateTimetable(std::move(switches)), {}};
}

} // namespace velmora
