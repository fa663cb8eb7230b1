// URL pattern expansion.
//
// Every index below is checked against the text: patterns come from the
// clipboard and from typing, so any byte sequence must come back as lines or
// an error text.
#include "core/text/pattern_expand.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>

#include "core/text/number_text.h"

namespace torvane {
namespace {

constexpr std::string_view kCrLf = "\r\n";

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
// The letter test of the series: the byte range 'A'..'z', the six signs
// between 'Z' and 'a' included.
bool is_letter(char c) {
  return c >= 'A' && c <= 'z';
}

// The byte at `i`, or NUL outside the text, so that look-arounds near either
// end need no separate bounds test.
char at(std::string_view text, std::size_t i) {
  return i < text.size() ? text[i] : '\0';
}

// Widths beyond this would overflow the 64-bit counters; no real series has
// numbers of 19 digits.
constexpr std::size_t kMaxDigits = 18;

// The value of a series number: `digits` all digits (no sign, no blank),
// at most kMaxDigits of them; none otherwise.
std::optional<std::int64_t> series_number(std::string_view digits) {
  if (digits.size() > kMaxDigits) return std::nullopt;
  return parse_number(digits, 0, 999'999'999'999'999'999LL);
}

std::string padded(std::int64_t n, std::size_t width) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.*lld", static_cast<int>(width),
                static_cast<long long>(n));
  return buffer;
}

// Letter-form handling after the extension rule: the common ending of the
// left side and the whole text, then the matching expander.
std::string expand_letter_form(std::string text, std::size_t folder_len) {
  std::size_t dash = text.rfind('-');
  // Extension rule: "a.jpg-c" is read as "a.jpg-c.jpg".
  const std::size_t last_slash = folder_len == 0 ? 0 : folder_len - 1;
  const bool slash_ok = folder_len == 0 || dash > last_slash + 4;
  if (dash >= 4 && text[dash - 4] == '.' && text[text.size() - 4] != '.' && slash_ok) {
    text += text.substr(dash - 4, 4);
  }
  // Common ending: pairs from the back, stopping at a difference and at an
  // agreeing digit (a shared digit belongs to the series, not the ending).
  std::size_t k = 0;
  while (k < dash - folder_len && text.size() - 1 - k > dash) {
    const char left = text[dash - 1 - k];
    const char right = text[text.size() - 1 - k];
    if (left != right || is_digit(left)) break;
    ++k;
  }
  auto digit_form = [&](std::string_view t, std::size_t d) {
    return is_digit(at(t, d + 1)) ? expand_number_range(t, d) : expand_letter_number_range(t, d);
  };
  if (k == 0) return expand_letter_range(text, dash);
  if (k == 1) {
    if (dash >= 2 && is_digit(text[dash - 2])) {
      text.erase(dash - 1, 1);
      return digit_form(text, dash - 1);
    }
    return expand_letter_range(text, dash);
  }
  text.erase(dash - k, k);
  dash -= k;
  if (dash >= 1 && is_digit(text[dash - 1])) return digit_form(text, dash);
  return expand_letter_range(text, dash);
}

std::string expand_series(std::string_view input, std::string& folder, std::string& extras,
                          bool& has_extras) {
  const std::size_t slash = input.rfind('/');
  folder.assign(slash == std::string_view::npos ? std::string_view() : input.substr(0, slash + 1));
  std::string file(input.substr(folder.size()));

  std::size_t dash = file.rfind('-');
  if (dash == std::string::npos) return std::string(input) + std::string(kCrLf);
  if (dash == 0) return std::string(kExpandErrorInput);

  const std::size_t plus = file.find('+', dash + 1);
  if (plus != std::string::npos) {
    extras = file.substr(plus + 1);
    has_extras = true;
    file.resize(plus);
  }

  const std::size_t open = file.rfind('[');
  const std::size_t close = file.find(']');
  if (open != std::string::npos && close != std::string::npos && open < dash && close > dash) {
    file.erase(close, 1);
    file.erase(open, 1);
    --dash;
  }

  const std::string_view left = std::string_view(file).substr(0, dash);
  std::string right = file.substr(dash + 1);
  if (left == right) return folder + file + std::string(kCrLf);

  // Common beginning: "img001-img120" is the short form "img001-120".
  std::size_t m = 0;
  while (m < right.size() && file[m] == right[m]) ++m;
  if (m == 1 && !is_digit(at(right, 1))) {
    right.erase(0, 1);
  } else if (m >= 2) {
    right.erase(0, m);
  }
  std::string text = folder + file.substr(0, dash + 1) + right;
  dash = text.rfind('-');

  if (dash > folder.size() && is_digit(text[dash - 1])) {
    return is_digit(at(text, dash + 1)) ? expand_number_range(text, dash)
                                        : expand_letter_number_range(text, dash);
  }
  return expand_letter_form(std::move(text), folder.size());
}

}  // namespace

std::string expand_error_too_many() {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer,
                "ERROR!!\r\n　展開後のファイル数が制限値を越えてしまいます\r\n"
                "　%d個以内になるようにしてください\r\n",
                kMaxExpandedFiles);
  return buffer;
}

