// The download list: one ListItem per download and the ItemList that holds
// them in list order (the slot table links engine slots to list indexes).
//
// Texts are fixed fields as the item list file expects them. A started
// slot reads its own copies of `url` and `save_folder` (SlotStrings), never
// the item's fields; a redirect's URL comes back into `url` at the header
// notices. Setters cut a text to its field.
//
// None of these types locks: the download manager owns them and guards them
// with its mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/queue/stall_watch.h"
#include "core/system/engine_binding.h"
#include "core/system/record_sizes.h"
#include "torvane/torvane.h"

namespace torvane {

// Item states; 1 to 4 and 6 are the engine's slot states.
enum ItemState : std::int32_t {
  kWaiting = 0,
  kInitialising = 1,
  kConnecting = 2,
  kProbing = 3,
  kDownloading = 4,
  kFinished = 5,
  kFailed = 6,
  kResting = 7,
};

// Slot link values besides a slot index.
inline constexpr std::int32_t kNoSlot = -1;
inline constexpr std::int32_t kResumePending = -3;

// URL-jump marks.
inline constexpr std::int32_t kNoJump = 0;
inline constexpr std::int32_t kJumpArmed = 1;
inline constexpr std::int32_t kJumpTaken = 2;

inline constexpr std::string_view kUnknownProgress = "??? / ??? (??%)";
inline constexpr std::string_view kUnknownSpeed = "-- bps";

// Copies `text` into a fixed field, cut to N-1 bytes, NUL-terminated.
template <std::size_t N>
void set_field(char (&field)[N], std::string_view text) {
  const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  text.copy(field, n);
  field[n] = '\0';
}

using SavedRecord = std::unique_ptr<ItemData, SavedRecordDeleter>;

struct ListItem {
  std::int32_t state = kWaiting;
  char file_name[512] = {};
  char division_text[4] = {};
  char progress[64] = {};
  char speed[32] = {};
  char save_folder[2048] = {};
  char url[2048] = {};
  // "Cookie: <value>\r\n", or empty for none. A running slot's
  // extra_header points at a copy of it that the slot owns.
  std::string cookie_line;
  // Header lines of the profiles' "Header" key, each ending in "\r\n", sent
  // after the cookie line; read at every start.
  std::string header_lines;
  std::int32_t division_from_profile = 0;
  std::int32_t division_count = 0;
  std::int32_t slot_link = kNoSlot;
  // Tells this item from every other of the run, whatever its URL becomes (a
  // redirect or a link jump rewrites it); given by the manager, 0 for none.
  std::uint64_t serial = 0;
  std::int32_t url_jump = kNoJump;
  std::int32_t skip_count = 0;
  // Bytes counted at the last speed measurement, 64-bit: a file past 2 GiB
  // must not turn into a negative mark (and a huge speed).
  std::int64_t last_bytes = 0;
  std::uint32_t start_tick = 0;
  std::int32_t elapsed_ms = 0;
  // The figures behind the progress and speed texts, for a front end that
  // writes its own: the bytes the file holds, the file's size (0 while not
  // known) and the bytes per second at the last tick (0 when nothing moved).
  std::uint64_t done_bytes = 0;
  std::uint64_t size_bytes = 0;
  double bytes_per_second = 0;
  // The engine record copied at the stop, in the engine's heap; resumes the
  // download. Null when the item has none.
  SavedRecord saved;
  // The whole sizes of `saved` where one of its 32-bit fields is saturated
  // (a file of 4 GiB or more), else empty. Set and cleared with `saved`.
  WideCopy saved_wide;
  // The file this download writes, as opened at its start (after the
  // existing-file policy); kept while it rests, so that a resume goes on in
  // the same file, and stored with the saved record. Empty when not known.
  std::string target_path;
  // The slot record apply_item_settings last filled for this item, until the
  // open notice of that start found it: the item is linked to its slot only
  // once the start returned, after the notice. Compared, never read through.
  const ItemData* opening = nullptr;
  // Why the item last stopped short of finishing (the engine's message, a
  // stall, a full disk), for the row and the closing report; cleared by the
  // next start.
  std::string reason;
  // When a division counts as stalled (read from the profiles at each start).
  StallRule stall_rule;
  // The last stall note of this start, empty for none: an engine message
  // that comes after it adds to the reason instead of hiding the stall.
  std::string stall_note;
};

// The name a download of `url` gets before the engine names its file: the
// text after the last '/' (all of it when it has none), without a fragment
// and without the query after the name.
std::string_view file_name_of_url(std::string_view url);

class ItemList {
 public:
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // Records allocated: grows by ten when a registration finds the list full,
  // by one per item read from the list file.
  std::size_t allocated() const { return allocated_; }

  ListItem* at(std::int64_t index);
  const ListItem* at(std::int64_t index) const;

  enum class Growth { kByTen, kByOne };
  // Appends a zero-filled item (slot link -1) and returns its index.
  std::size_t append(Growth growth);
  // Takes item k out of the list (the later ones move down) and hands it to
  // the caller; null when there is none.
  std::unique_ptr<ListItem> take(std::size_t k);
  // Takes every item out, in list order.
  std::vector<std::unique_ptr<ListItem>> take_all();
  void clear() { take_all(); }

 private:
  std::vector<std::unique_ptr<ListItem>> items_;
  std::size_t allocated_ = 0;
};

}  // namespace torvane
