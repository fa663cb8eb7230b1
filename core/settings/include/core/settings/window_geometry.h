// The main window's place, size and splitter, kept in section "Window" of
// the program INI: read when the window is made, written when it closes
// (a program ended another way keeps the values of the run before).
#pragma once

#include "core/settings/ini_access.h"

namespace torvane {

inline constexpr std::string_view kWindowSection = "Window";
// The size of a window without stored geometry, and the smallest one the
// user may drag it to.
inline constexpr int kDefaultWindowWidth = 600;
inline constexpr int kDefaultWindowHeight = 400;
inline constexpr int kMinWindowWidth = 350;
inline constexpr int kMinWindowHeight = 50;
// Where the splitter starts when none is stored; its width.
inline constexpr int kDefaultSplitterX = 350;
inline constexpr int kSplitterWidth = 5;

// Keys "X", "Y", "Width", "Height", "Iconic", "DivBarX"; -1 when absent.
struct WindowGeometry {
  int x = -1;
  int y = -1;
  int width = -1;
  int height = -1;
  int iconic = -1;
  int div_bar_x = -1;

  // A window is placed from the stored values only when none of the four
  // is negative; otherwise it opens 600 by 400 wherever the system puts it.
  bool placed() const { return x >= 0 && y >= 0 && width >= 0 && height >= 0; }
  // Minimised at start only with usable geometry and "Iconic" 1.
  bool starts_minimised() const { return placed() && iconic == 1; }
  // The splitter is moved from its first place only when a value is stored.
  bool has_splitter() const { return div_bar_x != -1; }
};

WindowGeometry read_window_geometry(const IniAccess& ini);

// Writes the six keys ("Iconic" as 1 or 0). 0 when every write succeeded,
// else -1.
int write_window_geometry(const IniAccess& ini, const WindowGeometry& geometry);

// The splitter's x after the client width went from `old_width` to
// `new_width`: scaled in proportion and kept at least 150 from the left and
// 200 from the right when the width changed (old width 0: not scaled), then
// always kept within 0..new_width.
int splitter_after_resize(int x, int old_width, int new_width);

// The splitter's x while it is dragged to the cursor's client x: at least
// 150, then at most width - 200.
int splitter_drag_position(int cursor_x, int width);

// The right pane: the add-items panel over the header log. LogView 2 hides
// the log and the panel takes the whole pane; otherwise the log lies below
// the panel, kLogGap lower, and LogHeight follows the panel's bottom edge,
// the only edge the user moves.
inline constexpr int kPanelMinHeight = 150;
inline constexpr int kLogGap = 5;
inline constexpr int kLogViewHidden = 2;

struct LogPaneLayout {
  int panel_height;  // the log box starts kLogGap below it, down to the pane's bottom
  int log_height;    // LogHeight to keep in the settings
  bool log_shown;
};

// The layout of a pane `height` high. `panel_height` is the panel's height
// as it stands, or where the user dragged its bottom edge; `panel_filled`
// says the panel had the whole pane until now (the first layout, or the log
// was hidden), so the stored `log_height` places it. The panel is kept at
// least kPanelMinHeight high and leaves a log of LogHeight 0 or more; a
// pane too low for both shows the panel alone and keeps the stored
// LogHeight, as a hidden log does.
LogPaneLayout log_pane_layout(int height, int panel_height, bool panel_filled, int log_view,
                              int log_height);

}  // namespace torvane