std::string expand_number_range(std::string_view text, std::size_t dash) {
  std::size_t nd = 0;
  while (is_digit(at(text, dash + 1 + nd))) ++nd;
  // The left number is the nd bytes before the dash; all of them must be
  // digits (a sign or letter inside it cannot be counted).
  const std::optional<std::int64_t> left =
      nd == 0 || dash < nd ? std::nullopt : series_number(text.substr(dash - nd, nd));
  const std::optional<std::int64_t> right =
      left ? series_number(text.substr(dash + 1, nd)) : std::nullopt;
  if (!left || !right) return std::string(kExpandErrorDigits);
  std::int64_t low = *left;
  std::int64_t high = *right;
  if (low > high) std::swap(low, high);
  if (high - low >= kMaxExpandedFiles) return expand_error_too_many();

  const std::string_view prefix = text.substr(0, dash - nd);
  const std::string_view suffix = text.substr(dash + 1 + nd);
  std::string out;
  for (std::int64_t n = low; n <= high; ++n) {
    out.append(prefix).append(padded(n, nd)).append(suffix).append(kCrLf);
  }
  return out;
}

std::string expand_letter_number_range(std::string_view text, std::size_t dash) {
  if (!is_digit(at(text, dash + 2))) return std::string(kExpandErrorForm);
  std::size_t nl = 0;
  while (nl < dash && is_digit(text[dash - 1 - nl])) ++nl;
  // Both numbers need the same nl digits and the left one needs its letter.
  const bool fits = nl != 0 && nl + 1 <= dash && dash + 2 + nl <= text.size();
  const std::optional<std::int64_t> left =
      fits ? series_number(text.substr(dash - nl, nl)) : std::nullopt;
  const std::optional<std::int64_t> right =
      left ? series_number(text.substr(dash + 2, nl)) : std::nullopt;
  if (!left || !right) return std::string(kExpandErrorForm);
  const std::size_t left_letter_at = dash - nl - 1;
  int start_letter = static_cast<unsigned char>(text[left_letter_at]);
  int end_letter = static_cast<unsigned char>(text[dash + 1]);
  std::int64_t start = *left;
  std::int64_t end = *right;
  if (start_letter > end_letter || (start_letter == end_letter && end < start)) {
    std::swap(start_letter, end_letter);
    std::swap(start, end);
  }
  std::int64_t w = 1;
  for (std::size_t i = 0; i < nl; ++i) w *= 10;
  const std::int64_t letters = end_letter - start_letter;
  // Two or more letter steps hold at least w + 1 names; refusing those first
  // keeps w * letters inside 64 bits.
  if (letters >= 2 && w > kMaxExpandedFiles) return expand_error_too_many();
  const std::int64_t count = w * letters - start + end;
  if (count > kMaxExpandedFiles - 1) return expand_error_too_many();

  const std::string_view prefix = text.substr(0, left_letter_at);
  const std::string_view suffix = text.substr(dash + 2 + nl);
  std::string out;
  int letter = start_letter;
  std::int64_t n = start;
  while (n <= end || letter < end_letter) {
    if (n == w) {
      ++letter;
      n = 0;
    }
    out.append(prefix).push_back(static_cast<char>(letter));
    out.append(padded(n, nl)).append(suffix).append(kCrLf);
    ++n;
  }
  return out;
}

std::string expand_letter_range(std::string_view text, std::size_t dash) {
  if (!is_letter(at(text, dash + 1))) return std::string(kExpandErrorForm);
  std::size_t places = 0;
  while (places < dash && is_letter(text[dash - 1 - places]) &&
         is_letter(at(text, dash + 1 + places))) {
    ++places;
  }
  // Nothing before the dash is a letter: there is no left end to count from.
  if (places == 0) return std::string(kExpandErrorForm);
  std::string start(text.substr(dash - places, places));
  std::string end(text.substr(dash + 1, places));
  std::size_t first_diff = 0;
  while (first_diff < places && start[first_diff] == end[first_diff]) ++first_diff;
  if (first_diff < places && start[first_diff] > end[first_diff]) std::swap(start, end);

  // Only the places from the first difference count; beyond 12 of them the
  // count is far past the limit (and past 64 bits).
  if (places - first_diff > 12) return expand_error_too_many();
  std::int64_t count = 0;
  for (std::size_t i = first_diff; i < places; ++i) {
    count =
        count * 26 + (static_cast<unsigned char>(end[i]) - static_cast<unsigned char>(start[i]));
  }
  if (count > kMaxExpandedFiles - 1) return expand_error_too_many();
  // Ends that use the signs between 'Z' and 'a' can make the count negative:
  // that is no series.
  if (count < 0) return std::string(kExpandErrorForm);

  const std::string_view prefix = text.substr(0, dash - places);
  const std::string_view suffix = text.substr(dash + 1 + places);
  std::string out;
  std::string current = start;
  for (std::int64_t line = 0; line <= count; ++line) {
    out.append(prefix).append(current).append(suffix).append(kCrLf);
    // Base-26 step: past 'Z' is 'A' and past 'z' is 'a', carrying left; a
    // carry out of the leftmost place is dropped.
    for (std::size_t i = places; i-- > 0;) {
      ++current[i];
      if (current[i] == 'Z' + 1) {
        current[i] = 'A';
      } else if (current[i] == 'z' + 1) {
        current[i] = 'a';
      } else {
        break;
      }
    }
  }
  return out;
}

std::string expand_pattern(std::string_view input) {
  try {
    if (input.empty() || input.back() == '-') return std::string(input) + std::string(kCrLf);
    std::string folder;
    std::string extras;
    bool has_extras = false;
    std::string out = expand_series(input, folder, extras, has_extras);
    if (has_extras) {
      // The extra names follow the series last-written first.
      for (std::size_t plus = extras.rfind('+'); plus != std::string::npos;
           plus = extras.rfind('+')) {
        out.append(folder).append(extras, plus + 1).append(kCrLf);
        extras.resize(plus);
      }
      out.append(folder).append(extras).append(kCrLf);
    }
    return out;
  } catch (const std::bad_alloc&) {
    return std::string(kExpandErrorMemory);
  }
}

}  // namespace torvane
