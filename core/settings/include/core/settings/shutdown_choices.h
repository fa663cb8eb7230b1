// What the power-and-line dialog shows and how its choices map onto the
// settings: the trigger radio buttons onto ShutDown, the method list and the
// two check boxes onto the HowtoSD bits, and the dialog's texts. The dialog
// only draws and calls these.
#pragma once

#include <array>
#include <string_view>

#include "core/settings/shutdown.h"

namespace torvane {

inline constexpr std::string_view kShutdownDialogTitle = "電源と回線の設定";
inline constexpr std::string_view kShutdownDialogButton = "電源と回線";
inline constexpr std::string_view kShutdownTestButton = "動作テスト";
inline constexpr std::string_view kShutdownForceText = "強制終了(非推奨)";
inline constexpr std::string_view kShutdownHangUpText = "電話回線も切断する";
inline constexpr std::string_view kShutdownConfirmText =
    "本当にシャットダウンしてしまいますがかまいませんか？";
inline constexpr std::string_view kShutdownConfirmCaption = "確認";
inline constexpr std::string_view kShutdownFailureText = "シャットダウンに失敗しました。";
inline constexpr std::string_view kShutdownFailureCaption = "エラー";

// The trigger radio buttons; the index is the ShutDown value.
inline constexpr std::array<std::string_view, 3> kShutdownTriggerTexts = {
    "使用しない", "すべてのダウンロードが終了したとき", "指定時刻になったとき"};

// The method list in its order, with the bit of each entry.
inline constexpr std::array<std::string_view, 7> kShutdownMethodTexts = {
    "ログオフ",
    "シャットダウン後にパワーオフ",
    "シャットダウン後に再起動",
    "シャットダウン(電源を切ることができる状態)",
    "シャットダウンはしない",
    "サスペンド(要サポート)",
    "ハイバネーション"};
inline constexpr std::array<int, 7> kShutdownMethodBits = {
    kShutdownLogOff, kShutdownPowerOff, kShutdownReboot,   kShutdownShutDown,
    kShutdownNone,   kShutdownSuspend,  kShutdownHibernate};

// The radio button of a ShutDown value: 1 and 2 their own, anything else 0.
int shutdown_trigger_entry(int shut_down);

// The list entry to select: that of the first method bit set, in list
// order; 1 (power off) when none is set.
int shutdown_method_entry(int how_to_sd);

// `how_to_sd` with its method bits replaced by the bit of `entry`; the
// force, hang-up and run-time bits stay. An entry outside the list leaves
// the word as it is.
int with_shutdown_method(int how_to_sd, int entry);

// `how_to_sd` with the force (0x40) and hang-up (0x80) bits set from the
// two check boxes.
int with_shutdown_switches(int how_to_sd, bool force, bool hang_up);

}  // namespace torvane
