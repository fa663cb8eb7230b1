#include "core/queue/history_writer.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "core/text/local_time_text.h"
#include "core/text/number_text.h"
#include "core/text/progress_text.h"
#include "core/text/url_parse.h"

namespace torvane {

std::uint64_t size_from_progress(std::string_view progress) {
  std::string_view number = progress;
  if (!progress.empty() && progress.back() == ')') {
    const std::size_t slash = progress.find('/');
    if (slash == std::string_view::npos) return 0;
    number = progress.substr(slash + 1);
  }
  constexpr NumberRules kRules{.blanks = LeadingBlanks::kSpaces, .leading = true, .saturate = true};
  return static_cast<std::uint64_t>(
      parse_number(number, 0, std::numeric_limits<std::int64_t>::max(), kRules).value_or(0));
}

HistoryWriter::~HistoryWriter() {
  if (file_ != 0) platform::file_close(file_);
}

int HistoryWriter::write_entry(const ListItem& item, const Clock& clock, bool bits) {
  if (file_ == 0) {
    file_ = platform::file_open_write(path_.c_str());
    if (file_ == 0) return -1;
    const std::int64_t size = platform::file_size(file_);
    end_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  }
  std::string date;
  format_local_time(clock, kTimeSlash, date);
  std::string record = "Date: " + date + "\r\nURL: " + url_for_display(item.url) +
                       "\r\nFilename: " + item.file_name + "\tDivide: " + item.division_text +
                       "\r\nSave: " + item.save_folder + "\r\n";
  const std::uint64_t size = size_from_progress(item.progress);
  const std::uint32_t ms = clock.tick_ms() - item.start_tick;
  const std::uint32_t seconds = ms / 1000;
  // Bytes per millisecond. A download shorter than a second is measured in
  // milliseconds rather than divided by zero seconds.
  const double speed = seconds > 0 ? static_cast<double>(size) / seconds * 0.001
                                   : static_cast<double>(size) / (ms > 0 ? ms : 1);
  char size_text[32];
  std::snprintf(size_text, sizeof size_text, "%llu", static_cast<unsigned long long>(size));
  record += std::string("FileSize: ") + size_text + "\tTime: " + format_duration(seconds) +
            "\tSpeed: " + format_speed(speed, bits) + "\r\n\r\n";
  std::size_t written = 0;
  const int result = platform::file_write_at(file_, record.data(), record.size(), end_, &written);
  end_ += written;
  return result == 0 ? 0 : -1;
}

}  // namespace torvane
