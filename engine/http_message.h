// HTTP/1.0 request texts and response-header reading. Pure functions over
// text: the request builders return the exact bytes sent, the header reader
// takes whatever bytes have arrived so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "torvane/torvane.h"

namespace torvane::engine {

// "HEAD <target> HTTP/1.0\r\nHost: <host>\r\n\r\n"
void build_head_request(const ItemData& item, std::string& out);

// The GET of division b: open-ended Range from the division's start plus the
// bytes it already has, Host, Accept, User-Agent ("TVN" when none is given),
// Referer (the item URL itself with auto_referer 1), extra_header verbatim,
// "Connection: close" and the blank line.
void build_get_request(const ItemData& item, int b, std::string& out);

// Length of the header in `data` including its terminator: the earliest of
// "\r\n\r\n", "\n\n", "\r\r" and "\n\r\n\r". 0 while none has arrived.
std::size_t find_header_end(const char* data, std::size_t len);

// The status code behind the first space. kNoSpace when there is none,
// kNotANumber when the three characters are not digits.
constexpr int kNoSpace = -1;
constexpr int kNotANumber = -2;
int read_status_code(std::string_view header);

// The value of the header line `name` ("Location", ...), matched without
// regard to case at the start of a line and followed by ": ", up to CR or LF.
bool find_header_value(std::string_view header, std::string_view name, std::string_view& value);

// Content-Length: kLengthMissing, kLengthOk (value set), or kLengthInvalid
// when it is not a decimal number or does not fit 32 bits (4 GiB or more).
enum class LengthResult { kMissing, kOk, kInvalid };
LengthResult read_content_length(std::string_view header, std::uint32_t& value);

// First byte position of a "Content-Range: bytes A-B/C" line; false when the
// line is missing or unreadable.
bool read_content_range_start(std::string_view header, std::uint64_t& start);

}  // namespace torvane::engine
