#include "core/queue/item_list_file.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "platform/file.h"

namespace torvane {
namespace {

// One value of the stored record: where it sits in the 148-byte form and
// where in this build's ItemData (pointers make the two differ on 64-bit).
// Every offset not listed is a pointer or handle slot, stored as 0: its value
// names memory or a handle of the run that wrote it and means nothing later.
struct StoredField {
  std::size_t stored;
  std::size_t native;
  std::size_t size;  // 4: a 32-bit integer, little-endian; 16: raw bytes
};

constexpr std::size_t kStoredDivCount = 48;

constexpr StoredField kStoredFields[] = {
    {0, offsetof(ItemData, state), 4},
    {4, offsetof(ItemData, run_flags), 4},
    {8, offsetof(ItemData, data_type), 4},
    {20, offsetof(ItemData, auto_referer), 4},
    {40, offsetof(ItemData, options), 4},
    {44, offsetof(ItemData, retry), 4},
    {kStoredDivCount, offsetof(ItemData, div_count), 4},
    {56, offsetof(ItemData, buffer_size), 4},
    {80, offsetof(ItemData, conn) + offsetof(ConnInfo, port), 4},
    // The socket address is already in wire order byte by byte.
    {88, offsetof(ItemData, conn) + offsetof(ConnInfo, address), 16},
    {112, offsetof(ItemData, disk) + offsetof(DiskIO, file_size), 4},
};

constexpr bool stored_offsets_fit() {
  for (const StoredField& f : kStoredFields) {
    if (f.stored + f.size > kStoredItemDataSize || f.native + f.size > sizeof(ItemData)) {
      return false;
    }
  }
  return true;
}
static_assert(stored_offsets_fit());

// On a 32-bit build the record is its stored form: the table must agree.
constexpr bool stored_offsets_are_native() {
  for (const StoredField& f : kStoredFields) {
    if (f.stored != f.native) return false;
  }
  return true;
}
static_assert(sizeof(void*) != 4 || stored_offsets_are_native());

constexpr std::size_t kDivisionTextMax = sizeof(ListItem::division_text) - 1;
constexpr std::size_t kRequestPathBytes = 2048;
constexpr std::size_t kHostBytes = 512;

std::uint32_t load_le32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void store_le32(char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint64_t load_le64(const char* p) {
  return static_cast<std::uint64_t>(load_le32(p)) | static_cast<std::uint64_t>(load_le32(p + 4))
                                                        << 32;
}

// CRC-32 (the reflected 0xEDB88320 polynomial), continued from `crc` (0 to begin).
constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}();

std::uint32_t crc32(std::string_view bytes, std::uint32_t crc = 0) {
  crc = ~crc;
  for (const char b : bytes)
    crc = kCrcTable[(crc ^ static_cast<unsigned char>(b)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::string le32_text(std::uint32_t v) {
  std::string out(4, '\0');
  store_le32(out.data(), v);
  return out;
}

// --- writing ---------------------------------------------------------------

void put_u32(std::string& out, std::uint32_t v) {
  char b[4];
  store_le32(b, v);
  out.append(b, 4);
}

void put_integer(std::string& out, std::int32_t v) {
  put_u32(out, 4);
  put_u32(out, static_cast<std::uint32_t>(v));
}

void put_field(std::string& out, std::string_view bytes) {
  put_u32(out, static_cast<std::uint32_t>(bytes.size()));
  out.append(bytes);
}

template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

std::string_view heap_text(const char* text) {
  return text != nullptr ? text : "";
}

// A missing array is stored as zeros: the reader gives every record all
// seven arrays, and zeros are what a fresh one would hold.
template <class T>
void put_array(std::string& out, const T* values, std::size_t count) {
  put_u32(out, static_cast<std::uint32_t>(count * 4));
  for (std::size_t i = 0; i < count; ++i) {
    put_u32(out, values != nullptr ? static_cast<std::uint32_t>(values[i]) : 0u);
  }
}

void put_u64(std::string& out, std::uint64_t v) {
  put_u32(out, static_cast<std::uint32_t>(v));
  put_u32(out, static_cast<std::uint32_t>(v >> 32));
}

// A record whose saturated sizes have no whole values that belong to it
// would resume with 4 GiB - 1 for each of them.
bool storable(const ItemData& record, const WideCopy* wide) {
  if (record.div_count < 1 || record.div_count > kMaxStoredDivisions) return false;
  if (wide != nullptr && !wide->empty()) return wide_copy_fits(record, *wide);
  return !has_saturated_size(record);
}

std::size_t wide_block_size(std::size_t divisions) {
  return 4 + 8 + 16 * divisions;
}

void put_wide_sizes(std::string& out, const WideCopy& wide) {
  out.append(kItemListWideTag);
  put_u32(out, static_cast<std::uint32_t>(wide_block_size(wide.range_len.size())));
  put_u32(out, static_cast<std::uint32_t>(wide.range_len.size()));
  put_u64(out, wide.file_size);
  for (const std::uint64_t v : wide.range_len) put_u64(out, v);
  for (const std::uint64_t v : wide.range_done) put_u64(out, v);
}

void put_saved_record(std::string& out, const ItemData& record, const WideCopy* wide,
                      const std::string& target_path) {
  put_field(out, encode_stored_item_data(record));
  put_field(out, heap_text(record.referer));
  put_field(out, heap_text(record.user_agent));
  put_field(out, heap_text(record.reserved_text));
  put_field(out, heap_text(record.proxy));
  // The engine closes the file before the stop is reported, so the record
  // copied then names none; the item knows which file it was writing.
  put_field(out, record.disk.file_name != nullptr ? std::string_view(record.disk.file_name)
                                                  : std::string_view(target_path));
  const auto n = static_cast<std::size_t>(record.div_count);
  put_array(out, record.div_status, n);
  put_array(out, record.div_retries, n);
  put_array(out, record.div_stop, n + 1);
  put_array(out, record.conn.sockets, n);
  put_array(out, record.disk.range_len, n);
  put_array(out, record.disk.range_done, n);
  put_array(out, record.disk.buf_fill, n);
  if (wide != nullptr && !wide->empty()) put_wide_sizes(out, *wide);
}

// --- reading ---------------------------------------------------------------

// A read position that never passes the end of its bytes; every read either
// succeeds whole or reports false and leaves the rest to the caller to drop.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool at_end() const { return pos_ >= bytes_.size(); }
  std::size_t position() const { return pos_; }
  std::size_t left() const { return bytes_.size() - pos_; }
  std::string_view peek(std::size_t n) const { return bytes_.substr(pos_, n); }

  bool skip(std::string_view expected) {
    if (peek(expected.size()) != expected) return false;
    pos_ += expected.size();
    return true;
  }

  // A text or block: its length, then that many bytes, all inside the input.
  bool field(std::string_view& out) {
    if (left() < 4) return false;
    const std::uint32_t n = load_le32(bytes_.data() + pos_);
    if (n > left() - 4) return false;
    out = bytes_.substr(pos_ + 4, n);
    pos_ += 4 + static_cast<std::size_t>(n);
    return true;
  }

  // An integer field: any length but 4 means the layout is not ours.
  bool integer(std::int32_t& out) {
    std::string_view bytes;
    if (!field(bytes) || bytes.size() != 4) return false;
    out = static_cast<std::int32_t>(load_le32(bytes.data()));
    return true;
  }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

std::int32_t state_read_back(std::int32_t stored) {
  // States 1 to 4 belonged to a slot of the run that wrote the file; no slot
  // exists now, so the item waits to be started again. A state this program
  // never sets is taken as waiting as well: the item is offered to the
  // scheduler instead of being hidden under a status nothing acts on.
  if (stored < kWaiting || stored > kResting) return kWaiting;
  if (stored >= kInitialising && stored <= kDownloading) return kWaiting;
  return stored;
}

char* engine_text(const EngineApi& api, std::string_view text, std::size_t capacity = 0) {
  const std::size_t size = text.size() + 1 > capacity ? text.size() + 1 : capacity;
  char* copy = static_cast<char*>(api.GetMem(static_cast<unsigned>(size)));
  if (copy != nullptr) text.copy(copy, text.size());
  return copy;
}

// Fields 9-13. Length 0 leaves the target null. A text beyond the bound is
// not one this program wrote; it is left out (null) rather than cut, since a
// cut referer or proxy would be wrong without looking wrong. Its length was
// within the input, so the record itself still reads on.
bool read_record_text(Reader& in, const EngineApi& api, char*& target) {
  std::string_view text;
  if (!in.field(text)) return false;
  if (text.empty() || text.size() > kMaxStoredHeapText) return true;
  target = engine_text(api, text);
  return target != nullptr;
}

// Fields 14-20: the block must hold exactly `count` 32-bit values, so the
// allocation is sized by the checked div_count, never by the stored length.
template <class T>
bool read_array(Reader& in, const EngineApi& api, std::size_t count, T*& target) {
  std::string_view block;
  if (!in.field(block) || block.size() != count * 4) return false;
  target = static_cast<T*>(api.GetMem(static_cast<unsigned>(count * sizeof(T))));
  if (target == nullptr) return false;
  for (std::size_t i = 0; i < count; ++i) {
    target[i] = static_cast<T>(load_le32(block.data() + 4 * i));
  }
  return true;
}

// Fields 8-20 into a record in the engine's heap, owned by `item.saved` from
// its allocation on, so a failure part way frees whatever was built.
bool read_saved_record(Reader& in, ListItem& item, const EngineApi& api) {
  std::string_view stored;
  if (!in.field(stored) || stored.size() != kStoredItemDataSize) return false;
  // Checked before anything is allocated: every array size follows from it.
  const auto div_count = static_cast<std::int32_t>(load_le32(stored.data() + kStoredDivCount));
  if (div_count < 1 || div_count > kMaxStoredDivisions) return false;

  item.saved =
      SavedRecord(static_cast<ItemData*>(api.GetMem(sizeof(ItemData))), SavedRecordDeleter{&api});
  ItemData* record = item.saved.get();
  if (record == nullptr) return false;
  decode_stored_item_data(stored, *record);
  const auto n = static_cast<std::size_t>(div_count);

  set_field(item.division_text, std::to_string(div_count));
  // The engine rewrites `url` in place on a redirect, so it gets a full buffer.
  record->url = engine_text(api, field_text(item.url), TVN_URL_CAPACITY);
  record->save_path = engine_text(api, field_text(item.save_folder));
  record->disk.count_ref = &record->div_count;
  if (record->url == nullptr || record->save_path == nullptr) return false;

  if (!read_record_text(in, api, record->referer) ||
      !read_record_text(in, api, record->user_agent) ||
      !read_record_text(in, api, record->reserved_text) ||
      !read_record_text(in, api, record->proxy) ||
      !read_record_text(in, api, record->disk.file_name)) {
    return false;
  }
  // The file a resume goes on in.
  if (record->disk.file_name != nullptr) item.target_path = record->disk.file_name;
  if (!read_array(in, api, n, record->div_status) || !read_array(in, api, n, record->div_retries) ||
      !read_array(in, api, n + 1, record->div_stop) ||
      !read_array(in, api, n, record->conn.sockets) ||
      !read_array(in, api, n, record->disk.range_len) ||
      !read_array(in, api, n, record->disk.range_done) ||
      !read_array(in, api, n, record->disk.buf_fill)) {
    return false;
  }
  // A socket number of the earlier run names nothing of ours now, or worse
  // someone else's descriptor: every division starts without one.
  for (std::size_t i = 0; i < n; ++i) record->conn.sockets[i] = -1;

  record->disk.buf_ptr = static_cast<char**>(api.GetMem(static_cast<unsigned>(n * sizeof(char*))));
  record->request_path = static_cast<char*>(api.GetMem(kRequestPathBytes));
  record->conn.host = static_cast<char*>(api.GetMem(kHostBytes));
  return record->disk.buf_ptr != nullptr && record->request_path != nullptr &&
         record->conn.host != nullptr;
}

// The whole sizes after a saved record's arrays, when their tag is there;
// else, for a record with a saturated field (a file written before whole
// sizes were), the fields' own values. False when the block does not belong
// to the record.
bool read_wide_sizes(Reader& in, ListItem& item) {
  const ItemData& record = *item.saved;
  WideCopy wide;
  if (!in.skip(kItemListWideTag)) {
    if (!has_saturated_size(record)) return true;
    wide.file_size = record.disk.file_size;
    wide.range_len.assign(record.disk.range_len, record.disk.range_len + record.div_count);
    wide.range_done.assign(record.disk.range_done, record.disk.range_done + record.div_count);
    item.saved_wide = std::move(wide);
    return true;
  }
  std::string_view block;
  const auto n = static_cast<std::size_t>(record.div_count);
  if (!in.field(block) || block.size() != wide_block_size(n) || load_le32(block.data()) != n) {
    return false;
  }
  wide.file_size = load_le64(block.data() + 4);
  for (std::size_t d = 0; d < n; ++d) {
    wide.range_len.push_back(load_le64(block.data() + 12 + 8 * d));
    wide.range_done.push_back(load_le64(block.data() + 12 + 8 * (n + d)));
  }
  if (!wide_copy_fits(record, wide)) return false;
  item.saved_wide = std::move(wide);
  return true;
}

// Fields 1-7.
bool read_item_fields(Reader& in, ListItem& item) {
  std::int32_t state = 0;
  std::string_view division, folder, url, cookie;
  if (!in.integer(state) || !in.field(division) || !in.field(folder) || !in.field(url) ||
      !in.integer(item.url_jump) || !in.integer(item.skip_count) || !in.field(cookie)) {
    return false;
  }
  item.state = state_read_back(state);
  item.slot_link = kNoSlot;
  // Longer texts are cut to their fields, as every setter of an item does.
  set_field(item.division_text, division);
  set_field(item.save_folder, folder);
  set_field(item.url, url);
  // A URL without '/' names its whole text as the file, the same rule the
  // list applies to a newly added item.
  set_field(item.file_name, file_name_of_url(field_text(item.url)));
  // A cookie line is one header line from one answer; one this long did not
  // come from a server we talked to. The item is kept without it (it takes a
  // fresh one on its next answer); a cut line would be a broken header.
  if (cookie.size() <= kMaxStoredHeapText) item.cookie_line.assign(cookie);
  return true;
}

// Fields 8-20 when there, then the terminator. On failure the item is left
// as fields 1-7 made it, without a saved record.
bool read_record_tail(Reader& in, ListItem& item, const EngineApi& api) {
  const std::string division_text = item.division_text;
  const std::string target_path = item.target_path;
  bool ok = true;
  // A complete record still has its terminator ahead, so two bytes are there.
  const std::string_view next = in.peek(2);
  if (next.size() < 2) ok = false;
  if (ok && next[0] != '\r' && next[1] != '\n') {
    ok = read_saved_record(in, item, api) && read_wide_sizes(in, item);
  }
  // Anything but the terminator here means the fields were not laid out as
  // ours are; the record is not trusted.
  if (ok) ok = in.skip(kItemListRecordEnd);
  if (!ok) {
    item.saved.reset();
    item.saved_wide = {};
    set_field(item.division_text, division_text);
    item.target_path = target_path;
  }
  return ok;
}

// A record without a frame at `at`: its end, or npos when it does not read.
std::size_t read_plain_record(std::string_view bytes, std::size_t at, ListItem& item,
                              const EngineApi& api) {
  Reader in(bytes.substr(at));
  if (!read_item_fields(in, item) || !read_record_tail(in, item, api))
    return std::string_view::npos;
  in.skip(kItemListRecordEnd);
  return at + in.position();
}

// A framed record at `at`: its end, or npos when its item fields do not
// check. `lost_record` is set when they do but the rest does not (or is cut
// off): the item is kept without its saved record.
std::size_t read_framed_record(std::string_view bytes, std::size_t at, ListItem& item,
                               const EngineApi& api, bool& lost_record) {
  lost_record = false;
  if (bytes.size() - at < kItemListFrameSize) return std::string_view::npos;
  const std::uint32_t length = load_le32(bytes.data() + at + 4);
  const std::uint32_t head_check = load_le32(bytes.data() + at + 8);
  const std::uint32_t rest_check = load_le32(bytes.data() + at + 12);
  const std::size_t left = bytes.size() - at - kItemListFrameSize;
  const bool whole = length <= left;
  const std::string_view body = bytes.substr(at + kItemListFrameSize, whole ? length : left);
  Reader in(body);
  if (!read_item_fields(in, item)) return std::string_view::npos;
  const std::string_view fields = body.substr(0, in.position());
  if (crc32(fields, crc32(bytes.substr(at + 4, 4))) != head_check) return std::string_view::npos;
  // The item fields and the length are what was written from here on. A
  // cut-off frame was the last one: the reading ends with it.
  const std::string_view rest = body.substr(fields.size());
  Reader tail(rest);
  if (whole && crc32(rest) == rest_check && read_record_tail(tail, item, api) && tail.at_end()) {
    return at + kItemListFrameSize + length;
  }
  item.saved.reset();
  item.saved_wide = {};
  lost_record = !whole || rest.size() > kItemListRecordEnd.size();
  return whole ? at + kItemListFrameSize + length : bytes.size();
}

std::size_t read_any_record(std::string_view bytes, std::size_t at, ListItem& item,
                            const EngineApi& api, bool& lost_record) {
  lost_record = false;
  if (bytes.substr(at, kItemListFrameMark.size()) == kItemListFrameMark) {
    return read_framed_record(bytes, at, item, api, lost_record);
  }
  return read_plain_record(bytes, at, item, api);
}

// Where a record may begin after `from`: a frame mark, or the start of a
// record without a frame (an integer field just after a terminator).
std::size_t next_record_start(std::string_view bytes, std::size_t from) {
  const std::string integer_length = le32_text(4);
  for (std::size_t at = from; at < bytes.size(); ++at) {
    if (bytes.substr(at, kItemListFrameMark.size()) == kItemListFrameMark) return at;
    if (at >= kItemListRecordEnd.size() &&
        bytes.substr(at - kItemListRecordEnd.size(), kItemListRecordEnd.size()) ==
            kItemListRecordEnd &&
        bytes.substr(at, 4) == integer_length) {
      return at;
    }
  }
  return bytes.size();
}

}  // namespace

std::string encode_stored_item_data(const ItemData& record) {
  std::string out(kStoredItemDataSize, '\0');
  const auto* native = reinterpret_cast<const char*>(&record);
  for (const StoredField& f : kStoredFields) {
    if (f.size == 4) {
      std::uint32_t v = 0;
      std::memcpy(&v, native + f.native, 4);
      store_le32(out.data() + f.stored, v);
    } else {
      std::memcpy(out.data() + f.stored, native + f.native, f.size);
    }
  }
  return out;
}

void decode_stored_item_data(std::string_view stored, ItemData& record) {
  if (stored.size() != kStoredItemDataSize) return;
  auto* native = reinterpret_cast<char*>(&record);
  for (const StoredField& f : kStoredFields) {
    if (f.size == 4) {
      const std::uint32_t v = load_le32(stored.data() + f.stored);
      std::memcpy(native + f.native, &v, 4);
    } else {
      std::memcpy(native + f.native, stored.data() + f.stored, f.size);
    }
  }
}

std::string encode_item_list(const ItemList& list, bool running_as_waiting,
                             std::span<const ProgressRecord> progress) {
  std::string out;
  std::string fields, rest;
  for (std::size_t k = 0; k < list.size(); ++k) {
    const ListItem& item = *list.at(static_cast<std::int64_t>(k));
    if (k == 0) out.append(kItemListHeader);
    std::int32_t state = item.state;
    if (running_as_waiting && state >= kInitialising && state <= kDownloading) state = kWaiting;
    fields.clear();
    put_integer(fields, state);
    put_field(fields, field_text(item.division_text));
    put_field(fields, field_text(item.save_folder));
    put_field(fields, field_text(item.url));
    put_integer(fields, item.url_jump);
    put_integer(fields, item.skip_count);
    put_field(fields, item.cookie_line);
    rest.clear();
    const bool running = k < progress.size() && progress[k].record != nullptr;
    const ItemData* saved = running ? progress[k].record : item.saved.get();
    const WideCopy* wide = running ? progress[k].wide : &item.saved_wide;
    // A record the reader would refuse is left out: only this item loses
    // its progress.
    if (saved != nullptr && storable(*saved, wide)) {
      put_saved_record(rest, *saved, wide, item.target_path);
    }
    rest.append(kItemListRecordEnd);
    const std::string length = le32_text(static_cast<std::uint32_t>(fields.size() + rest.size()));
    out.append(kItemListFrameMark);
    out.append(length);
    put_u32(out, crc32(fields, crc32(length)));
    put_u32(out, crc32(rest));
    out.append(fields);
    out.append(rest);
  }
  return out;
}

int decode_item_list(std::string_view bytes, ItemList& list, const EngineApi& api,
                     ItemListDamage* damage) {
  ItemListDamage found;
  // The header's text is not compared, so a file of an older version string
  // still reads; without the blank line there is no header: whatever is
  // there is searched for records.
  const std::size_t header_end = bytes.find(kItemListRecordEnd);
  std::size_t at =
      header_end == std::string_view::npos ? 0 : header_end + kItemListRecordEnd.size();
  if (header_end == std::string_view::npos && !bytes.empty()) {
    ++found.unreadable;
    at = next_record_start(bytes, 0);
  }
  bool in_damage = header_end == std::string_view::npos;
  while (at < bytes.size()) {
    ListItem item;
    bool lost_record = false;
    const std::size_t end = read_any_record(bytes, at, item, api, lost_record);
    if (end == std::string_view::npos) {
      // One damaged record per mark that does not check, and one for the
      // damage that starts anywhere else (a mark itself hit, or a record
      // without a frame): the reading goes on at the next record that reads.
      if (!in_damage || bytes.substr(at, kItemListFrameMark.size()) == kItemListFrameMark) {
        ++found.unreadable;
      }
      in_damage = true;
      at = next_record_start(bytes, at + 1);
      continue;
    }
    in_damage = false;
    if (lost_record) ++found.without_record;
    *list.at(static_cast<std::int64_t>(list.append(ItemList::Growth::kByOne))) = std::move(item);
    at = end;
  }
  if (damage != nullptr) *damage = found;
  return 0;
}

int read_item_list(const std::string& path, ItemList& list, const EngineApi& api,
                   ItemListDamage* damage) {
  std::string bytes;
  if (!platform::read_whole_file(path.c_str(), bytes)) return -1;
  return decode_item_list(bytes, list, api, damage);
}

std::string set_damaged_list_aside(const std::string& path, const LocalTime& now) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, ".damaged-%04u%02u%02u-%02u%02u%02u", now.year % 10000u,
                now.month % 100u, now.day % 100u, now.hour % 100u, now.minute % 100u,
                now.second % 100u);
  const std::string base = path + stamp;
  // Moved, not copied: the bytes stay exactly as they were, and the move
  // never replaces a file set aside before.
  for (int n = 1; n <= 100; ++n) {
    const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
    if (platform::move_no_replace(path.c_str(), name.c_str()) == 0) return name;
    if (platform::path_kind(name.c_str()) == 0) break;  // failed for another reason
  }
  return {};
}

int write_item_list(const std::string& path, const ItemList& list, bool running_as_waiting,
                    std::span<const ProgressRecord> progress, bool synced) {
  const std::string bytes = encode_item_list(list, running_as_waiting, progress);
  return platform::write_file_atomic(path.c_str(), bytes.data(), bytes.size(), synced);
}

}  // namespace torvane
