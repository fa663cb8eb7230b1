// The local time as text.
#include "core/text/local_time_text.h"

#include <array>
#include <cstdio>

namespace torvane {

std::string_view weekday_word(int day_of_week) {
  static constexpr std::array<std::string_view, 7> kWords = {"日", "月", "火", "水",
                                                             "木", "金", "土"};
  if (day_of_week < 0 || day_of_week >= static_cast<int>(kWords.size())) return "?";
  return kWords[static_cast<std::size_t>(day_of_week)];
}

int format_time_text(const LocalTime& time, int kind, std::string& out) {
  const std::string word(weekday_word(time.day_of_week));
  char buffer[96];
  int n = -1;
  // The fields are 16-bit, so even a corrupt record stays within the buffer.
  switch (kind) {
    case kTimeSlash:
      n = std::snprintf(buffer, sizeof buffer, "%02d/%02d(%s) %02d:%02d", time.month, time.day,
                        word.c_str(), time.hour, time.minute);
      break;
    case kTimeWords:
      n = std::snprintf(buffer, sizeof buffer, "%02d月%02d日(%s) %02d時%02d分", time.month,
                        time.day, word.c_str(), time.hour, time.minute);
      break;
    case kTimeWordsSeconds:
      n = std::snprintf(buffer, sizeof buffer, "%02d月%02d日(%s) %02d時%02d分%02d秒", time.month,
                        time.day, word.c_str(), time.hour, time.minute, time.second);
      break;
    default:
      return -1;
  }
  if (n < 0) return -1;
  out.assign(buffer);
  return 0;
}

int format_local_time(const Clock& clock, int kind, std::string& out) {
  return format_time_text(clock.local_time(), kind, out);
}

}  // namespace torvane
