// The pure text pieces of the FTP login: recognising the end of a reply and
// formatting the USER and PASS lines.
#include <cstdio>
#include <cstring>

#include "engine/decimal.h"
#include "engine/ftp/ftp_layer.h"

namespace torvane::engine {
namespace {

// "NNN " at data[at]: the final line of a reply starts here.
bool final_line_at(const char* data, std::size_t len, std::size_t at) {
  const std::string_view line(data + at, len - at);
  std::size_t end = 0;
  std::uint64_t code = 0;
  return read_decimal(line, end, 999, code) && end == 3 && end < line.size() && line[end] == ' ';
}

}  // namespace

bool ftp_reply_complete(const char* data, std::size_t len) {
  if (data == nullptr || len == 0) return false;
  if (final_line_at(data, len, 0)) return true;
  std::size_t i = 0;
  while (i < len) {
    if (data[i] != '\r' && data[i] != '\n') {
      ++i;
      continue;
    }
    // A line starts after the whole run of line-end bytes, so blank lines
    // and bare CR or LF endings all lead to the same test.
    while (i < len && (data[i] == '\r' || data[i] == '\n')) ++i;
    if (i < len && final_line_at(data, len, i)) return true;
  }
  return false;
}

int ftp_format_command(const char* verb, const char* login,
                       char (&line)[TVN_FTP_COMMAND_CAPACITY]) {
  line[0] = '\0';
  if (verb == nullptr || login == nullptr) return -1;
  // CR or LF would end the command early and let the rest of the login
  // text be read as a second command of the caller's choosing.
  if (std::strpbrk(login, "\r\n") != nullptr) return -1;
  const int n = std::snprintf(line, sizeof line, "%s %s\r\n", verb, login);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof line) {
    // Never send a cut line: it would carry a wrong login text.
    line[0] = '\0';
    return -1;
  }
  return n;
}

}  // namespace torvane::engine
