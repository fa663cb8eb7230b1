#include "tests/support/http_replies.h"

#include <utility>

namespace torvane::test {
namespace {

std::string header_block(int code, std::string_view reason, const std::vector<std::string>& lines) {
  std::string head = "HTTP/1.0 " + std::to_string(code) + " " + std::string(reason) + "\r\n";
  head += "Server: scripted\r\n";
  for (const std::string& line : lines) head += line + "\r\n";
  return head;
}

}  // namespace

std::string pattern_bytes(std::size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  // A cheap generator whose value also depends on the position: a shifted
  // copy of the file never matches the original.
  std::uint32_t x = seed * 2654435761u + 1u;
  for (std::size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>((x ^ static_cast<std::uint32_t>(i)) & 0xFF);
  }
  return out;
}

HttpReply resource_reply(const HttpRequest& request, std::shared_ptr<const std::string> content,
                         const ResourceOptions& options) {
  const std::size_t size = content->size();
  std::vector<std::string> lines = {"Content-Type: application/octet-stream", "Connection: close"};
  lines.insert(lines.end(), options.headers.begin(), options.headers.end());
  const auto length_line = [&](std::size_t n) {
    if (!options.omit_length) lines.push_back("Content-Length: " + std::to_string(n));
  };

  HttpReply reply;
  reply.body = std::move(content);
  if (request.method == "HEAD") {
    if (!options.ignore_ranges) lines.push_back("Accept-Ranges: bytes");
    length_line(size);
    reply.head = header_block(200, "OK", lines) + "\r\n";
    return reply;
  }
  const std::int64_t start = options.ignore_ranges ? -1 : request.range_start();
  if (start < 0) {
    length_line(size);
    reply.head = header_block(200, "OK", lines) + "\r\n";
    reply.body_size = size;
    return reply;
  }
  if (static_cast<std::size_t>(start) >= size) {
    lines.push_back("Content-Range: bytes */" + std::to_string(size));
    return status_reply(416, "Requested Range Not Satisfiable", {}, lines);
  }
  std::int64_t last = request.range_end();
  if (last < 0 || static_cast<std::size_t>(last) >= size) last = static_cast<std::int64_t>(size) - 1;
  const std::size_t count = static_cast<std::size_t>(last - start + 1);
  lines.push_back("Content-Range: bytes " + std::to_string(start) + "-" + std::to_string(last) + "/" +
                  std::to_string(size));
  length_line(count);
  reply.head = header_block(206, "Partial Content", lines) + "\r\n";
  reply.body_offset = static_cast<std::size_t>(start);
  reply.body_size = count;
  return reply;
}

HttpHandler serve_resource(std::shared_ptr<const std::string> content, ResourceOptions options) {
  return [content = std::move(content), options = std::move(options)](const HttpRequest& request) {
    return resource_reply(request, content, options);
  };
}

HttpReply status_reply(int code, std::string_view reason, std::string_view body,
                       const std::vector<std::string>& headers) {
  std::vector<std::string> lines = headers;
  lines.push_back("Content-Length: " + std::to_string(body.size()));
  return HttpReply::raw(header_block(code, reason, lines) + "\r\n" + std::string(body));
}

HttpReply redirect_reply(int code, std::string_view location, std::string_view header_name) {
  return status_reply(code, "Moved", "moved\n",
                      {std::string(header_name) + ": " + std::string(location)});
}

}  // namespace torvane::test
