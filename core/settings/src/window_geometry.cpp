#include "core/settings/window_geometry.h"

#include <algorithm>

namespace torvane {
namespace {

constexpr int kLeftMargin = 150;
constexpr int kRightMargin = 200;

}  // namespace

WindowGeometry read_window_geometry(const IniAccess& ini) {
  WindowGeometry g;
  g.x = ini.read_int(kWindowSection, "X", -1);
  g.y = ini.read_int(kWindowSection, "Y", -1);
  g.width = ini.read_int(kWindowSection, "Width", -1);
  g.height = ini.read_int(kWindowSection, "Height", -1);
  g.iconic = ini.read_int(kWindowSection, "Iconic", -1);
  g.div_bar_x = ini.read_int(kWindowSection, "DivBarX", -1);
  return g;
}

int write_window_geometry(const IniAccess& ini, const WindowGeometry& g) {
  int result = 0;
  const auto write = [&](std::string_view key, int value) {
    if (ini.write_int(kWindowSection, key, value) != 1) result = -1;
  };
  write("X", g.x);
  write("Y", g.y);
  write("Width", g.width);
  write("Height", g.height);
  write("Iconic", g.iconic == 1 ? 1 : 0);
  write("DivBarX", g.div_bar_x);
  return result;
}

int splitter_after_resize(int x, int old_width, int new_width) {
  if (old_width != 0 && old_width != new_width) {
    // The order of the two bounds matters: on a narrow window the right
    // margin wins.
    x = static_cast<int>(static_cast<long long>(x) * new_width / old_width);
    x = std::max(x, kLeftMargin);
    x = std::min(x, new_width - kRightMargin);
  }
  return std::clamp(x, 0, std::max(new_width, 0));
}

int splitter_drag_position(int cursor_x, int width) {
  return std::min(std::max(cursor_x, kLeftMargin), width - kRightMargin);
}

LogPaneLayout log_pane_layout(int height, int panel_height, bool panel_filled, int log_view,
                              int log_height) {
  if (log_view == kLogViewHidden) return {height, log_height, false};
  // One pixel more than the gap lies between the panel and the stored
  // LogHeight, as it always has in the INI.
  constexpr int kBetween = kLogGap + 1;
  int panel = panel_height;
  if (panel_filled) {
    panel =
        log_height + kPanelMinHeight < height ? height - log_height - kBetween : kPanelMinHeight;
  }
  // The bottom bound first: on a low pane the panel keeps its least height.
  panel = std::max(std::min(panel, height - kBetween), kPanelMinHeight);
  const int log = height - panel - kBetween;
  // Too low for both: the panel alone, and the next layout with room is
  // placed from LogHeight again.
  if (log < 0) return {height, log_height, false};
  return {panel, log, true};
}

}  // namespace torvane
