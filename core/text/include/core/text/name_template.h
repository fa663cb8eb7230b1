// Rename templates for the existing-file policy: the file-name part of a path
// is rewritten from a template with tokens for the old name's base, its
// extension and the local time.
//
//   $f  $Nf  $NNf   the base (the name up to its last '.'), or its first N bytes
//   $e  $Ne  $NNe   the extension without its dot, or its first N bytes
//   $t  $0t         local time "MM月DD日(W) hh時mm分"
//   $1t             local time with seconds "MM月DD日(W) hh時mm分ss秒"
//
// The token letter is looked for in the three bytes after '$'; the bytes
// between form the count (a byte that is not a digit counts as digit 0). A
// count of 0 (also none) means the whole base or extension.
// Syntax errors: a '$' without f, e or t in those three places, and a time
// token with a count above 1. With `ignore_errors` a larger time count reads
// as $t and a '$' without a letter is dropped with the four bytes after it
// (fewer at the template's end); without it the whole call fails.
//
// Pure apart from reading the clock once; any thread.
#pragma once

#include <string>
#include <string_view>

#include "core/system/clock.h"

namespace torvane {

inline constexpr std::string_view kDefaultNameTemplate = "$f_[$t].$e";

// Rewrites the file name of `path` (the text after its last '/') from
// `name_template` (the default template when null). The path grows as
// needed; the folder part stays. 0, or -1 (path unchanged) when the path has
// no '/' or the template has a syntax error and errors are not ignored.
int apply_name_template(std::string& path, const char* name_template, bool ignore_errors,
                        const Clock& clock);

}  // namespace torvane
