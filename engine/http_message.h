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

// "HEAD <target> HTTP/1.0\r\nHost: <host>\r\n\r\n", with an Authorization
// line after Host when the URL carries a user part (url_authorization).
void build_head_request(const ItemData& item, std::string& out);

// A GET of the bytes from `start` on: open-ended Range (a division's start
// plus the bytes it already has, ItemSizes::next_byte), Host, Authorization (as for HEAD), Accept,
// User-Agent
// ("TVN" when none is given), Referer (the item URL as sent, outgoing_url,
// with auto_referer 1), extra_header verbatim but for any If-Range line (and
// any Authorization line when the URL brings its own), "If-Range:
// <if_range>" when if_range is not empty, "Connection: close" and the blank
// line.
void build_get_request(const ItemData& item, std::uint64_t start, std::string& out,
                       std::string_view if_range = {});

// `request` with the credentials of every "Authorization:" line replaced by
// "********" (its scheme word kept: "Authorization: Basic ********"), and the
// password of a URL on the request line too (url_without_password), for the
// request texts handed to the client, into `out`. False when there is
// nothing to mask (`out` then holds a plain copy).
bool mask_credentials(std::string_view request, std::string& out);

// The value of the first "If-Range" line of a client's extra header lines
// (CRLF or LF ended); false when there is none or `lines` is null.
bool find_if_range(const char* lines, std::string_view& value);

// Length of the header in `data` including its terminator: the earliest of
// "\r\n\r\n", "\n\n", "\r\r" and "\n\r\n\r". 0 while none has arrived.
std::size_t find_header_end(const char* data, std::size_t len);

// The status code behind the first space. kNoSpace when there is none,
// kNotANumber when the three characters are not digits.
constexpr int kNoSpace = -1;
constexpr int kNotANumber = -2;
int read_status_code(std::string_view header);

// The answer's status as a user reads it: "404 Not Found" as the server wrote
// it, or "HTTP 404" when it sent no text. A long text is cut to 200 bytes (at
// a character's start) and a control byte shows as '?'.
std::string status_text(std::string_view header, int code);

// The value of the header line `name` ("Location", ...), matched without
// regard to case at the start of a line and followed by ": ", up to CR or LF.
bool find_header_value(std::string_view header, std::string_view name, std::string_view& value);
// The same from the line that starts at `from`; on success `from` is moved
// past the line found, so repeated calls visit every line of that name.
bool next_header_value(std::string_view header, std::string_view name, std::size_t& from,
                       std::string_view& value);

// Content-Length: kMissing, kOk (value set), kInvalid when a value is not a
// decimal number or is above kMaxSize (2^62), or kConflict when lines (or
// the comma-separated values of one line) disagree. Equal repetitions are
// one length. A chunked answer has no length: kMissing. (kTooLarge is the
// caller's: a length it cannot take, such as a page of 4 GiB or more to be
// fetched into memory.)
enum class LengthResult { kMissing, kOk, kInvalid, kConflict, kTooLarge };
LengthResult read_content_length(std::string_view header, std::uint64_t& value);

// "Content-Range: bytes A-B/N" (N may be "*": total unknown).
struct ContentRange {
  std::uint64_t first = 0, last = 0, total = 0;
  bool total_known = false;
};
// False when the line is missing, unreadable, or B is below A or not below N.
bool read_content_range(std::string_view header, ContentRange& range);

// The body is sent in chunks (Transfer-Encoding ending in "chunked").
bool is_chunked(std::string_view header);

// What identifies the version of the file an answer holds: its strong ETag
// ("..." quoted), else its Last-Modified date; empty when it has neither.
std::string_view answer_validator(std::string_view header);
// The answer's value of the same kind as `validator` (an entity tag when it
// starts with a quote or "W/", else a date); empty when it has none.
std::string_view validator_like(std::string_view header, std::string_view validator);

// Decodes a chunked body in place, one read at a time: chunk-size lines (also
// split across reads), extensions, chunk data, the last chunk and trailers.
// Bare LF line ends are taken as CRLF.
class ChunkDecoder {
 public:
  enum class Result { kMore, kEnd, kBad };
  // Decodes the `len` bytes at `data` that follow what was decoded before,
  // moving the payload bytes among them to the front; `payload` is set to
  // their count. kEnd once the last chunk and the trailers are through
  // (bytes after them are ignored), kBad on framing that cannot be read or a
  // body of more than kMaxSize bytes; kMore while the body goes on.
  Result decode(char* data, std::size_t len, std::size_t& payload);
  bool finished() const { return state_ == State::kDone; }

 private:
  enum class State {
    kSize,
    kExtension,
    kSizeLf,
    kData,
    kDataCr,
    kDataLf,
    kTrailerStart,
    kTrailer,
    kFinalLf,
    kDone
  };
  // One character of a chunk-size line's digits (moving `in` past it unless
  // it is a bare LF). False on framing that cannot be read.
  bool take_size_char(char c, std::size_t& in);
  // The size line has ended: the chunk's data (or the trailers) come next.
  // False when the body would pass kMaxSize.
  bool start_chunk();
  // Moves the chunk's data bytes among data[in, len) to data[out...].
  void take_data(char* data, std::size_t len, std::size_t& in, std::size_t& out);

  State state_ = State::kSize;
  std::uint64_t size_ = 0, left_ = 0, total_ = 0;
  int digits_ = 0;
};

}  // namespace torvane::engine
