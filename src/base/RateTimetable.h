#pragma once
// A speed limit that may change with the time of day: one rate all day ("1M", curl's notation, see
// TransferRate.h), or a timetable of switches "08:00,512K 18:00,2M 23:00,off" in local time. Each
// switch holds until the next; before the day's first switch the last one of the day still holds
// (so the example is unlimited from 23:00 to 08:00). "off" and "0" mean no limit.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class RateTimetable {
public:
  struct Switch {
    int minuteOfDay = 0; // 0 (00:00) to 1439 (23:59)
    std::int64_t bytesPerSecond = 0;
    bool operator==(const Switch&) const = default;
  };

  // No limit at any time.
  RateTimetable() = default;
  // One rate all day (0: no limit). Implicit: a plain rate is the common timetable.
  RateTimetable(std::int64_t bytesPerSecond) : allDay_(bytesPerSecond > 0 ? bytesPerSecond : 0) {}
  // Switches at distinct times of day, in any order; at least one.
  explicit RateTimetable(std::vector<Switch> switches);

  // Bytes per second at this minute of the day (0: no limit).
  std::int64_t RateAt(int minuteOfDay) const;
  // At this moment, in the local time zone.
  std::int64_t RateAtTime(std::time_t when) const;
  bool IsTimetable() const { return !switches_.empty(); }
  // The text Parse reads back: "1M", "0", or "08:00,512K 18:00,2M 23:00,off".
  std::string Text() const;

  friend bool operator==(const RateTimetable&, const RateTimetable&) = default;

private:
  std::int64_t allDay_ = 0;
  std::vector<Switch> switches_; // sorted by time; empty for one rate all day
};

// A timetable, or why the text is none: the first bad entry in quotes and what is wrong with it.
struct ParsedRateTimetable {
  std::optional<RateTimetable> timetable;
  std::string error;
};

// Reads one rate ("500K") or blank-separated switches "HH:MM,RATE" (RATE as curl writes it, or
// "off"). Nothing for empty text, a time outside 00:00 to 23:59, a rate that is none, or a time
// given twice.
ParsedRateTimetable ParseRateTimetable(std::string_view text);

} // namespace velmora
