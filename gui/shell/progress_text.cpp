#include "gui/shell/progress_text.h"

#include "gui/extras/text_util.h"

namespace torvane {

namespace {

// done * 100 / size in floating point, truncated; 0 for an unknown size.
int percent_of(double done, double size) {
  if (size <= 0) return 0;
  return static_cast<int>(done * 100.0 / size);
}

}  // namespace

std::string_view item_state_word(int state) {
  static constexpr std::string_view kWords[] = {"待機",     "初期化", "接続中", "DL(Head)",
                                                "DL(File)", "完了",   "ERR!",   "休憩"};
  if (state < 0 || state > 7) return {};
  return kWords[state];
}

std::string_view division_status_word(int status) {
  switch (status) {
    case 0: return "待機";
    case 1: return "接続";
    case 2: return "完了";
    case 3: return "ERR!";
    default: return status > 3 ? "ＤＬ" : "";
  }
}

std::string format_speed(double x, bool bits) {
  const double y = bits ? 8.0 * x : x;
  const char* const units[] = {bits ? "bps" : "byte/s", bits ? "Kbps" : "Kbyte/s",
                               bits ? "Mbps" : "Mbyte/s", bits ? "Gbps" : "Gbyte/s"};
  const auto text = [](double value, const char* unit) {
    return format_text("%4.1f%s", value, unit);
  };
  if (y <= 1.0) return text(1000.0 * y, units[0]);
  if (y <= 1000.0) return text(y, units[1]);
  const double z = y / 1000.0;
  if (z <= 1000.0) return text(z, units[2]);
  return text(z / 1000.0, units[3]);
}

std::string progress_text(std::uint32_t done, std::uint32_t size) {
  const auto d = static_cast<unsigned long>(done);
  if (size == 0) return format_text("%lu", d);
  return format_text("%lu / %lu (%d%%)", d, static_cast<unsigned long>(size),
                     percent_of(done, size));
}

std::string detail_row_text(int division, int status, int tries, int retry, std::int64_t done,
                            std::uint32_t range_len) {
  const std::string word(division_status_word(status));
  if (range_len == 0) {
    return format_text("%03d/Status:%s | Try %02d/%02d", division, word.c_str(), tries, retry);
  }
  return format_text("%03d/Status:%s | Try %02d/%02d | %ld / %ld (%d%%)", division, word.c_str(),
                     tries, retry, static_cast<long>(done), static_cast<long>(range_len),
                     percent_of(static_cast<double>(done), range_len));
}

}  // namespace torvane
