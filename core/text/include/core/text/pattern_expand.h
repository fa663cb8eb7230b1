// URL pattern expansion: one URL that stands for a numbered or lettered
// series ("img001-120.jpg", "img[001-120].jpg", "a98-b02.jpg", "aa-bz",
// extra names after '+') becomes the list of single URLs, one per line.
//
// Pure text in, text out: every line of the result ends in "\r\n"; a failure
// is one of the error texts below (shown to the user as they are), followed
// by the extra names. A series holds at most 1000 names. No state; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvane {

inline constexpr int kMaxExpandedFiles = 1000;

inline constexpr std::string_view kExpandErrorInput = "ERROR!!\r\n　入力が正しくありません\r\n";
inline constexpr std::string_view kExpandErrorDigits = "ERROR!!\r\n　桁数が合いません\r\n";
inline constexpr std::string_view kExpandErrorForm =
    "ERROR!!\r\n　入力が正しくないか対応していない形式です\r\n";
inline constexpr std::string_view kExpandErrorMemory =
    "ERROR!!\r\n　必要なメモリが確保できませんでした\r\n";
// The too-many text, with the limit filled in.
std::string expand_error_too_many();

// The whole expansion. Never fails otherwise; the caller owns the result.
std::string expand_pattern(std::string_view input);

// The three range expanders, given the normalised text and the offset of the
// range's '-'. Each returns its lines or an error text.
std::string expand_number_range(std::string_view text, std::size_t dash);
std::string expand_letter_number_range(std::string_view text, std::size_t dash);
std::string expand_letter_range(std::string_view text, std::size_t dash);

}  // namespace torvane
