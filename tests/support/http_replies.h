// Ready-made answers for the scripted server: a static resource with ranges
// (the way a file server answers HEAD and ranged GETs), plain status answers
// and redirects, and reproducible body bytes that a test can regenerate to
// compare a downloaded file with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/scripted_server.h"

namespace torvane::test {

// `size` bytes that depend on `seed` and on each byte's position, so a byte
// written at the wrong offset shows as a mismatch.
std::string pattern_bytes(std::size_t size, std::uint32_t seed = 1);

struct ResourceOptions {
  // Answer every GET with 200 and the whole body, as a server that does not
  // do ranges.
  bool ignore_ranges = false;
  // Send no Content-Length (HEAD and GET alike).
  bool omit_length = false;
  // The version of the content: sent as ETag when it is quoted, else as
  // Last-Modified. A ranged GET whose If-Range names another one gets 200
  // and the whole body, as HTTP has it.
  std::string validator{};
};

// Serves `content` like a static file. HEAD: the header alone with the
// Content-Length. GET without Range: 200 and the whole body. GET with
// "bytes=N-": 206 with Content-Range and the rest from N; a start at or past
// the end: 416.
HttpReply resource_reply(const HttpRequest& request, std::shared_ptr<const std::string> content,
                         const ResourceOptions& options = {});

// A handler that serves `content` for every target.
HttpHandler serve_resource(std::shared_ptr<const std::string> content,
                           ResourceOptions options = {});

// `n` bytes from `offset` of a resource that is never held whole (one of
// 4 GiB and more): each byte depends on its offset, its upper word too, so a
// byte written 4 GiB away from its place shows.
std::string announced_bytes(std::uint64_t offset, std::size_t n);

// Answers as resource_reply does for a resource of `size` bytes of
// announced_bytes, but each GET sends only the first `slice` bytes of its
// body and then holds the connection, as a server that stalls: the client's
// file stays sparse, however large the size.
HttpReply announced_reply(const HttpRequest& request, std::uint64_t size, std::size_t slice);

// `reply` paused after `body_bytes` of its body until `gate` opens.
HttpReply held(HttpReply reply, std::shared_ptr<Gate> gate, std::size_t body_bytes = 0);

// "HTTP/1.0 <code> <reason>", the given header lines, a Content-Length and the body.
HttpReply status_reply(int code, std::string_view reason, std::string_view body = {},
                       const std::vector<std::string>& headers = {});

// `payload` as a chunked body in chunks of at most `chunk` bytes, each size
// line with an extension, ended by the last chunk and one trailer line.
std::string chunked_body(std::string_view payload, std::size_t chunk);

// A redirect whose Location header is spelled `header_name` (a server may
// send it as "location").
HttpReply redirect_reply(int code, std::string_view location,
                         std::string_view header_name = "Location");

}  // namespace torvane::test
