// The shutdown time as text.
#include "core/text/set_time_text.h"

#include <cstdint>
#include <cstdio>

#include "core/text/number_text.h"

namespace torvane {
namespace {

// The value of the leading digits of the next `width` bytes; `pos` moves past
// those bytes (or to the end of the text).
std::uint16_t take_number(std::string_view text, std::size_t& pos, std::size_t width) {
  const std::string_view field = text.substr(pos, width);
  pos += field.size();
  // At most four digits: always within the field's range.
  return static_cast<std::uint16_t>(parse_number(field, 0, 9999, {.leading = true}).value_or(0));
}

}  // namespace

LocalTime parse_set_time(std::string_view text) {
  LocalTime t;
  t.year = t.month = t.day_of_week = t.day = t.hour = t.minute = t.second = kAnyTimeField;
  t.milliseconds = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    const char next = pos + 1 < text.size() ? text[pos + 1] : '\0';
    if (c == ' ' || c == ',' || c == '/' || c == ':') {
      ++pos;
    } else if (c == 'y') {
      ++pos;
      t.year = take_number(text, pos, 4);
    } else if (c == 'm' && next == 'o') {
      pos += 2;
      t.month = take_number(text, pos, 2);
    } else if (c == 'm' && next == 'i') {
      pos += 2;
      t.minute = take_number(text, pos, 2);
    } else if (c == 'd') {
      ++pos;
      t.day = take_number(text, pos, 2);
    } else if (c == 'h') {
      ++pos;
      t.hour = take_number(text, pos, 2);
    } else if (c == 's') {
      ++pos;
      t.second = take_number(text, pos, 2);
    } else {
      break;
    }
  }
  return t;
}

std::string format_set_time(const LocalTime& time) {
  std::string out;
  char buffer[16];
  auto put = [&](const char* format, std::uint16_t value) {
    if (value == kAnyTimeField) return;
    std::snprintf(buffer, sizeof buffer, format, static_cast<int>(value));
    out += buffer;
  };
  put("y%.4d ", time.year);
  put("mo%.2d ", time.month);
  put("d%.2d ", time.day);
  put("h%.2d ", time.hour);
  put("mi%.2d ", time.minute);
  put("s%.2d ", time.second);
  return out;
}

}  // namespace torvane
