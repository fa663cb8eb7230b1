// Engine-internal state of one EngineContext: the lock that serialises slot
// hand-out and array moves, the arrays retired by resizes, the two threads
// with their wake events, the requests that other threads post to the
// download thread, and the exclusion that keeps the connection thread out of
// a slot while the download thread finishes it.
//
// The context's two thread-handle fields point at this object; it lives from
// torvane_init to torvane_end.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/http_message.h"
#include "engine/tls_connection.h"
#include "engine/wide_sizes.h"
#include "platform/splice_pipe.h"
#include "platform/wait_set.h"
#include "torvane/torvane.h"

namespace torvane::engine {

// Work that only the download thread may do to a running item, posted by
// other threads and carried out at the top of its next cycle.
struct SlotRequest {
  enum Kind { kReconnect, kResumeReset, kFinish } kind;
  int slot;
  int div;
  int count_retry;
};

// What the download thread learned from the answers to the item in one slot
// (engine-private). Forgotten when the item ends, so the next item in the
// slot starts from nothing.
struct SlotAnswers {
  // The version every answer must be of: set from the first answer that
  // names one, or replaced by a restart. Until then the client's If-Range
  // line (a resume) stands for it. The download thread writes it while the
  // connection thread is kept out of the slot; the connection thread reads
  // it inside the slot to send it as If-Range.
  bool validator_set = false;
  std::string validator;
  // Restarts from byte 0 because the file changed on the server.
  int restarts = 0;
  // A range inside the file was refused (416): its size has been asked
  // again once (`reprobed`), and until that answer comes, the size it was
  // refused within (download thread only).
  bool reprobed = false;
  std::uint64_t reprobe_size = 0;
  // Redirects followed in a row by each division since its last answer that
  // was not one (download thread only).
  std::vector<int> redirects;
  // Bytes of each division on disk when its current answer began (download
  // thread only): an answer that adds none has moved nothing.
  std::vector<std::uint64_t> answer_start;
  // Division 0 is receiving a chunked body (download thread only).
  bool chunked = false;
  ChunkDecoder chunks;
  // Whether the body bytes may go from the socket to the file in the
  // kernel: the file handle this was judged for (0: not yet) and the
  // verdict, false too once the file or a socket refused (download thread).
  std::intptr_t splice_judged = 0;
  bool splice_file = false;
};

// Division b's entry in one of SlotAnswers' per-division lists, which grow
// to the divisions that have answered.
template <class T>
T& division_entry(std::vector<T>& list, int b) {
  if (list.size() <= static_cast<std::size_t>(b)) list.resize(static_cast<std::size_t>(b) + 1, T{});
  return list[static_cast<std::size_t>(b)];
}

struct FreeDeleter {
  void operator()(void* p) const;
};

class EngineState {
 public:
  explicit EngineState(EngineContext* ctx) : ctx(ctx) {}
  // Frees the WideSizes arrays that slots still hold.
  ~EngineState();
  EngineState(const EngineState&) = delete;
  EngineState& operator=(const EngineState&) = delete;

  EngineContext* const ctx;
  // The engine lock of torvane.h: serialises dl_set, dl_start, dl_resume,
  // dl_stop, the array move of a resize and the release of a finished
  // record. Recursive: a notice raised inside dl_start may call the exports
  // again on the same thread.
  std::recursive_mutex mutex;
  // Slot arrays replaced by a resize, kept readable until torvane_end.
  struct Retired {
    std::unique_ptr<ItemData, FreeDeleter> items;
    int count;
  };
  std::vector<Retired> retired;
  // Slots stopped after dl_start but before their divisions were prepared
  // (under `mutex`): the connection thread drops them instead of preparing.
  std::vector<int> early_stops;

  platform::WakeEvent dl_wake;
  platform::WakeEvent conn_wake;
  std::thread dl_thread;
  std::thread conn_thread;
  std::atomic<std::uint32_t> dl_thread_id{0};
  // Reads that brought bytes during the download thread's current cycle
  // (download thread only): a cycle that moved data skips its pause, since
  // more data is almost always waiting.
  std::uint64_t reads_this_cycle = 0;
  // Where body bytes pass on their way to the file (download thread only):
  // the pipe for plain connections, and for TLS (or a file that takes no
  // pipe) a block that each read empties into the file before the next, so
  // neither holds a division's bytes between its reads. The block is made
  // on first use.
  platform::SplicePipe splice_pipe;
  std::unique_ptr<char[]> bulk_block;
  // The TLS client context, made by the connection thread for the first
  // https:// connection and shared by all of them.
  struct TlsContextDeleter {
    void operator()(TlsContext* context) const { free_tls_context(context); }
  };
  std::unique_ptr<TlsContext, TlsContextDeleter> tls;

