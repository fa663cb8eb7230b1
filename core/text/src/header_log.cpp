#include "core/text/header_log.h"

#include "core/text/text_util.h"
#include "torvane/torvane.h"

namespace torvane {

namespace {

// The blanks in the header titles are full-width, so the four titles line up.
std::string_view title_of(int code) {
  switch (code) {
    case TVN_NOTICE_HEAD_SENT:
      return "HTTPリクエスト(head) ";
    case TVN_NOTICE_HEAD_HEADER:
      return "HTTPヘッダ　　(head) ";
    case TVN_NOTICE_GET_SENT:
      return "HTTPリクエスト(get)/D";
    case TVN_NOTICE_GET_HEADER:
      return "HTTPヘッダ　　(get)/D";
    default:
      return {};
  }
}

}  // namespace

std::array<std::string, 3> header_log_entry(int code, int row, int slot, int div,
                                            std::string_view text) {
  const std::string_view title = title_of(code);
  if (title.empty()) return {};
  return {std::string(title) + format_text(" - (L:%d S:%d D:%d)\r\n", row, slot, div),
          std::string(text), "/* == 区切り == */\r\n"};
}

std::array<std::string, 3> header_log_note(int row, int slot, int div, std::string_view text) {
  std::string body(text);
  if (!body.ends_with("\r\n")) body += "\r\n";
  return {format_text("お知らせ - (L:%d S:%d D:%d)\r\n", row, slot, div), std::move(body),
          "/* == 区切り == */\r\n"};
}

std::size_t header_log_cut(std::size_t current, std::size_t added, std::size_t limit) {
  // The oldest text gives way in the amount of the new, so the box does not
  // empty itself at once when it fills up.
  if (current + added <= limit) return 0;
  return added < current ? added : current;
}

}  // namespace torvane
