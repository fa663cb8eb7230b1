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

// The old name's parts a template draws on.
struct NameParts {
  std::string_view base;       // up to the last '.'
  std::string_view extension;  // after it; empty without one
};

NameParts split_name(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {name, {}};
  return {name.substr(0, dot), name.substr(dot + 1)};
}

// Where the letter of the token that starts with the '$' at `at` stands:
// one of the three bytes after it. 0 when none of them is a token letter.
std::size_t token_letter(std::string_view tmpl, std::size_t at) {
  for (std::size_t k = 1; k <= 3 && at + k < tmpl.size(); ++k) {
    if (is_token_letter(tmpl[at + k])) return at + k;
  }
  return 0;
}

// The count between the '$' and the letter: at most two bytes, each a
// digit; one that is not counts as 0.
int token_count(std::string_view between) {
  std::string digits(between);
  for (char& c : digits) {
    if (c < '0' || c > '9') c = '0';
  }
  return static_cast<int>(parse_number(digits, 0, 99).value_or(0));
}

// Appends what the token `letter` with `count` stands for. False for a
// time token with a count above 1 when errors are not ignored.
bool append_token(std::string& out, char letter, int count, const NameParts& parts,
                  const LocalTime& now, bool ignore_errors) {
  switch (letter) {
    case 'f':
      out.append(first_bytes(parts.base, count));
      return true;
    case 'e':
      out.append(first_bytes(parts.extension, count));
      return true;
    default: {
      if (count > 1 && !ignore_errors) return false;
      std::string text;
      format_time_text(now, count == 1 ? kTimeWordsSeconds : kTimeWords, text);
      out.append(text);
      return true;
    }
  }
}

}  // namespace

int apply_name_template(std::string& path, const char* name_template, bool ignore_errors,
                        const Clock& clock) {
  const std::string_view tmpl = name_template != nullptr ? name_template : kDefaultNameTemplate;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return -1;

  const NameParts parts = split_name(std::string_view(path).substr(slash + 1));
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
    const std::size_t letter_at = token_letter(tmpl, i);
    if (letter_at == 0) {
      if (!ignore_errors) return -1;
      i += 5;  // the '$' and the four bytes after it
      continue;
    }
    const int count = token_count(tmpl.substr(i + 1, letter_at - i - 1));
    if (!append_token(out, tmpl[letter_at], count, parts, now, ignore_errors)) return -1;
    i = letter_at + 1;
  }
  path.replace(slash + 1, std::string::npos, out);
  return 0;
}

}  // namespace torvane
