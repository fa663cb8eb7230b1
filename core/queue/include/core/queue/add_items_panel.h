// What the add-items panel does with its texts, apart from its widgets:
// which entries it registers, how the text box and the clipboard become
// URLs, and how its history lists follow the registrations. The panel reads
// its boxes, calls these on its own thread and shows what they return.
#pragma once

#include <string>
#include <string_view>

#include "core/queue/download_manager.h"
#include "core/settings/add_items_history.h"

namespace torvane {

// The texts of the division box and the save folder box at a registration.
struct PanelTarget {
  std::string_view division;
  std::string_view folder;
  // Both are needed for a URL to be registered from the URL box or the
  // clipboard.
  bool complete() const { return !division.empty() && !folder.empty(); }
};

// The URL box's "register": the folder and the URL go to the top of their
// lists whatever happens; the URL is registered when the target is complete
// and it begins with "http://" or "https://" exactly. The new item's index, or -1.
int register_url_box(DownloadManager& manager, AddItemsHistory& history, PanelTarget target,
                     std::string_view url);

// The text box's "register": the folder goes to the top of its list; the
// text is cut at every "\r\n" and each non-empty piece is registered as it
// stands (blanks and all), without a test of the URL or the target. How
// many items were registered.
int register_text_box(DownloadManager& manager, AddItemsHistory& history, PanelTarget target,
                      std::string_view text);

// "Register the clipboard's URLs": the folder goes to the top of its list;
// the URL of each clipboard line (line_url) is registered when the target
// is complete. How many items were registered.
int register_clipboard_urls(DownloadManager& manager, AddItemsHistory& history, PanelTarget target,
                            std::string_view clipboard);

// The text box's new content after "URL extraction": the URL of each
// clipboard line that has one, each followed by "\r\n".
std::string extracted_urls(std::string_view clipboard);

// The text box's new content after "expand and paste": the expansion of
// each clipboard line, one after another.
std::string expanded_lines(std::string_view clipboard);

// The up-down control's position for what was typed into the division box:
// its number brought into 1..64, or 0 when it is not a number.
int division_position(std::string_view typed);

}  // namespace torvane
