#include "core/text/engine_status_text.h"

#include <string_view>

#include "core/system/record_sizes.h"
#include "core/text/text_util.h"
#include "torvane/shared_access.hpp"

namespace torvane {

namespace {

void append_thread_bits(std::string& out, std::string_view title, std::uint32_t bits) {
  out += title;
  out +=
      format_text("\r\nStop=%d\r\nStopOK=%d\r\nEnd=%d\r\nEndOK=%d\r\nEndFail=%d\r\n\r\n",
                  static_cast<int>(bits & TVN_CTL_STOP), static_cast<int>(bits & TVN_CTL_STOP_OK),
                  static_cast<int>(bits & TVN_CTL_END), static_cast<int>(bits & TVN_CTL_END_OK),
                  static_cast<int>(bits & TVN_CTL_END_FAIL));
}

// One block of per-division lines, or "readエラー" when the array is gone.
// `As` is the type the format expects, so every value reaches printf as such.
template <class As, class T>
void append_division_block(std::string& out, std::string_view title, const char* format, T* values,
                           int count) {
  out += title;
  if (values == nullptr) {
    out += "readエラー\r\n";
    return;
  }
  for (int d = 0; d < count; ++d)
    out += format_text(format, d, static_cast<As>(load_relaxed(values[d])));
}

}  // namespace

std::string thread_status_text(EngineContext& context) {
  std::string out = "Torvane スレッド情報\r\n\r\n";
  out += format_text("ウエイト=%d\r\n\r\n", load_acquire(context.wait_ms));
  append_thread_bits(out, "ダウンロードスレッド", load_acquire(context.dl_thread_ctl));
  append_thread_bits(out, "接続スレッド", load_acquire(context.conn_thread_ctl));
  return out;
}

std::string item_status_text(EngineContext& context, WideSizes* (*wide_of)(EngineContext*, int)) {
  std::string out = "アイテム情報\r\n\r\n";
  const std::uint32_t resize = load_acquire(context.resize_ctl);
  const int count = load_acquire(context.slot_count);
  out += format_text("同時ダウンロード数=%d\r\nメモリ取得済み数=%d\r\nCNGDL=%d\r\nCNGDLOK=%d\r\n",
                     load_acquire(context.max_items), count,
                     static_cast<int>(resize & TVN_RESIZE_REQUEST),
                     static_cast<int>(resize & TVN_RESIZE_DONE));
  ItemData* items = load_acquire(context.items);
  if (items == nullptr) {
    out += "\r\n致命的なエラー！アイテムがありません。\r\n";
    return out;
  }
  for (int i = 0; i < count; ++i) {
    ItemData& item = items[i];
    const int state = load_acquire(item.state);
    out += format_text("\r\nアイテム[%d]\r\nステータス=%d\r\n", i, state);
    if (state != TVN_STATE_DOWNLOADING) continue;
    const int n = load_acquire(item.div_count) > 0 ? load_acquire(item.div_count) : 1;
    append_division_block<int>(out, "ステータス\r\n", "st%.3d=%d\r\n",
                               load_acquire(item.div_status), n);
    const RecordSizes sizes(item, wide_of != nullptr ? wide_of(&context, i) : nullptr);
    out += "ファイル書込み\r\n";
    if (!sizes.has_done()) {
      out += "readエラー\r\n";
    } else {
      for (int d = 0; d < n; ++d) {
        out +=
            format_text("wf%.3d=%llu\r\n", d, static_cast<unsigned long long>(sizes.range_done(d)));
      }
    }
    append_division_block<unsigned long>(out, "バッファ\r\n", "bf%.3d=%lu\r\n",
                                         load_acquire(item.disk.buf_fill), n);
  }
  return out;
}

}  // namespace torvane