  void post(const SlotRequest& request);
  // Takes every posted request (download thread).
  std::deque<SlotRequest> take_requests();

  // A reconnect of a division that is still connecting (status 0 with a
  // socket): that socket is the connection thread's, so the download thread
  // hands the reconnect on and the connection thread closes it. Posted by
  // the download thread; taken, for one slot, by the connection thread
  // while it is inside that slot; dropped when the slot's item ends.
  void post_connect_drop(const SlotRequest& request);
  std::vector<SlotRequest> take_connect_drops(int slot);

  // Slot exclusion between the two threads: the connection thread announces
  // the slot it works on, the download thread announces the slot it is about
  // to finish or change behind the connection thread's back. Each checks the
  // other's announcement after publishing its own (sequentially consistent),
  // so at most one of them proceeds.
  // The download thread's side is ConnExclusion below.
  bool conn_enter(int slot);  // false: the slot is being finished, skip it
  void conn_leave() { conn_slot_.store(-1, std::memory_order_seq_cst); }

  void wake_all() {
    dl_wake.signal();
    conn_wake.signal();
  }

  bool on_download_thread() const;

  // The slot's answer state; the record stays where it is while the engine
  // lives. Any thread; see SlotAnswers for who touches which field when.
  SlotAnswers& answers(int slot) {
    std::lock_guard<std::mutex> lock(answers_mutex_);
    if (answers_.size() <= static_cast<std::size_t>(slot))
      answers_.resize(static_cast<std::size_t>(slot) + 1);
    return answers_[static_cast<std::size_t>(slot)];
  }
  // Called when the slot's item ends (by the thread that ends it). A
  // reconnect still waiting for the connection thread was meant for this
  // item, not for the next one in the slot.
  void forget_answers(int slot) {
    answers(slot) = SlotAnswers{};
    forget_connect_drops(slot);
  }

  // The slot's WideSizes (dl_wide): a block of its own that never moves, so
  // its address outlives every resize of the slot table. Any thread.
  WideSizes& wide(int slot);
  ItemSizes sizes(int slot, ItemData& item) { return ItemSizes(item, wide(slot)); }

 private:
  std::mutex wide_mutex_;
  std::deque<WideSizes> wide_;  // grows at its end only: no element moves
  std::mutex answers_mutex_;
  std::deque<SlotAnswers> answers_;
  friend class ConnExclusion;
  std::mutex requests_mutex_;
  std::deque<SlotRequest> requests_;
  std::vector<SlotRequest> connect_drops_;  // under requests_mutex_
  void forget_connect_drops(int slot);
  std::atomic<int> conn_slot_{-1};
  std::atomic<int> dl_slot_{-1};
};

// Keeps the connection thread out of `slot` for the guard's lifetime
// (download thread only). Waits while the connection thread is inside the
// slot, which is short: there it only probes and sends. Guards nest.
class ConnExclusion {
 public:
  ConnExclusion(EngineState& engine, int slot);
  ~ConnExclusion() { engine_.dl_slot_.store(previous_, std::memory_order_seq_cst); }
  ConnExclusion(const ConnExclusion&) = delete;
  ConnExclusion& operator=(const ConnExclusion&) = delete;

 private:
  EngineState& engine_;
  int previous_;
};

// The state behind a context, or null when torvane_init did not start one.
EngineState* state_of(const EngineContext* ctx);

// The live slot record; the array pointer is read with acquire.
ItemData* slot_at(EngineContext* ctx, int slot);
int slot_count_of(EngineContext* ctx);

// Raises a notice. A null callback counts as result 0.
int notify(EngineContext* ctx, int code, int slot, int div, void* data);
// Raises 101-104 with a fresh NUL-terminated copy of `len` bytes of `text`,
// freed when the callback returns.
void notify_text(EngineContext* ctx, int code, int slot, int div, const char* text,
                 std::size_t len);
// Raises 401 with `text`, or prints it to standard error without a callback.
void notify_message(EngineContext* ctx, int slot, const std::string& text);

}  // namespace torvane::engine
