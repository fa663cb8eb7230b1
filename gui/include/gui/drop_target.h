// Drops onto a widget, as one record and one handler: the Qt drag events
// (enter, move, leave, drop) become a DropEvent the handler reads and whose
// `effect` it writes.
//
// Enter and drop fetch the data: a URL list that holds local files gives
// kDropFiles, `data` the first file's local path (UTF-8) and `file_block`
// every local path (a const std::vector<std::string>*); otherwise plain text
// gives kDropText and `data` the text (UTF-8); otherwise kDropNone. A move
// fetches nothing. A leave clears every field but `effect`.
//
// `effect` stays in the record from one event to the next; after the
// handler the proposed action is accepted when it is not 0 (copy 1 or
// link 4: a copy) and refused when it is. The pointers in the record are
// valid only during the handler's call. GUI thread only.
#pragma once

#include <QMimeData>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace torvane::gui {

enum DropEventCode { kDragEnter = 0, kDragOver = 1, kDragLeave = 2, kDrop = 3 };
enum DropFormat { kDropNone = 0, kDropText = 1, kDropFiles = 15 };

// The effects a handler may answer, as bits.
inline constexpr std::uint32_t kDropEffectNone = 0;
inline constexpr std::uint32_t kDropEffectCopy = 1;
inline constexpr std::uint32_t kDropEffectMove = 2;
inline constexpr std::uint32_t kDropEffectLink = 4;

// Key state bits: the mouse buttons and modifier keys held.
inline constexpr std::uint32_t kDropLeftButton = 0x01;
inline constexpr std::uint32_t kDropRightButton = 0x02;
inline constexpr std::uint32_t kDropShift = 0x04;
inline constexpr std::uint32_t kDropControl = 0x08;
inline constexpr std::uint32_t kDropMiddleButton = 0x10;
inline constexpr std::uint32_t kDropAlt = 0x20;

struct DropEvent {
  const QPoint* point;  // the cursor on the screen; null at a leave
  std::uint32_t effect;
  std::uint32_t key_state;
  int format;
  const char* data;
  const void* file_block;
  const QMimeData* data_object;
};

using DropHandler = std::function<void(int code, DropEvent& event)>;

// Makes `widget` a drop target: returns true when registered (false for a
// null widget or an empty handler). The handler lives as long as the widget.
// Children that take drops of their own keep them; turn theirs off to let
// the widget have every drop over it.
bool register_drop_target(QWidget* widget, DropHandler handler);

}  // namespace torvane::gui
