// The window's command numbers: toolbar buttons, menu items and the
// context menu send these, and one handler acts on them.
#pragma once

namespace torvane::gui {

enum CommandId : int {
  kCmdClose = 2,
  kCmdStart = 40003,
  kCmdStop = 40005,
  kCmdStartAll = 40006,
  kCmdStopAll = 40007,
  kCmdDelete = 40009,
  kCmdDeleteAll = 40010,
  kCmdSettings = 40011,
  kCmdServers = 40018,
  kCmdHeaderLog = 40020,
  kCmdRetry = 40024,
  kCmdExit = 40025,
  kCmdCancel = 40029,
  kCmdHistory = 40030,
  kCmdEngineStatus = 40031,
};

// Not a command of the window: the add-items panel's "詳細" asks for the
// size table's editor, which opens as the dialogs of the menus do.
inline constexpr int kSizeTableEditor = 1072;

}  // namespace torvane::gui
