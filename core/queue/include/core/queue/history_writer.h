// The download history: one record per finished download appended to
// "tvnlog.txt" in the current folder, in the layout the history reader and
// window read back (Date, URL, Filename, Divide, Save, FileSize, Time, Speed).
//
// The file is opened on the first record and kept open for the run. Not
// synchronised: the manager writes under its lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/queue/list_item.h"
#include "core/system/clock.h"
#include "core/text/history_reader.h"
#include "platform/file.h"

namespace torvane {

// The size of a finished item from its progress text: the total after the
// first '/' when the text ends in ')', else the number at its start.
std::uint64_t size_from_progress(std::string_view progress);

class HistoryWriter {
 public:
  explicit HistoryWriter(std::string path = std::string(kHistoryFile)) : path_(std::move(path)) {}
  ~HistoryWriter();
  HistoryWriter(const HistoryWriter&) = delete;
  HistoryWriter& operator=(const HistoryWriter&) = delete;

  // Appends the record of `item`, finished now. `bits` shows the speed in
  // bits per second. 0, or -1 when the file could not be opened or written
  // (the record is lost; nothing is shown).
  int write_entry(const ListItem& item, const Clock& clock, bool bits);

 private:
  std::string path_;
  platform::FileHandle file_ = 0;
  std::uint64_t end_ = 0;
};

}  // namespace torvane
