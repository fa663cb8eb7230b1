// Rename templates.
#include "core/text/name_template.h"

#include "core/text/local_time_text.h"
#include "core/text/number_text.h"

namespace torvane {
namespace {

bool is_token_letter(char c) {
  return c == 'f' || c == 'e' || c == 't';
}

std::string_view first_bytes(std::string_view text, int count) {
  if (count <= 0 || static_cast<std::size_t>(count) >= text.size()) return text;
  return text.substr(0, static_cast<std::size_t>(count));
}

}  // namespace

int apply_name_template(std::string& path, const char* name_template, bool ignore_errors,
                        const Clock& clock) {
  const std::string_view tmpl = name_template != nullptr ? name_template : kDefaultNameTemplate;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return -1;

  const std::string_view name = std::string_view(path).substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  const std::string_view base = dot == std::string_view::npos ? name : name.substr(0, dot);
  const std::string_view extension =
      dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  // One reading of the clock, so that two time tokens agree.
  const LocalTime now = clock.local_time();

  // Built apart and swapped in at the end: the result may be longer than the
  // old name by any amount, and a failure leaves the path as it was.
  std::string out;
  std::size_t i = 0;
  while (i < tmpl.size()) {
    if (tmpl[i] != '$') {
      out.push_back(tmpl[i++]);
      continue;
    }
    std::size_t letter_at = 0;
    for (std::size_t k = 1; k <= 3 && i + k < tmpl.size(); ++k) {
      if (is_token_letter(tmpl[i + k])) {
        letter_at = i + k;
        break;
      }
    }
    if (letter_at == 0) {
      if (!ignore_errors) return -1;
      i += 5;  // the '$' and the four bytes after it
      continue;
    }
    // At most two bytes, each a digit; one that is not counts as 0.
    std::string digits(tmpl.substr(i + 1, letter_at - i - 1));
    for (char& c : digits) {
      if (c < '0' || c > '9') c = '0';
    }
    const int count = static_cast<int>(parse_number(digits, 0, 99).value_or(0));
    switch (tmpl[letter_at]) {
      case 'f':
        out.append(first_bytes(base, count));
        break;
      case 'e':
        out.append(first_bytes(extension, count));
        break;
      default: {
        if (count > 1 && !ignore_errors) return -1;
        std::string text;
        format_time_text(now, count == 1 ? kTimeWordsSeconds : kTimeWords, text);
        out.append(text);
        break;
      }
    }
    i = letter_at + 1;
  }
  path.replace(slash + 1, std::string::npos, out);
  return 0;
}

}  // namespace torvane
