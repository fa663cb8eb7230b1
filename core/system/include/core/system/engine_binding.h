// The engine bound at run time: libtorvane.so loaded by name, its sixteen
// exports looked up in their table order, and the one EngineContext the
// program owns for the whole run. Everything the core asks of the engine goes
// through the entry points held here.
//
// Thread rules: the wrappers may be called from any thread, also from inside
// a notice (the engine serialises them itself). The core calls them with its
// own lock held, which the engine's lock order allows ("client, then engine").
// `end` must be called without the core lock: it joins the engine threads,
// whose notices may be waiting for that lock.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "torvane/torvane.h"

namespace torvane {

// The sixteen entry points, named as the library exports them.
struct EngineApi {
  int (*torvane_init)(EngineContext*, int) = nullptr;
  int (*torvane_end)(EngineContext*) = nullptr;
  int (*dl_set)(EngineContext*) = nullptr;
  int (*dl_start)(EngineContext*, int) = nullptr;
  int (*dl_resume)(EngineContext*, int, int) = nullptr;
  int (*dl_stop)(ItemData*, int) = nullptr;
  int (*dl_reconnect)(EngineContext*, int, int, int) = nullptr;
  WideSizes* (*dl_wide)(EngineContext*, int) = nullptr;
  int (*DiskIO_OpenFile)(DiskIO*, const char*) = nullptr;
  int (*DiskIO_CloseHandle)(DiskIO*) = nullptr;
  int (*DiskIO_CheckFile)(const char*) = nullptr;
  int (*DiskIO_MakeFileName)(const char*, const char*, char*) = nullptr;
  ItemData* (*copy_itemdata)(ItemData*, const ItemData*) = nullptr;
  int (*free_itemdata)(ItemData*) = nullptr;
  void* (*GetMem)(unsigned) = nullptr;
  void (*FreeMem)(void*) = nullptr;

  // True when every entry point was found.
  bool complete() const;
};

// The library file name the program looks for.
inline constexpr const char* kEngineLibraryName = "libtorvane.so";

// Looks `library` up and fills `api`; the library handle goes to `handle`.
// Each candidate is tried in order (a path with '/' is opened as is, a bare
// name through the loader's search). 0 when a candidate loaded and every
// export was found, else -1 with nothing kept loaded.
int bind_engine_library(const std::vector<std::string>& candidates, EngineApi& api, void*& handle);

// Where the program looks for the engine: the program folder first, then the
// folder of the running program file and its ../lib/torvane/ (the installed
// layout), then the loader's own search.
std::vector<std::string> engine_library_candidates(const std::string& program_folder);

// Frees a record that the engine's heap holds (a saved ItemData): its
// strings and arrays through free_itemdata, then the record through FreeMem.
struct SavedRecordDeleter {
  const EngineApi* api = nullptr;
  void operator()(ItemData* record) const;
};

class EngineBinding {
 public:
  EngineBinding() = default;
  ~EngineBinding();
  EngineBinding(const EngineBinding&) = delete;
  EngineBinding& operator=(const EngineBinding&) = delete;

  // Loads the library from the candidates, zeroes the context, stores the
  // limit, the thread pause and the handler, and calls torvane_init. 0 when
  // it returned 1, else -1 (a loaded library is ended and unloaded again).
  int bind(const std::vector<std::string>& candidates, TorvaneCallback handler, int limit,
           int wait_ms);
  // Any thread: notices on the engine's threads ask it while the ending runs.
  bool bound() const { return started_.load(std::memory_order_acquire); }

  // torvane_end, then unload. 0 for a clean end, -1 otherwise (also when
  // nothing was bound).
  int end() {
    const int result = end_engine();
    unload();
    return result;
  }
  // The two halves, for a client that frees engine-heap records in between
  // (after the threads are gone, before the heap's code is unloaded).
  // end_engine: the slots stay readable through slot() until torvane_end
  // has returned, since the engine threads raise notices until then.
  int end_engine();
  void unload();

  const EngineApi& api() const { return api_; }
  EngineContext& context() { return context_; }

  // The wrappers. start/resume refuse a negative slot (and resume a division
  // below -1) without calling the engine.
  int set();
  int start(int slot);
  int resume(int slot, int div);
  int stop(int slot, int div);
  int reconnect(int slot, int div, int count_retry);

  // The WideSizes of `slot` (the whole sizes beside its record), or nullptr
  // outside the slot array.
  WideSizes* wide(int slot);

  // The live slot record, or nullptr outside the slot array.
  ItemData* slot(int index);

  // The object a notice handler serves: set before bind, looked up by the
  // context the engine passes. nullptr for a context no binding owns.
  void set_client(void* client) { client_ = client; }
  static void* client_of(const EngineContext* context);

 private:
  EngineApi api_{};
  void* library_ = nullptr;
  EngineContext context_{};
  // Read by notices on the engine's threads (slot()) while the thread that
  // ends the engine clears it.
  std::atomic<bool> started_{false};
  void* client_ = nullptr;
};

}  // namespace torvane
