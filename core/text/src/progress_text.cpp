#include "core/text/progress_text.h"

#include "core/text/text_util.h"
#include "torvane/shared_access.hpp"

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
    case 0:
      return "待機";
    case 1:
      return "接続";
    case 2:
      return "完了";
    case 3:
      return "ERR!";
    default:
      return status > 3 ? "ＤＬ" : "";
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

std::string progress_text(std::uint64_t done, std::uint64_t size) {
  const auto d = static_cast<unsigned long long>(done);
  if (size == 0) return format_text("%llu", d);
  return format_text("%llu / %llu (%d%%)", d, static_cast<unsigned long long>(size),
                     percent_of(static_cast<double>(done), static_cast<double>(size)));
}

std::optional<std::uint64_t> bytes_done(ItemData& record, WideSizes* wide, bool finished_whole,
                                        bool waiting) {
  std::int32_t* status = load_acquire(record.div_status);
  const RecordSizes sizes(record, wide);
  std::int32_t* buf_fill = load_acquire(record.disk.buf_fill);
  if (status == nullptr || !sizes.has_ranges() || buf_fill == nullptr) return std::nullopt;
  const int n = load_acquire(record.div_count);
  std::uint64_t sum = 0;
  for (int d = 0; d < (n > 0 ? n : 1); ++d) {
    if (finished_whole && load_relaxed(status[d]) == TVN_DIV_DONE) {
      sum += sizes.range_len(d);
      continue;
    }
    sum += sizes.range_done(d);
    const std::int32_t fill = load_relaxed(buf_fill[d]);
    if (waiting && fill > 0) sum += static_cast<std::uint64_t>(fill);
  }
  return sum;
}

double speed_between(std::int64_t before, std::uint64_t now, std::uint32_t elapsed_ms) {
  if (elapsed_ms == 0 || before < 0 || now < static_cast<std::uint64_t>(before)) return 0;
  return static_cast<double>(now - static_cast<std::uint64_t>(before)) / elapsed_ms;
}

std::string detail_row_text(int division, int status, int tries, int retry, std::int64_t done,
                            std::uint64_t range_len) {
  const std::string word(division_status_word(status));
  if (range_len == 0) {
    return format_text("%03d/Status:%s | Try %02d/%02d", division, word.c_str(), tries, retry);
  }
  return format_text("%03d/Status:%s | Try %02d/%02d | %lld / %llu (%d%%)", division, word.c_str(),
                     tries, retry, static_cast<long long>(done),
                     static_cast<unsigned long long>(range_len),
                     percent_of(static_cast<double>(done), static_cast<double>(range_len)));
}

}  // namespace torvane
