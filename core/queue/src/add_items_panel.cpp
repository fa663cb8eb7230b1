#include "core/queue/add_items_panel.h"

#include "core/queue/item_settings.h"
#include "core/text/number_text.h"
#include "core/text/pattern_expand.h"
#include "core/text/text_util.h"
#include "core/text/url_parse.h"

namespace torvane {

namespace {

// Only these exact prefixes: a URL typed in capitals stays in the box.
constexpr std::string_view kUrlPrefix = "http://";
constexpr std::string_view kTlsUrlPrefix = "https://";
constexpr std::string_view kPieceEnd = "\r\n";

int register_one(DownloadManager& manager, PanelTarget target, std::string_view url) {
  return manager.register_item(target.division, target.folder, url);
}

}  // namespace

int register_url_box(DownloadManager& manager, AddItemsHistory& history, PanelTarget target,
                     std::string_view url) {
  add_history_entry(history.save_list, target.folder, HistoryEnd::kTop);
  add_history_entry(history.url_list, url, HistoryEnd::kTop);
  if (!target.complete() || (!url.starts_with(kUrlPrefix) && !url.starts_with(kTlsUrlPrefix)))
    return -1;
  return register_one(manager, target, url);
}

int register_text_box(DownloadManager& manager, AddItemsHistory& history, PanelTarget target,
                      std::string_view text) {
  add_history_entry(history.save_list, target.folder, HistoryEnd::kTop);
  int registered = 0;
  // Only "\r\n" cuts here: a "<br>" or a lone line feed is part of the piece.
  while (true) {
    const std::size_t end = text.find(kPieceEnd);
    const std::string_view piece = text.substr(0, end);
    if (!piece.empty() && register_one(manager, target, piece) >= 0) ++registered;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + kPieceEnd.size());
  }
  return registered;
}

int register_clipboard_urls(DownloadManager& manager, AddItemsHistory& history, PanelTarget target,
                            std::string_view clipboard) {
  add_history_entry(history.save_list, target.folder, HistoryEnd::kTop);
  int registered = 0;
  if (!target.complete()) return 0;
  for (const std::string_view line : split_lines(clipboard)) {
    if (const std::optional<std::string> url = line_url(line)) {
      if (register_one(manager, target, *url) >= 0) ++registered;
    }
  }
  return registered;
}

std::string extracted_urls(std::string_view clipboard) {
  std::string out;
  for (const std::string_view line : split_lines(clipboard)) {
    if (const std::optional<std::string> url = line_url(line)) {
      out += *url;
      out += kPieceEnd;
    }
  }
  return out;
}

std::string expanded_lines(std::string_view clipboard) {
  std::string out;
  for (const std::string_view line : split_lines(clipboard)) out += expand_pattern(line);
  return out;
}

int division_position(std::string_view typed) {
  const NumberRules rules{.saturate = true};
  return static_cast<int>(parse_number(typed, 1, kMaxDivisions, rules).value_or(0));
}

}  // namespace torvane
