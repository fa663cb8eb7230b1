// Shared text scanning: line ends (with "<br>" counted as one), bounded and
// case-insensitive searches, the n-th occurrence of a character, a bounded
// copy, and the line splitter built from them.
//
// Texts are 8-bit and scanned byte by byte. Positions are offsets into the
// given view; kNone means "not found". None of these keeps state; any thread
// may call them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

inline constexpr std::size_t kNone = std::string_view::npos;

// Offset of the first "\r\n" or "<br>" (this case only), whichever is first.
std::size_t line_end(std::string_view text);

// Offset of the first byte after the leading run of CR, LF and "<br>", or
// kNone when the text ends within that run.
std::size_t skip_line_breaks(std::string_view text);

// First offset among the first `count` offsets of `data` where the whole
// `pattern` follows. The match may reach beyond `count` but never beyond the
// view. kNone when the pattern is empty or count is 0 or less.
std::size_t find_text(std::string_view data, std::string_view pattern, long count);

// As find_text, but after the first byte (compared exactly) the pattern is
// compared without regard to ASCII letter case.
std::size_t find_text_ci(std::string_view data, std::string_view pattern, long count);

// Offset of the n-th `c` (counting from 1), or kNone when there are fewer
// or n is less than 1.
std::size_t find_nth_char(std::string_view text, char c, int n);

// Copies `source` up to and including its NUL, at most n bytes; when n bytes
// went without a NUL, a NUL follows them (`destination` holds n + 1 bytes).
// Returns `destination`.
char* copy_bounded(char* destination, const char* source, std::size_t n);

// True when `text` holds a control byte (below 0x20, or DEL): a text with one
// cannot go into a request line as it stands.
bool has_control_char(std::string_view text);

// The header a request line named `name` (any case) would set that every
// request of a download sets itself ("Range", "If-Range", "Host",
// "Connection", in that spelling); none for any other name. A second such
// line would contradict the request's own.
std::optional<std::string_view> request_own_header(std::string_view name);

// printf into a string that is as long as the text needs.
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The lines of `text`: a line ends at "\r\n" or "<br>" (or the text's end)
// and the run of CR, LF and "<br>" after it is passed over, so empty lines
// yield nothing. A lone CR or LF inside a line stays in it. The views point
// into `text`.
std::vector<std::string_view> split_lines(std::string_view text);

}  // namespace torvane
