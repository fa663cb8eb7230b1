#include "core/system/engine_binding.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/process.h"
#include "torvane/shared_access.hpp"

namespace torvane {

namespace {

// Live contexts and the clients they serve. Notices carry only the context,
// and more than one binding may live in a process (tests run several).
std::mutex g_registry_mutex;
std::vector<std::pair<const EngineContext*, void*>> g_registry;

void register_context(const EngineContext* context, void* client) {
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  g_registry.emplace_back(context, client);
}

void unregister_context(const EngineContext* context) {
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  std::erase_if(g_registry, [&](const auto& entry) { return entry.first == context; });
}

template <class F>
void look_up(void* library, const char* name, F& slot) {
  slot = reinterpret_cast<F>(platform::library_symbol(library, name));
}

}  // namespace

bool EngineApi::complete() const {
  return torvane_init && torvane_end && dl_set && dl_start && dl_resume && dl_stop &&
         dl_reconnect && dl_wide && DiskIO_OpenFile && DiskIO_CloseHandle && DiskIO_CheckFile &&
         DiskIO_MakeFileName && copy_itemdata && free_itemdata && GetMem && FreeMem;
}

int bind_engine_library(const std::vector<std::string>& candidates, EngineApi& api, void*& handle) {
  for (const std::string& candidate : candidates) {
    void* library = platform::library_open(candidate.c_str());
    if (library == nullptr) continue;
    EngineApi found;
    // In the order of the binding table.
    look_up(library, "torvane_init", found.torvane_init);
    look_up(library, "torvane_end", found.torvane_end);
    look_up(library, "dl_set", found.dl_set);
    look_up(library, "dl_start", found.dl_start);
    look_up(library, "dl_resume", found.dl_resume);
    look_up(library, "dl_stop", found.dl_stop);
    look_up(library, "dl_reconnect", found.dl_reconnect);
    look_up(library, "dl_wide", found.dl_wide);
    look_up(library, "DiskIO_OpenFile", found.DiskIO_OpenFile);
    look_up(library, "DiskIO_CloseHandle", found.DiskIO_CloseHandle);
    look_up(library, "DiskIO_CheckFile", found.DiskIO_CheckFile);
    look_up(library, "DiskIO_MakeFileName", found.DiskIO_MakeFileName);
    look_up(library, "copy_itemdata", found.copy_itemdata);
    look_up(library, "free_itemdata", found.free_itemdata);
    look_up(library, "GetMem", found.GetMem);
    look_up(library, "FreeMem", found.FreeMem);
    // A library without one of the exports would crash at its first use;
    // it is treated like a missing library instead.
    if (!found.complete()) {
      platform::library_close(library);
      continue;
    }
    api = found;
    handle = library;
    return 0;
  }
  return -1;
}

std::vector<std::string> engine_library_candidates(const std::string& program_folder) {
  std::vector<std::string> candidates;
  auto add_folder = [&](std::string folder) {
    if (folder.empty()) return;
    if (folder.back() != '/') folder += '/';
    std::string path = folder + kEngineLibraryName;
    if (std::find(candidates.begin(), candidates.end(), path) == candidates.end()) {
      candidates.push_back(std::move(path));
    }
  };
  add_folder(program_folder);
  const std::string exe = platform::program_file_path();
  const std::string exe_folder = exe.substr(0, exe.rfind('/') + 1);
  add_folder(exe_folder);
  // Installed, the program is in bin/ and the engine in lib/torvane/.
  if (!exe_folder.empty()) add_folder(exe_folder + "../lib/torvane/");
  candidates.emplace_back(kEngineLibraryName);
  return candidates;
}

void SavedRecordDeleter::operator()(ItemData* record) const {
  if (record == nullptr || api == nullptr) return;
  api->free_itemdata(record);
  api->FreeMem(&record);
}

EngineBinding::~EngineBinding() {
  end();
}

int EngineBinding::bind(const std::vector<std::string>& candidates, TorvaneCallback handler,
                        int limit, int wait_ms) {
  if (library_ != nullptr) return -1;
  if (bind_engine_library(candidates, api_, library_) != 0) return -1;
  context_ = EngineContext{};
  context_.max_items = limit;
  context_.wait_ms = wait_ms;
  if (handler != nullptr) context_.callback = handler;
  register_context(&context_, client_);
  if (api_.torvane_init(&context_, 0) != 1) {
    unregister_context(&context_);
    platform::library_close(library_);
    library_ = nullptr;
    api_ = EngineApi{};
    return -1;
  }
  started_.store(true, std::memory_order_release);
  return 0;
}

int EngineBinding::end_engine() {
  if (!bound()) return -1;
  const int result = api_.torvane_end(&context_) != 0 ? 0 : -1;
  // Only now: until torvane_end returns, the engine threads may still raise
  // notices whose handlers look slots up and give back their strings.
  started_.store(false, std::memory_order_release);
  return result;
}

void EngineBinding::unload() {
  if (library_ == nullptr) return;
  end_engine();
  unregister_context(&context_);
  platform::library_close(library_);
  library_ = nullptr;
}

int EngineBinding::set() {
  return bound() ? api_.dl_set(&context_) : -1;
}

int EngineBinding::start(int slot) {
  if (!bound() || slot < 0) return -1;
  return api_.dl_start(&context_, slot);
}

int EngineBinding::resume(int slot, int div) {
  if (!bound() || slot < 0 || div < -1) return -1;
  return api_.dl_resume(&context_, slot, div);
}

int EngineBinding::stop(int slot, int div) {
  ItemData* record = this->slot(slot);
  return record != nullptr ? api_.dl_stop(record, div) : -1;
}

int EngineBinding::reconnect(int slot, int div, int count_retry) {
  if (!bound() || slot < 0) return -1;
  return api_.dl_reconnect(&context_, slot, div, count_retry);
}

WideSizes* EngineBinding::wide(int slot) {
  if (!bound() || slot < 0) return nullptr;
  return api_.dl_wide(&context_, slot);
}

ItemData* EngineBinding::slot(int index) {
  if (!bound() || index < 0) return nullptr;
  // The count first: the array a resize publishes is never shorter.
  const int count = load_acquire(context_.slot_count);
  ItemData* items = load_acquire(context_.items);
  if (items == nullptr || index >= count) return nullptr;
  return &items[index];
}

void* EngineBinding::client_of(const EngineContext* context) {
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  for (const auto& [ctx, client] : g_registry) {
    if (ctx == context) return client;
  }
  return nullptr;
}

}  // namespace torvane
