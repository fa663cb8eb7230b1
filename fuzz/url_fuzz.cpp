// Fuzz target: page-link extraction, line URLs, hosts and domains. Results
// must stay within the 2047-character URL field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text/text_util.h"
#include "core/text/url_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int skip = static_cast<std::int8_t>(data[0]) % 5;
  const std::size_t name_len = data[1] % 16;
  std::string_view page(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string_view file_name =
      page.substr(page.size() > name_len ? page.size() - name_len : 0);

  std::string link = "unchanged";
  if (torvane::extract_page_link(page, skip, file_name, link) == 0) {
    if (link.size() > torvane::kMaxUrlChars) std::abort();
  } else if (link != "unchanged") {
    std::abort();
  }
  for (const std::string_view line : torvane::split_lines(page)) {
    const auto url = torvane::line_url(line);
    if (url && (url->size() > torvane::kMaxUrlChars ||
                (!url->starts_with("http://") && !url->starts_with("https://")))) {
      std::abort();
    }
    if (const auto host = torvane::url_host(line)) torvane::host_domain(*host);
  }
  return 0;
}
